using System;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>KVD4093_STREAM_CARD: one card of a stream, its handle and its physical ID.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct StreamCard
    {
        public IntPtr Device;
        public int PhysicalId;
        public int Reserved;
    }
}
