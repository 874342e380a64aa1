using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>KVD4093_STREAM_BUFFER: the shape of a stream's buffer, fixed when the stream opens.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct StreamBufferShape
    {
        public uint BlockScans;
        public uint Blocks;
        public double Seconds;
        public double ScanRate;
        public long Bytes;
        public int Cut;
        public int Reserved;
    }
}
