using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>KVD4093_STREAM_STATUS: the state of a stream at one instant.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct StreamStatus
    {
        public long ScansRead;
        public long ScansLost;
        public long Backlog;
        public long LargestBacklog;
        public long ScansQueued;
        public int Running;
        public int Overrun;
        public int Failed;
        public int Reserved;
    }
}
