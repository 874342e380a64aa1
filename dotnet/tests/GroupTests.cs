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
                    // On their own clocks the cards start one after the other, and each
                    // later card sees the bench's signal later (the wiring check's lag).
                    int comparedColumns = (clockMode == ClockMode.Shared ? cards.Length : 1) * channels;
                    for (long taken = 0; taken < scans;)
                    {
                        ScanBlock block = stream.Read((int)(scans - taken), 5000);
                        Assert.AreEqual(taken, block.FirstScan);
                        for (int scan = 0; scan < block.Scans; scan++)
                            for (int column = 0; column < comparedColumns; column++)
                                if (block.Samples[scan, column] != own[column / channels][taken + scan, column % channels])
                                    Assert.Fail($"scan {taken + scan}, column {column}");
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
    }
}
