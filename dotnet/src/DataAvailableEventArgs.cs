using System;

namespace Kvd4093
{
    /// <summary>The scans of one DataAvailable event: a copy the handler may keep.</summary>
    public sealed class DataAvailableEventArgs : EventArgs
    {
        internal DataAvailableEventArgs(ScanBlock block)
        {
            Block = block;
        }

        public ScanBlock Block { get; private set; }
    }
}
