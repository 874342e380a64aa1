using System;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>
    /// The 13 functions of the stream library (include/KVD4093_stream.h), under
    /// the plain names both KVD4093Stream.dll and libkvd4093stream.so.1 export,
    /// with the card library's calling convention.
    /// </summary>
    public static class StreamNativeMethods
    {
        public const string Library = "KVD4093Stream";
        private const CallingConvention Convention = CallingConvention.StdCall;

        public const int Stop = 0;
        public const int Continue = 1;

        [DllImport(Library, EntryPoint = "KVD4093_OpenStream", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_OpenStream(ref StreamConfig config);

        [DllImport(Library, EntryPoint = "KVD4093_OpenStreamOnDevice", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_OpenStreamOnDevice(IntPtr hDevice, ref StreamConfig config);

        [DllImport(Library, EntryPoint = "KVD4093_OpenStreamOnDevices", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_OpenStreamOnDevices(StreamCard[] cards, int count, ref StreamConfig config);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamCards", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamCards(IntPtr stream, [Out] StreamCard[] cards, int room);

        [DllImport(Library, EntryPoint = "KVD4093_StartStream", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_StartStream(IntPtr stream);

        [DllImport(Library, EntryPoint = "KVD4093_ReadStream", CallingConvention = Convention, ExactSpelling = true)]
        public static extern long KVD4093_ReadStream(IntPtr stream, IntPtr samples, uint maxScans, int timeoutMs, out StreamBlock block);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamStatus", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamStatus(IntPtr stream, out StreamStatus status);

        [DllImport(Library, EntryPoint = "KVD4093_StopStream", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_StopStream(IntPtr stream);

        [DllImport(Library, EntryPoint = "KVD4093_CloseStream", CallingConvention = Convention, ExactSpelling = true)]
        public static extern void KVD4093_CloseStream(IntPtr stream);

        /// <summary>Returns a UTF-8 text the library owns: read it with Marshal, never free it.</summary>
        [DllImport(Library, EntryPoint = "KVD4093_GetStreamError", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_GetStreamError(IntPtr stream);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamChannels", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamChannels(IntPtr stream);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamStartTime", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamStartTime(IntPtr stream, out long utcNs, out long monotonicNs);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamDevice", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_GetStreamDevice(IntPtr stream);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamRecord", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamRecord(IntPtr stream, out ADPara record);

        [DllImport(Library, EntryPoint = "KVD4093_GetStreamBuffer", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamBuffer(IntPtr stream, out StreamBufferShape buffer);

        [DllImport(Library, EntryPoint = "KVD4093_WriteStreamDA", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_WriteStreamDA(IntPtr stream, int nSetupCode, int nDAValue, int nChannel);

        [DllImport(Library, EntryPoint = "KVD4093_SetStreamDO", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SetStreamDO(IntPtr stream, byte[] pDOStates);

        /// <summary>segments: KVD4093_STREAM_SEGMENT records, room of them; IntPtr.Zero with room 0 counts them.</summary>
        [DllImport(Library, EntryPoint = "KVD4093_GetStreamSegments", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetStreamSegments(IntPtr stream, IntPtr segments, int room);

        /// <summary>Called on the stream's reader thread with every callbackScans scans read.</summary>
        [UnmanagedFunctionPointer(Convention)]
        public delegate void Callback(IntPtr stream, IntPtr samples, uint scans, ref StreamBlock block, IntPtr context);
    }
}
