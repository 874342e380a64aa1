using System.Runtime.InteropServices;

namespace Kvd4093
{
    /// <summary>The AD parameter record as the library takes it: 17 signed 32-bit fields, 68 bytes, in this order.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct ADPara
    {
        public int CheckStsMode;
        public int ADMode;
        public int FirstChannel;
        public int LastChannel;
        public int Frequency;
        public int InputRange;
        public int GroupInterval;
        public int LoopsOfGroup;
        public int Gains;
        public int TriggerMode;
        public int TriggerSource;
        public int TriggerType;
        public int TriggerDir;
        public int TrigWindow;
        public int GroundingMode;
        public int ClockSource;
        public int bClockOutput;
    }
}
