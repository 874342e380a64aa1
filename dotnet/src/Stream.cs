using System;
using System.Linq;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using System.Text;

namespace Kvd4093
{
    /// <summary>
    /// A running acquisition read by the stream library on a thread of its own
    /// into a bounded buffer of whole scans; Read takes them. Made by
    /// Card.Start, or CardGroup.Start for cards on one clock. Dispose (or Stop)
    /// stops the cards; Dispose also frees the stream. Read is for one thread at a time (any thread); Stop and the
    /// status properties may come from any thread, also while Read waits.
    /// DataAvailable handlers run on the stream's reader thread.
    /// </summary>
    public sealed class Stream : IDisposable
    {
        private IntPtr native;
        private readonly StreamNativeMethods.Callback callback;
        // Roots the callback from the open to the close: the library calls it for as long as the
        // stream exists, whatever becomes of this object meanwhile.
        private GCHandle callbackRoot;
        private readonly StreamBufferShape shape;
        private ScanBlock pending; // scans read after a gap, handed out by the next Read
        private int pendingTaken;
        private ExceptionDispatchInfo handlerFailure;

        [ThreadStatic]
        private static Stream calledBack;

        /// <summary>Opens the library's stream with the configuration it is handed.</summary>
        internal delegate IntPtr Opening(ref StreamConfig config);

        internal Stream(IntPtr device, StreamConfig config)
            : this((ref StreamConfig c) => StreamNativeMethods.KVD4093_OpenStreamOnDevice(device, ref c),
                   "KVD4093_OpenStreamOnDevice", config)
        {
        }

        /// <summary>A stream that open opens, function naming it in a failure.</summary>
        internal Stream(Opening open, string function, StreamConfig config)
        {
            callback = OnScansRead;
            callbackRoot = GCHandle.Alloc(callback);
            config.Callback = Marshal.GetFunctionPointerForDelegate(callback);
            native = open(ref config);
            if (native == IntPtr.Zero)
            {
                callbackRoot.Free();
                throw Failure(IntPtr.Zero, function);
            }
            Channels = StreamNativeMethods.KVD4093_GetStreamChannels(native);
            StreamNativeMethods.KVD4093_GetStreamBuffer(native, out shape);
            if (StreamNativeMethods.KVD4093_StartStream(native) == 0)
            {
                Kvd4093Exception failure = Failure(native, "KVD4093_StartStream");
                Dispose();
                throw failure;
            }
        }

        /// <summary>Raised on the reader thread with every eventScans scans read (those before a
        /// gap and at the end may be fewer), before Read takes them. A handler must be quick; an
        /// exception it throws stops the stream and comes out of Read once the scans are taken.</summary>
        public event EventHandler<DataAvailableEventArgs> DataAvailable;

        /// <summary>Columns of a scan: the channels, times the cards of a group.</summary>
        public int Channels { get; private set; }

        /// <summary>The stream's cards in the order of their columns, the card driving the clock first.</summary>
        public CardId[] Cards
        {
            get
            {
                int count = StreamNativeMethods.KVD4093_GetStreamCards(OpenStream(), null, 0);
                var cards = new StreamCard[count];
                StreamNativeMethods.KVD4093_GetStreamCards(native, cards, count);
                return cards.Select(card => new CardId(card)).ToArray();
            }
        }

        /// <summary>Scans a second as the card runs.</summary>
        public double ScanRate { get { return shape.ScanRate; } }

        /// <summary>Scans the stream reads from the card at a time: a good size for Read.</summary>
        public int BlockScans { get { return (int)shape.BlockScans; } }

        /// <summary>The stream library's stream, for StreamNativeMethods; IntPtr.Zero once disposed.</summary>
        public IntPtr NativeStream { get { return native; } }

        /// <summary>How long of scans the buffer holds, in seconds.</summary>
        public double BufferSeconds { get { return shape.Seconds; } }

        /// <summary>Scans the card's clock owes the reads now: what waits in the card's own memory.</summary>
        public long Backlog { get { return Status().Backlog; } }

        /// <summary>Scans dropped because the buffer was full (OnOverrun.Continue).</summary>
        public long Lost { get { return Status().ScansLost; } }

        /// <summary>True while the reader reads the card.</summary>
        public bool IsRunning { get { return Status().Running != 0; } }

        public bool IsDisposed { get { return native == IntPtr.Zero; } }

        /// <summary>The library's state of the stream now.</summary>
        public StreamStatus Status()
        {
            StreamStatus status;
            if (StreamNativeMethods.KVD4093_GetStreamStatus(OpenStream(), out status) == 0)
                throw Failure(native, "KVD4093_GetStreamStatus");
            return status;
        }

        /// <summary>
        /// The next scans scans, waiting up to timeoutMs milliseconds (-1: no limit) for them.
        /// Fewer come back when the time passes, before a gap, and at the end; null once the
        /// stream has ended and every scan was taken. Throws OverrunException at the end of a
        /// stream that a full buffer ended, and Kvd4093Exception at the end of one that failed.
        /// </summary>
        public ScanBlock Read(int scans, int timeoutMs = -1)
        {
            if (scans < 0)
                throw new ArgumentOutOfRangeException("scans", scans, "scans are 0 or more");
            ScanBlock block = Read(new ushort[scans, OpenChannels()], timeoutMs);
            return block == null || block.Scans == scans ? block : Trimmed(block);
        }

