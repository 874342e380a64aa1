using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>KVD4093_STREAM_BLOCK: where a stretch of scans handed out by the stream belongs.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct StreamBlock
    {
        public long FirstScan;
        public long ScansLostBefore;
        public int GapCause;
        public int Reserved;
    }
}
