using System;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>
    /// One acquisition on the caller's thread: set up, read whole scans, stop.
    /// The set-up reads 512 samples and drops them, so the samples after it
    /// start inside a scan when 512 is not a whole number of scans; the rest of
    /// that scan is read and dropped first, so row 0 starts at the first channel.
    /// </summary>
    internal sealed class Acquisition
    {
        private const int SetUpSamples = 512;
        private const int MostSamplesPerRead = 1 << 19;
        private const double SecondsPerRead = 0.05;

        private readonly IntPtr handle;
        private readonly ADSettings settings;

        public Acquisition(IntPtr handle, ADSettings settings)
        {
            this.handle = handle;
            this.settings = settings;
        }

        /// <summary>Fills every element of samples, a [scans, channels] array, then stops the card.</summary>
        public void Fill(ushort[,] samples)
        {
            ADPara record = settings.ToRecord();
            bool read = false;
            try
            {
                if (NativeMethods.KVD4093_InitDeviceAD(handle, ref record) == 0)
                    throw ErrorLog.Failure("KVD4093_InitDeviceAD");
                int partial = (settings.Channels - SetUpSamples % settings.Channels) % settings.Channels;
                if (partial > 0)
                    Read(new ushort[partial], partial);
                Read(samples, samples.Length);
                read = true;
            }
            finally
            {
                // A failed set-up may have started the card before its first read; the stop logs
                // its failures under the set-up's name, and does not hide a failure on its way.
                if (NativeMethods.KVD4093_ReleaseDeviceAD(handle) == 0 && read)
                    throw ErrorLog.Failure("KVD4093_ReleaseDeviceAD", "KVD4093_InitDeviceAD");
            }
        }

        private void Read(Array samples, int count)
        {
            int readSize = (int)Math.Min(Math.Max(settings.Frequency * SecondsPerRead, 1), MostSamplesPerRead);
            GCHandle pinned = GCHandle.Alloc(samples, GCHandleType.Pinned);
            try
            {
                IntPtr start = pinned.AddrOfPinnedObject();
                for (int done = 0; done < count;)
                {
                    uint wanted = (uint)Math.Min(count - done, readSize), got;
                    if (NativeMethods.KVD4093_ReadDeviceAD(handle, start + 2 * done, wanted, out got) == 0)
                        throw ErrorLog.Failure("KVD4093_ReadDeviceAD");
                    if (got == 0) // a read that succeeds with nothing would otherwise repeat for ever
                        throw ErrorLog.Unlogged("KVD4093_ReadDeviceAD", "the card delivered no samples");
                    done += (int)Math.Min(got, wanted);
                }
            }
            finally
            {
                pinned.Free();
            }
        }
    }
}
