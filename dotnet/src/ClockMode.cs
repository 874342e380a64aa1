namespace Kvd4093
{
    /// <summary>How the cards of a group get their sample clock (KVD4093_STREAM_CLOCK_...).</summary>
    public enum ClockMode
    {
        /// <summary>The first card drives the clock and every other card converts on it: scan k of
        /// every card is taken on the same tick.</summary>
        Shared = 0,
        /// <summary>Every card on its own clock, started one after the other: to compare with a
        /// shared clock when the wiring is in doubt.</summary>
        Independent = 1,
    }
}
