using System;
using System.Diagnostics;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>
    /// Fills one array of whole scans from a stream with as many reads of the
    /// library as it takes, until the array is full, the time is up or the
    /// stream has ended. The library never hands out scans across a gap in one
    /// read, but a later read may start after one: those scans are kept apart
    /// (AfterGap), so that every block handed out is one stretch of scans.
    /// </summary>
    internal sealed class BlockReader
    {
        private readonly IntPtr stream;
        private readonly ushort[,] samples;
        private readonly int timeoutMs;
        private readonly int channels;

        public BlockReader(IntPtr stream, ushort[,] samples, int timeoutMs)
        {
            this.stream = stream;
            this.samples = samples;
            this.timeoutMs = timeoutMs;
            channels = samples.GetLength(1);
        }

        public int Filled { get; private set; }
        public StreamBlock Where { get; private set; }
        public bool Ended { get; private set; }
        public ScanBlock AfterGap { get; private set; }

        public void Fill()
        {
            int wanted = samples.GetLength(0);
            Stopwatch clock = Stopwatch.StartNew();
            GCHandle pinned = GCHandle.Alloc(samples, GCHandleType.Pinned);
            try
            {
                IntPtr start = pinned.AddrOfPinnedObject();
                do
                {
                    int wait = Remaining(clock);
                    StreamBlock piece;
                    IntPtr into = start + Filled * channels * sizeof(ushort);
                    long got = StreamNativeMethods.KVD4093_ReadStream(stream, into, (uint)(wanted - Filled), wait, out piece);
                    if (got < 0)
                        Ended = true;
                    if (got <= 0)
                        break;
                    if (Filled > 0 && piece.ScansLostBefore > 0)
                    {
                        AfterGap = new ScanBlock(Piece(Filled, (int)got), piece);
                        break;
                    }
                    if (Filled == 0)
                        Where = piece;
                    Filled += (int)got;
                } while (Filled < wanted && Remaining(clock) != 0);
            }
            finally
            {
                pinned.Free();
            }
        }

        // Milliseconds left to wait: -1 for no limit, 0 once the time is up.
        private int Remaining(Stopwatch clock)
        {
            if (timeoutMs < 0)
                return -1;
            return (int)Math.Max(0, timeoutMs - clock.ElapsedMilliseconds);
        }

        private ushort[,] Piece(int firstRow, int rows)
        {
            var piece = new ushort[rows, channels];
            int rowBytes = channels * sizeof(ushort);
            Buffer.BlockCopy(samples, firstRow * rowBytes, piece, 0, rows * rowBytes);
            return piece;
        }
    }
}
