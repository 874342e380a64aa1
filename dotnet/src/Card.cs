using System;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>
    /// An open card: settings, acquisition, digital and analog I/O, its IDs.
    /// Dispose releases it, after stopping an acquisition or stream still
    /// running. A Card is for one thread at a time.
    /// </summary>
    public sealed class Card : IDisposable
    {
        public const int DigitalLines = 16;
        public const int DAChannels = 8;
        public const int LargestDAValue = 0x0FFF;
        public const int LargestTriggerLevel = 10000;
        public const int HighestChannel = 255;
        public const int FastestRate = 10000000;

        private IntPtr handle;
        private Stream stream;
        private int? digitalOutputs;
        private int? triggerLevel;

        private Card(IntPtr handle)
        {
            this.handle = handle;
            int logical, physical;
            if (NativeMethods.KVD4093_GetDeviceCurrentID(handle, out logical, out physical) != 0)
            {
                Number = logical;
                PhysicalId = physical;
            }
            uint firmware, driver;
            if (NativeMethods.KVD4093_GetDevVersion(handle, out firmware, out driver) != 0)
                Version = VersionText(firmware);
        }

        /// <summary>Opens the card of logical number (its place in the order of plugging in).</summary>
        public static Card Open(int number)
        {
            if (number < 0)
                throw new ArgumentOutOfRangeException("number", number, "a logical number is 0 or more");
            IntPtr handle = NativeMethods.KVD4093_CreateDevice(number);
            if (handle == NativeMethods.InvalidHandle)
                throw ErrorLog.Failure("KVD4093_CreateDevice");
            if (handle == IntPtr.Zero) // the card did not take its open packet, logged under that packet's name
                throw ErrorLog.Failure("KVD4093_CreateDevice", "KVD4093_WriteDeviceDA");
            return new Card(handle);
        }

        /// <summary>Opens the card of physical ID physicalId (the identifier set on the card).</summary>
        public static Card OpenById(int physicalId)
        {
            IntPtr handle = NativeMethods.KVD4093_CreateDeviceEx(physicalId);
            if (handle == NativeMethods.InvalidHandle || handle == IntPtr.Zero)
                throw ErrorLog.Failure("KVD4093_CreateDeviceEx");
            return new Card(handle);
        }

        /// <summary>The logical number; -1 when the card did not answer.</summary>
        public int Number { get; private set; } = -1;

        /// <summary>The physical ID; -1 when the card did not answer.</summary>
        public int PhysicalId { get; private set; } = -1;

        /// <summary>The firmware version as "major.minor.patch"; null when the card did not answer.</summary>
        public string Version { get; private set; }

        /// <summary>The library's handle of the card, for NativeMethods; IntPtr.Zero once disposed.</summary>
        public IntPtr Handle { get { return handle; } }

        public bool IsDisposed { get { return handle == IntPtr.Zero; } }

        // ---- settings ----

        /// <summary>The card's saved AD settings (the defaults where none are saved).</summary>
        public ADSettings LoadSettings()
        {
            ADPara record;
            if (NativeMethods.KVD4093_LoadParaAD(OpenHandle(), out record) == 0)
                throw ErrorLog.Failure("KVD4093_LoadParaAD");
            return new ADSettings(record);
        }

        public void SaveSettings(ADSettings settings)
        {
            if (settings == null)
                throw new ArgumentNullException("settings");
            ADPara record = settings.ToRecord();
            if (NativeMethods.KVD4093_SaveParaAD(OpenHandle(), ref record) == 0)
                throw ErrorLog.Failure("KVD4093_SaveParaAD");
        }

        /// <summary>Deletes the card's saved AD settings and returns the defaults.</summary>
        public ADSettings ResetSettings()
        {
            ADPara record;
            if (NativeMethods.KVD4093_ResetParaAD(OpenHandle(), out record) == 0)
                throw ErrorLog.Failure("KVD4093_ResetParaAD");
            return new ADSettings(record);
        }

        // ---- acquisition ----

        /// <summary>Acquires scans whole scans of channels firstChannel to lastChannel at scanRate
        /// scans a second, the other fields from the saved settings: row k is scan k, column j
        /// channel firstChannel + j, in offset binary (32768 is zero).</summary>
        public ushort[,] Acquire(int scans, int firstChannel, int lastChannel, int scanRate)
        {
            return Acquire(scans, WithScans(firstChannel, lastChannel, scanRate));
        }

        /// <summary>Acquires scans whole scans of the saved settings' channels and rate.</summary>
        public ushort[,] Acquire(int scans)
        {
            return Acquire(scans, LoadSettings());
        }

        /// <summary>Acquires scans whole scans set up by settings; the card is stopped before this
        /// returns, also when it throws.</summary>
        public ushort[,] Acquire(int scans, ADSettings settings)
        {
            if (settings == null)
                throw new ArgumentNullException("settings");
            if (scans < 0)
                throw new ArgumentOutOfRangeException("scans", scans, "scans are 0 or more");
            CheckScan(settings.FirstChannel, settings.LastChannel, settings.Frequency);
            var data = new ushort[scans, settings.Channels];
            if (scans > 0)
                new Acquisition(OpenHandle(), settings).Fill(data);
            return data;
        }

        /// <summary>
        /// Starts a stream: the stream library reads the card on a thread of its own into a
        /// buffer of bufferSeconds of whole scans, from which Stream.Read takes them. A full
        /// buffer ends the stream (OnOverrun.Stop: Read throws OverrunException once the scans
        /// before are taken) or drops whole blocks and counts them (OnOverrun.Continue).
        /// eventScans: how many scans each DataAvailable event carries (0: about 100 ms of them).
        /// reconnectSeconds: a card pulled out is waited for that long (PositiveInfinity: no
        /// limit), opened again and started again; the scans its clock gave meanwhile are a gap
        /// whose ScanBlock.GapCause is GapCause.Disconnected. 0: the stream ends at an unplug.
        /// The other fields of the record are the saved settings'.
        /// </summary>
        public Stream Start(int firstChannel, int lastChannel, double scanRate, double bufferSeconds = 2,
                            OnOverrun onOverrun = OnOverrun.Stop, int eventScans = 0, double reconnectSeconds = 0)
        {
            StreamConfig config = StreamSettings(firstChannel, lastChannel, scanRate, bufferSeconds, onOverrun, eventScans, reconnectSeconds);
            RefuseSecondStream();
            stream = new Stream(OpenHandle(), config);
            return stream;
        }

        /// <summary>The configuration of Start's arguments, checked: of one card or of a group.</summary>
        internal static StreamConfig StreamSettings(int firstChannel, int lastChannel, double scanRate, double bufferSeconds,
                                                    OnOverrun onOverrun, int eventScans, double reconnectSeconds)
        {
            if (!(reconnectSeconds >= 0))
                throw new ArgumentOutOfRangeException("reconnectSeconds", reconnectSeconds, "0 (none) or more seconds");
            CheckScan(firstChannel, lastChannel, scanRate * (lastChannel - firstChannel + 1));
            if (!(bufferSeconds > 0))
                throw new ArgumentOutOfRangeException("bufferSeconds", bufferSeconds, "the buffer holds more than 0 s");
            if (eventScans < 0)
                throw new ArgumentOutOfRangeException("eventScans", eventScans, "0 or more");
            return new StreamConfig
            {
                FirstChannel = firstChannel,
                LastChannel = lastChannel,
                ScanRate = scanRate,
                BufferSeconds = bufferSeconds,
                OnOverrun = onOverrun == OnOverrun.Continue ? StreamNativeMethods.Continue : StreamNativeMethods.Stop,
                CallbackScans = (uint)eventScans,
                ReconnectSeconds = double.IsPositiveInfinity(reconnectSeconds) ? -1f : (float)reconnectSeconds,
            };
        }

        /// <summary>Throws while a stream of this card, alone or in a group, is open.</summary>
        internal void RefuseSecondStream()
        {
            OpenHandle();
            if (stream != null && !stream.IsDisposed)
                throw new InvalidOperationException("a stream already runs on this card: dispose it first");
        }

        /// <summary>The group's stream, which Dispose stops and closes as it does the card's own.</summary>
        internal void Attach(Stream group)
        {
            stream = group;
        }

        // ---- digital and analog I/O ----

        /// <summary>The 16 digital inputs, bit n = input n.</summary>
        public int DI
        {
            get
            {
                var states = new byte[DigitalLines];
                if (NativeMethods.KVD4093_GetDeviceDI(OpenHandle(), states) == 0)
                    throw ErrorLog.Failure("KVD4093_GetDeviceDI");
                int inputs = 0;
                for (int line = 0; line < DigitalLines; line++)
                    inputs |= (states[line] & 1) << line;
                return inputs;
            }
        }

        /// <summary>The 16 digital outputs last set through this Card (bit n = output n), null
        /// before the first; setting it writes all 16.</summary>
        public int? DO
        {
            get { return digitalOutputs; }
            set
            {
                int outputs = CheckedRange("DO", value ?? -1, 0, (1 << DigitalLines) - 1);
                var states = new byte[DigitalLines];
                for (int line = 0; line < DigitalLines; line++)
                    states[line] = (byte)((outputs >> line) & 1);
                if (NativeMethods.KVD4093_SetDeviceDO(OpenHandle(), states) == 0)
                    throw ErrorLog.Failure("KVD4093_SetDeviceDO");
                digitalOutputs = outputs;
            }
        }

        /// <summary>Writes the 12-bit value (0 to 4095) to DA channel (0 to 7) after its 3-bit setup code.</summary>
        public void WriteDA(int channel, int value, int setupCode = 0)
        {
            CheckedRange("channel", channel, 0, DAChannels - 1);
            CheckedRange("value", value, 0, LargestDAValue);
            CheckedRange("setupCode", setupCode, 0, 7);
            if (NativeMethods.KVD4093_WriteDeviceDA(OpenHandle(), setupCode, value, channel) == 0)
                throw ErrorLog.Failure("KVD4093_WriteDeviceDA");
        }

        /// <summary>The trigger level last set through this Card, 0 to 10000 (full scale), null before the first.</summary>
        public int? TriggerLevel
        {
            get { return triggerLevel; }
            set
            {
                int level = CheckedRange("TriggerLevel", value ?? -1, 0, LargestTriggerLevel);
                if (NativeMethods.KVD4093_SetDeviceTrigLevel(OpenHandle(), level) == 0)
                    throw ErrorLog.Failure("KVD4093_SetDeviceTrigLevel");
                triggerLevel = level;
            }
        }

        // ---- release ----

        /// <summary>Stops and closes a stream still open on the card, then releases the card.
        /// Later calls do nothing.</summary>
        public void Dispose()
        {
            if (handle == IntPtr.Zero)
                return;
            if (stream != null)
                stream.Dispose();
            if (stream != null && !stream.IsDisposed)
                return; // disposed from the stream's own event: the card stays open for the stream's close
            IntPtr released = handle;
            handle = IntPtr.Zero;
            if (NativeMethods.KVD4093_ReleaseDevice(released) == 0)
                throw ErrorLog.Failure("KVD4093_ReleaseDevice");
        }

        public override string ToString()
        {
            return string.Format("Card {0} (physical ID {1}, version {2}){3}", Number, PhysicalId, Version,
                                 IsDisposed ? " disposed" : "");
        }

        internal static string VersionText(uint word)
        {
            return string.Format("{0}.{1}.{2}", (word >> 16) & 0xFF, (word >> 8) & 0xFF, word & 0xFF);
        }

        private ADSettings WithScans(int firstChannel, int lastChannel, int scanRate)
        {
            ADSettings settings = LoadSettings();
            settings.FirstChannel = firstChannel;
            settings.LastChannel = lastChannel;
            long frequency = (long)scanRate * (lastChannel - firstChannel + 1);
            settings.Frequency = (int)Math.Min(Math.Max(frequency, 0), int.MaxValue);
            return settings;
        }

        private IntPtr OpenHandle()
        {
            if (handle == IntPtr.Zero)
                throw new ObjectDisposedException("Card");
            return handle;
        }

        // frequency: samples a second of all channels together, what the card's clock runs at.
        private static void CheckScan(int firstChannel, int lastChannel, double frequency)
        {
            CheckedRange("firstChannel", firstChannel, 0, HighestChannel);
            CheckedRange("lastChannel", lastChannel, firstChannel, HighestChannel);
            if (!(frequency >= 1 && frequency <= FastestRate))
                throw new ArgumentOutOfRangeException("rate", frequency,
                    string.Format("the card converts 1 to {0} samples a second of all channels together", FastestRate));
        }

        private static int CheckedRange(string name, int value, int lowest, int highest)
        {
            if (value < lowest || value > highest)
                throw new ArgumentOutOfRangeException(name, value, string.Format("{0} to {1}", lowest, highest));
            return value;
        }
    }
}
