namespace Kvd4093
{
    /// <summary>
    /// The 17 fields of the AD parameter record, named as the record names them
    /// (include/KVD4093.h gives each field's meaning and the bits that reach the
    /// card). A new ADSettings holds the defaults the library loads for a card
    /// with no saved settings. Frequency is in samples a second of all channels
    /// together, GroupInterval in microseconds.
    /// </summary>
    public sealed class ADSettings
    {
        public ADSettings()
        {
            LastChannel = 1;
            Frequency = 25000;
            GroupInterval = 1000;
            LoopsOfGroup = 1;
            TrigWindow = 10;
        }

        internal ADSettings(ADPara record)
        {
            CheckStsMode = record.CheckStsMode;
            ADMode = record.ADMode;
            FirstChannel = record.FirstChannel;
            LastChannel = record.LastChannel;
            Frequency = record.Frequency;
            InputRange = record.InputRange;
            GroupInterval = record.GroupInterval;
            LoopsOfGroup = record.LoopsOfGroup;
            Gains = record.Gains;
            TriggerMode = record.TriggerMode;
            TriggerSource = record.TriggerSource;
            TriggerType = record.TriggerType;
            TriggerDir = record.TriggerDir;
            TrigWindow = record.TrigWindow;
            GroundingMode = record.GroundingMode;
            ClockSource = record.ClockSource;
            bClockOutput = record.bClockOutput;
        }

        public int CheckStsMode { get; set; }
        public int ADMode { get; set; }
        public int FirstChannel { get; set; }
        public int LastChannel { get; set; }
        public int Frequency { get; set; }
        public int InputRange { get; set; }
        public int GroupInterval { get; set; }
        public int LoopsOfGroup { get; set; }
        public int Gains { get; set; }
        public int TriggerMode { get; set; }
        public int TriggerSource { get; set; }
        public int TriggerType { get; set; }
        public int TriggerDir { get; set; }
        public int TrigWindow { get; set; }
        public int GroundingMode { get; set; }
        public int ClockSource { get; set; }
        public int bClockOutput { get; set; }

        /// <summary>Channels in a scan: LastChannel - FirstChannel + 1.</summary>
        public int Channels { get { return LastChannel - FirstChannel + 1; } }

        public ADSettings Clone()
        {
            return new ADSettings(ToRecord());
        }

        public ADPara ToRecord()
        {
            return new ADPara
            {
                CheckStsMode = CheckStsMode,
                ADMode = ADMode,
                FirstChannel = FirstChannel,
                LastChannel = LastChannel,
                Frequency = Frequency,
                InputRange = InputRange,
                GroupInterval = GroupInterval,
                LoopsOfGroup = LoopsOfGroup,
                Gains = Gains,
                TriggerMode = TriggerMode,
                TriggerSource = TriggerSource,
                TriggerType = TriggerType,
                TriggerDir = TriggerDir,
                TrigWindow = TrigWindow,
                GroundingMode = GroundingMode,
                ClockSource = ClockSource,
                bClockOutput = bClockOutput,
            };
        }
    }
}
