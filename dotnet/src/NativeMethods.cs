using System;
using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>
    /// The 45 functions of the card library (include/KVD4093.h), declared once.
    /// Each entry point is the name both Windows DLLs export: ten under their
    /// decorated stdcall form (_BulkRead@20 ...), in the 64-bit DLL too, the
    /// others plain. On 32-bit Windows every call is stdcall; elsewhere the
    /// runtime takes the platform's one convention. On Linux the Mono DLL map
    /// (Kvd4093.dll.config) maps "KVD4093" to libkvd4093.so.1 and each
    /// decorated name to the plain name the shared library exports.
    /// Texts are zero-terminated GBK byte strings, as the library takes them.
    /// </summary>
    public static class NativeMethods
    {
        public const string Library = "KVD4093";
        private const CallingConvention Convention = CallingConvention.StdCall;

        // ---- transport ----
        [DllImport(Library, EntryPoint = "_BulkRead@20", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int BulkRead(IntPtr hDevice, uint nPipeNum, byte[] pBuffer, uint nBufferSize, out uint pBytesReturned);

        [DllImport(Library, EntryPoint = "_BulkWrite@20", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int BulkWrite(IntPtr hDevice, uint nPipeNum, byte[] pBuffer, uint nBufferSize, out uint pBytesReturned);

        [DllImport(Library, EntryPoint = "_SetInterface@8", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int SetInterface(IntPtr hDevice, uint nInterfaceSetting);

        [DllImport(Library, EntryPoint = "_USB_Reset@4", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int USB_Reset(IntPtr hDevice);

        [DllImport(Library, EntryPoint = "KVD4093_ResetDevice", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ResetDevice(IntPtr hDevice);

        [DllImport(Library, EntryPoint = "_KVD4093_CreateLowFile@4", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_CreateLowFile(IntPtr hDevice);

        [DllImport(Library, EntryPoint = "_KVD4093_CloseLowFile@4", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_CloseLowFile(IntPtr hDevice);

        // ---- opening and identity ----
        [DllImport(Library, EntryPoint = "KVD4093_CreateDevice", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_CreateDevice(int nDeviceLgcID);

        [DllImport(Library, EntryPoint = "KVD4093_CreateDeviceEx", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_CreateDeviceEx(int nDevicePhysID);

        [DllImport(Library, EntryPoint = "KVD4093_ReleaseDevice", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ReleaseDevice(IntPtr hDevice);

        [DllImport(Library, EntryPoint = "KVD4093_GetDeviceCount", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetDeviceCount(IntPtr hDevice);

        [DllImport(Library, EntryPoint = "KVD4093_GetDeviceCurrentID", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetDeviceCurrentID(IntPtr hDevice, out int pDeviceLgcID, out int pDevicePhysID);

        [DllImport(Library, EntryPoint = "KVD4093_GetDevVersion", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetDevVersion(IntPtr hDevice, out uint pulFmwVersion, out uint pulDriverVersion);

        [DllImport(Library, EntryPoint = "KVD4093_ListDeviceDlg", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ListDeviceDlg();

        // ---- AD acquisition ----
        [DllImport(Library, EntryPoint = "KVD4093_InitDeviceAD", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_InitDeviceAD(IntPtr hDevice, ref ADPara pPara);

        [DllImport(Library, EntryPoint = "KVD4093_ReadDeviceAD", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ReadDeviceAD(IntPtr hDevice, IntPtr pSampleBuffer, uint nSampleCount, out uint pSamplesRead);

        [DllImport(Library, EntryPoint = "KVD4093_ReleaseDeviceAD", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ReleaseDeviceAD(IntPtr hDevice);

        [DllImport(Library, EntryPoint = "_KVD4093_SetDeviceTrigLevel@8", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SetDeviceTrigLevel(IntPtr hDevice, int nTrigLevel);

        // ---- DA output and digital I/O ----
        [DllImport(Library, EntryPoint = "KVD4093_WriteDeviceDA", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_WriteDeviceDA(IntPtr hDevice, int nSetupCode, int nDAValue, int nChannel);

        [DllImport(Library, EntryPoint = "KVD4093_SetDeviceDO", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SetDeviceDO(IntPtr hDevice, byte[] pDOStates);

        [DllImport(Library, EntryPoint = "KVD4093_GetDeviceDI", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetDeviceDI(IntPtr hDevice, [Out] byte[] pDIStates);

        // ---- error log ----
        [DllImport(Library, EntryPoint = "KVD4093_GetLastErrorEx", CallingConvention = Convention, ExactSpelling = true)]
        public static extern uint KVD4093_GetLastErrorEx(byte[] strFuncName, [Out] byte[] strErrorMsg);

        // ---- parameter store ----
        [DllImport(Library, EntryPoint = "KVD4093_SaveParaAD", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SaveParaAD(IntPtr hDevice, ref ADPara pPara);

        [DllImport(Library, EntryPoint = "KVD4093_LoadParaAD", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_LoadParaAD(IntPtr hDevice, out ADPara pPara);

        [DllImport(Library, EntryPoint = "KVD4093_ResetParaAD", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ResetParaAD(IntPtr hDevice, out ADPara pPara);

        [DllImport(Library, EntryPoint = "KVD4093_SaveParaInt", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SaveParaInt(IntPtr hDevice, byte[] strParaName, int nParaValue);

        [DllImport(Library, EntryPoint = "KVD4093_LoadParaInt", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_LoadParaInt(IntPtr hDevice, byte[] strParaName, int nDefaultValue);

        [DllImport(Library, EntryPoint = "KVD4093_SaveParaString", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SaveParaString(IntPtr hDevice, byte[] strParaName, byte[] strParaValue);

        [DllImport(Library, EntryPoint = "KVD4093_LoadParaString", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_LoadParaString(IntPtr hDevice, byte[] strParaName, [Out] byte[] strParaValue, byte[] strDefaultValue);

        [DllImport(Library, EntryPoint = "_KVD4093_GetAppPath@8", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_GetAppPath([Out] byte[] strAppPath, int nAppPathSize);

        // ---- file objects and disk space ----
        [DllImport(Library, EntryPoint = "KVD4093_CreateFileObject", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_CreateFileObject(IntPtr hDevice, byte[] strFileName, int nMode);

        [DllImport(Library, EntryPoint = "KVD4093_WriteFile", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_WriteFile(IntPtr hFileObject, byte[] pDataBuffer, uint nWriteSizeBytes);

        [DllImport(Library, EntryPoint = "KVD4093_ReadFile", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ReadFile(IntPtr hFileObject, [Out] byte[] pDataBuffer, uint nOffsetBytes, uint nReadSizeBytes);

        [DllImport(Library, EntryPoint = "KVD4093_GetFileLength", CallingConvention = Convention, ExactSpelling = true)]
        public static extern uint KVD4093_GetFileLength(IntPtr hFileObject);

        [DllImport(Library, EntryPoint = "KVD4093_SetFileOffset", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_SetFileOffset(IntPtr hFileObject, uint nOffsetBytes);

        [DllImport(Library, EntryPoint = "KVD4093_ReleaseFile", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ReleaseFile(IntPtr hFileObject);

        [DllImport(Library, EntryPoint = "KVD4093_GetDiskFreeBytes", CallingConvention = Convention, ExactSpelling = true)]
        public static extern long KVD4093_GetDiskFreeBytes(byte[] strDirectory);

        // ---- host utilities ----
        [DllImport(Library, EntryPoint = "KVD4093_CreateVBThread", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_CreateVBThread(out IntPtr phThread, ThreadRoutine pThreadRoutine);

        [DllImport(Library, EntryPoint = "KVD4093_TerminateVBThread", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_TerminateVBThread(IntPtr hThread);

        [DllImport(Library, EntryPoint = "KVD4093_CreateSystemEvent", CallingConvention = Convention, ExactSpelling = true)]
        public static extern IntPtr KVD4093_CreateSystemEvent();

        [DllImport(Library, EntryPoint = "KVD4093_ReleaseSystemEvent", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_ReleaseSystemEvent(IntPtr hEvent);

        [DllImport(Library, EntryPoint = "_KVD4093_BrowseHelpInfo@4", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_BrowseHelpInfo(int nReserved);

        [DllImport(Library, EntryPoint = "KVD4093_kbhit", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_kbhit();

        [DllImport(Library, EntryPoint = "KVD4093_getch", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_getch();

        [DllImport(Library, EntryPoint = "_KVD4093_DelayTimeUs@8", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int KVD4093_DelayTimeUs(IntPtr hDevice, int nTimeUs);

        /// <summary>The start routine of a thread made by KVD4093_CreateVBThread; the caller keeps the delegate alive while the thread runs.</summary>
        [UnmanagedFunctionPointer(Convention)]
        public delegate uint ThreadRoutine(IntPtr pParameter);

        public static readonly IntPtr InvalidHandle = new IntPtr(-1);
    }
}
