namespace Kvd4093
{
    /// <summary>Why scans were lost before a block.</summary>
    public enum GapCause
    {
        None = 0,
        /// <summary>Dropped because the buffer was full (OnOverrun.Continue).</summary>
        Overrun = 1,
        /// <summary>Not read because the card was away.</summary>
        Disconnected = 2,
    }
}
