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
                    ushort[,] merged = ReadAll(stream, scans);
                    // On their own clocks the cards started one after the other, so
                    // each card after the first sees the bench's signal later, by a
                    // lag its start made; on one clock every lag is 0.
                    int compared = clockMode == ClockMode.Shared ? scans : scans - FastSinePeriod;
                    for (int card = 0; card < cards.Length; card++)
                    {
                        int lag = card == 0 || clockMode == ClockMode.Shared
                                      ? 0
                                      : LagOf(merged, card, own[card], compared);
                        Assert.IsTrue(lag >= 0 && Holds(merged, card, own[card], lag, compared),
                                      $"card ID {ids[card]}'s columns are its own samples {lag} scans on");
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

        // Channel 3 carries the fast sine, of 1024 scans: a lag is known up to whole periods.
        private const int FastSinePeriod = 1024;

        private static ushort[,] ReadAll(Stream stream, int scans)
        {
            var all = new ushort[scans, stream.Channels];
            for (long taken = 0; taken < scans;)
            {
                ScanBlock block = stream.Read((int)(scans - taken), 5000);
                Assert.AreEqual(taken, block.FirstScan);
                for (int scan = 0; scan < block.Scans; scan++)
                    for (int column = 0; column < stream.Channels; column++)
                        all[taken + scan, column] = block.Samples[scan, column];
                taken += block.Scans;
            }
            return all;
        }

        private static int LagOf(ushort[,] merged, int card, ushort[,] own, int rows)
        {
            for (int lag = 0; lag < FastSinePeriod; lag++)
                if (Holds(merged, card, own, lag, rows))
                    return lag;
            return -1;
        }

        // Whether the first `rows` scans of card `card`'s columns are its own samples from scan `lag` on.
        private static bool Holds(ushort[,] merged, int card, ushort[,] own, int lag, int rows)
        {
            int channels = own.GetLength(1);
            for (int scan = 0; scan < rows; scan++)
                for (int channel = 0; channel < channels; channel++)
                    if (merged[scan, card * channels + channel] != own[lag + scan, channel])
                        return false;
            return true;
        }
    }
}
