using System;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>KVD4093_STREAM_CONFIG: what a stream acquires; fields left 0 take their defaults.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct StreamConfig
    {
        public IntPtr Cards;
        public int FirstChannel;
        public int LastChannel;
        public double ScanRate;
        public IntPtr Record;
        public double BufferSeconds;
        public int OnOverrun;
        public float ReconnectSeconds; // a card pulled out: how long to wait for it (below 0: no limit); 0: the stream ends
        public long Scans;
        public uint CallbackScans;
        public uint Reserved1;
        public IntPtr Callback;
        public IntPtr CallbackContext;
        public int ClockMode;
        public int ClockOutputCode;
        public int ClockInputCode;
        public int Reserved2;
    }
}