        /// <summary>The same into the caller's array of [scans, Channels], which the block's
        /// Samples then is: no array is made per read. Its first block.Scans rows are the block.</summary>
        public ScanBlock Read(ushort[,] samples, int timeoutMs = -1)
        {
            if (samples == null)
                throw new ArgumentNullException("samples");
            if (samples.GetLength(1) != OpenChannels())
                throw new ArgumentException(string.Format("the array needs {0} columns, one a channel", Channels), "samples");
            if (pending != null)
                return TakePending(samples);
            var reader = new BlockReader(native, samples, timeoutMs);
            reader.Fill();
            if (reader.AfterGap != null)
            {
                pending = reader.AfterGap;
                pendingTaken = 0;
            }
            if (reader.Ended && reader.Filled == 0)
            {
                ThrowWhyEnded();
                return null;
            }
            return new ScanBlock(samples, reader.Filled, reader.Where);
        }

        /// <summary>Stops the card and the reader; the scans read before stay readable. Any
        /// thread, any number of times, also from a DataAvailable handler.</summary>
        public void Stop()
        {
            if (StreamNativeMethods.KVD4093_StopStream(OpenStream()) == 0)
                throw Failure(native, "KVD4093_StopStream");
        }

        /// <summary>Stops the card, whatever happens, and frees the stream. From a DataAvailable
        /// handler it only stops: the library frees a stream on another thread, and Card.Dispose
        /// or a later Dispose does.</summary>
        public void Dispose()
        {
            if (native == IntPtr.Zero)
                return;
            StreamNativeMethods.KVD4093_StopStream(native);
            if (calledBack == this)
                return;
            StreamNativeMethods.KVD4093_CloseStream(native);
            native = IntPtr.Zero;
            callbackRoot.Free();
        }

        private ScanBlock TakePending(ushort[,] samples)
        {
            int count = Math.Min(samples.GetLength(0), pending.Scans - pendingTaken);
            int rowBytes = Channels * sizeof(ushort);
            Buffer.BlockCopy(pending.Samples, pendingTaken * rowBytes, samples, 0, count * rowBytes);
            var where = new StreamBlock
            {
                FirstScan = pending.FirstScan + pendingTaken,
                ScansLostBefore = pendingTaken == 0 ? pending.ScansLostBefore : 0,
                GapCause = pendingTaken == 0 ? (int)pending.GapCause : 0,
            };
            pendingTaken += count;
            if (pendingTaken == pending.Scans)
                pending = null;
            return new ScanBlock(samples, count, where);
        }

        private void ThrowWhyEnded()
        {
            if (handlerFailure != null)
                handlerFailure.Throw();
            StreamStatus status = Status();
            if (status.Overrun != 0)
                throw new OverrunException(status.ScansRead);
            if (status.Failed != 0)
                throw Failure(native, "KVD4093_ReadStream");
        }

        private ScanBlock Trimmed(ScanBlock block)
        {
            var samples = new ushort[block.Scans, Channels];
            Buffer.BlockCopy(block.Samples, 0, samples, 0, block.Scans * Channels * sizeof(ushort));
            var where = new StreamBlock { FirstScan = block.FirstScan, ScansLostBefore = block.ScansLostBefore,
                                          GapCause = (int)block.GapCause };
            return new ScanBlock(samples, where);
        }

        private void OnScansRead(IntPtr stream, IntPtr samples, uint scans, ref StreamBlock where, IntPtr context)
        {
            EventHandler<DataAvailableEventArgs> handler = DataAvailable;
            if (handler == null || handlerFailure != null)
                return;
            // Nothing may leave a callback the library made: a handler's exception is kept for Read.
            calledBack = this;
            try
            {
                var copy = new ushort[scans, Channels];
                CopyScans(samples, copy);
                handler(this, new DataAvailableEventArgs(new ScanBlock(copy, where)));
            }
            catch (Exception failure)
            {
                handlerFailure = ExceptionDispatchInfo.Capture(failure);
                StreamNativeMethods.KVD4093_StopStream(stream);
            }
            finally
            {
                calledBack = null;
            }
        }

        private static unsafe void CopyScans(IntPtr from, ushort[,] to)
        {
            if (to.Length == 0)
                return;
            long bytes = to.Length * (long)sizeof(ushort);
            fixed (ushort* first = &to[0, 0])
                Buffer.MemoryCopy(from.ToPointer(), first, bytes, bytes);
        }

        private int OpenChannels()
        {
            OpenStream();
            return Channels;
        }

        private IntPtr OpenStream()
        {
            if (native == IntPtr.Zero)
                throw new ObjectDisposedException("Stream");
            return native;
        }

        private static Kvd4093Exception Failure(IntPtr stream, string function)
        {
            IntPtr text = StreamNativeMethods.KVD4093_GetStreamError(stream);
            string message = Utf8(text);
            return ErrorLog.Unlogged(function, message.Length > 0 ? message : function + " failed");
        }

        private static string Utf8(IntPtr text)
        {
            if (text == IntPtr.Zero)
                return "";
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0)
                length++;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }
    }
}
