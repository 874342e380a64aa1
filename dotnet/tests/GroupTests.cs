using System;
using System.Linq;
using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>CardGroup on the virtual cards of physical IDs 7 (logical number 0) and 9 (1), which
    /// share one clock line and whose waveforms depend on the scan index alone.</summary>
    [TestFixture]
    public class GroupTests
    {
        [TestCase(new[] { 7, 9 }, 0, 1, ClockMode.Shared, 1)]
        [TestCase(new[] { 9, 7 }, 2, 4, ClockMode.Shared, 1)]
        [TestCase(new[] { 7, 9 }, 3, 3, ClockMode.Independent, 0)]
        public void AGroupsScansHoldEachCardsOwnSamplesCardAfterCard(int[] ids, int first, int last, ClockMode clockMode,
                                                                      int drivingCardsClockOutput)
        {
            const int scans = 3000, scanRate = 20000;
            int channels = last - first + 1;
            Card[] cards = ids.Select(Card.OpenById).ToArray();
            try
            {
                ushort[][,] own = cards.Select(card => card.Acquire(scans, first, last, scanRate)).ToArray();
                using (Stream stream = new CardGroup(cards).Start(first, last, scanRate, clockMode: clockMode))
                {
                    CollectionAssert.AreEqual(ids, stream.Cards.Select(card => card.PhysicalId));
                    CollectionAssert.AreEqual(cards.Select(card => card.Number), stream.Cards.Select(card => card.Number));
                    Assert.AreEqual(channels * cards.Length, stream.Channels);
                    ADPara record;
                    StreamNativeMethods.KVD4093_GetStreamRecord(stream.NativeStream, out record);
                    Assert.AreEqual(drivingCardsClockOutput, record.bClockOutput);
                    for (long taken = 0; taken < scans;)
                    {
                        ScanBlock block = stream.Read((int)(scans - taken), 5000);
                        Assert.AreEqual(taken, block.FirstScan);
                        Assert.AreEqual(Merged(own, block.FirstScan, block.Scans, channels), block.Samples);
                        taken += block.Scans;
                    }
                    Assert.Throws<InvalidOperationException>(() => cards[1].Start(first, last, scanRate));
                    cards[1].Dispose();
                    Assert.IsTrue(stream.IsDisposed, "a card of the group closes the group's stream");
                }
            }
            finally
            {
                foreach (Card card in cards)
                    card.Dispose();
            }
        }

        // Scans firstScan on of every card's own samples, card after card.
        private static ushort[,] Merged(ushort[][,] own, long firstScan, int scans, int channels)
        {
            var merged = new ushort[scans, channels * own.Length];
            for (int scan = 0; scan < scans; scan++)
                for (int card = 0; card < own.Length; card++)
                    for (int channel = 0; channel < channels; channel++)
                        merged[scan, card * channels + channel] = own[card][firstScan + scan, channel];
            return merged;
        }
    }
}
