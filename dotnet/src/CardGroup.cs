using System;
using System.Linq;

namespace Kvd4093
{
    /// <summary>
    /// Open cards acquiring as one on the first card's clock (docs/groups.md):
    /// Start gives one Stream whose scans hold every card's channels, card
    /// after card, each scan's columns taken on the same tick. The cards stay
    /// the program's; disposing any of them stops and closes the group's stream.
    /// </summary>
    public sealed class CardGroup
    {
        public const int MostCards = 8;

        private readonly Card[] cards;

        /// <summary>The cards in their order in the scans; the first drives the clock.</summary>
        public CardGroup(params Card[] cards)
        {
            if (cards == null || cards.Any(card => card == null))
                throw new ArgumentNullException("cards");
            if (cards.Length < 2 || cards.Length > MostCards)
                throw new ArgumentOutOfRangeException("cards", cards.Length, string.Format("a group takes 2 to {0} cards", MostCards));
            this.cards = (Card[])cards.Clone();
        }

        /// <summary>
        /// Starts every card with the same channels, rate and the first card's saved settings, as
        /// Card.Start starts one. clockOutputCode and clockInputCode are the record's codes for the
        /// clock the first card sends and the others take (0: our cards' code, 1); reconnectSeconds
        /// as Card.Start's: every card of the group is started again when one comes back.
        /// </summary>
        public Stream Start(int firstChannel, int lastChannel, double scanRate, double bufferSeconds = 2,
                            OnOverrun onOverrun = OnOverrun.Stop, int eventScans = 0,
                            ClockMode clockMode = ClockMode.Shared, int clockOutputCode = 0, int clockInputCode = 0,
                            double reconnectSeconds = 0)
        {
            StreamConfig config = Card.StreamSettings(firstChannel, lastChannel, scanRate, bufferSeconds, onOverrun, eventScans, reconnectSeconds);
            config.ClockMode = (int)clockMode;
            config.ClockOutputCode = clockOutputCode;
            config.ClockInputCode = clockInputCode;
            foreach (Card card in cards)
                card.RefuseSecondStream();
            StreamCard[] members = cards.Select(card => new StreamCard { Device = card.Handle, PhysicalId = card.PhysicalId })
                                        .ToArray();
            var stream = new Stream((ref StreamConfig c) => StreamNativeMethods.KVD4093_OpenStreamOnDevices(members, members.Length, ref c),
                                    "KVD4093_OpenStreamOnDevices", config);
            foreach (Card card in cards)
                card.Attach(stream);
            return stream;
        }
    }
}
