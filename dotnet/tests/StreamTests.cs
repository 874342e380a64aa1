using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Threading;
using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>Stream on the paced virtual card of physical ID 7.</summary>
    [TestFixture]
    public class StreamTests
    {
        [TestCase(0, 3, 10000.0, 500, false)]
        [TestCase(0, 2, 20000.0, 1234, false)]
        [TestCase(5, 5, 50000.0, 4000, false)]
        [TestCase(0, 3, 10000.0, 500, true)]
        [TestCase(0, 2, 20000.0, 1234, true)]
        public void ReadGivesTheScansAcquireGives(int first, int last, double scanRate, int scans, bool intoOwnArray)
        {
            using (Card card = Card.Open(0))
            {
                ushort[,] acquired = card.Acquire(scans, first, last, (int)scanRate);
                using (Stream stream = card.Start(first, last, scanRate))
                {
                    var own = new ushort[scans, last - first + 1];
                    ScanBlock block = intoOwnArray ? stream.Read(own, 5000) : stream.Read(scans, 5000);
                    Assert.AreEqual(scans, block.Scans);
                    Assert.AreEqual(acquired, block.Samples);
                    Assert.AreEqual(intoOwnArray, ReferenceEquals(own, block.Samples));
                    Assert.AreEqual(0, block.FirstScan);
                    Assert.AreEqual(0, block.ScansLostBefore);
                    Assert.AreEqual(scans, stream.Read(1, 5000).FirstScan);
                }
            }
        }

        [Test]
        public void AFullBufferEndsAStoppingStreamWithOverrunAfterItsScans()
        {
            using (Card card = Card.Open(0))
            using (Stream stream = card.Start(0, 3, 1000000, bufferSeconds: 0.05, onOverrun: OnOverrun.Stop))
            {
                Thread.Sleep(500);
                long taken = 0;
                var overrun = Assert.Throws<OverrunException>(() =>
                {
                    for (ScanBlock block; (block = stream.Read(100000, 2000)) != null;)
                        taken += block.Scans;
                });
                Assert.AreEqual(overrun.ScansRead, taken);
                Assert.Greater(taken, 0);
                Assert.IsFalse(stream.IsRunning);
            }
        }

        [Test]
        public void AFullBufferDropsAndCountsTheScansOfAContinuingStream()
        {
            using (Card card = Card.Open(0))
            using (Stream stream = card.Start(0, 3, 1000000, bufferSeconds: 0.05, onOverrun: OnOverrun.Continue))
            {
                Thread.Sleep(300);
                long next = 0, lostSeen = 0;
                while (lostSeen == 0)
                {
                    ScanBlock block = stream.Read(10000, 2000);
                    Assert.AreEqual(next + block.ScansLostBefore, block.FirstScan, "scans follow each other but for the gap");
                    if (block.ScansLostBefore > 0)
                        Assert.AreEqual(GapCause.Overrun, block.GapCause);
                    lostSeen += block.ScansLostBefore;
                    next = block.FirstScan + block.Scans;
                }
                Assert.GreaterOrEqual(stream.Lost, lostSeen);
                Assert.IsTrue(stream.IsRunning);
            }
        }

        [TestCase("stream")]
        [TestCase("card")]
        [TestCase("handler")]
        public void DisposeStopsTheCard(string disposedBy)
        {
            int before = TraceLines().Length;
            Card card = Card.Open(0);
            Stream stream = card.Start(0, 3, 10000, eventScans: 100);
            var disposed = new ManualResetEvent(false);
            if (disposedBy == "handler")
                stream.DataAvailable += (sender, data) => { stream.Dispose(); disposed.Set(); };
            stream.Read(200, 5000);
            if (disposedBy == "stream")
                stream.Dispose();
            if (disposedBy == "handler")
                Assert.IsTrue(disposed.WaitOne(5000));
            card.Dispose();
            string[] cardWrites = TraceLines().Skip(before).Where(line => line.Contains("BULK_WRITE pipe=0")).ToArray();
            StringAssert.Contains("data=0300", cardWrites.Last(), "the stop packet goes out last");
            Assert.IsTrue(stream.IsDisposed);
        }

        [Test]
        public void DataAvailableHandsOnEveryScanInOrder()
        {
            var blocks = new List<ScanBlock>();
            using (Card card = Card.Open(0))
            {
                ushort[,] acquired = card.Acquire(2000, 0, 1, 20000);
                using (Stream stream = card.Start(0, 1, 20000, eventScans: 250))
                {
                    stream.DataAvailable += (sender, data) => { lock (blocks) blocks.Add(data.Block); };
                    GC.Collect(); // the stream keeps its callback alive whatever the collector does
                    GC.WaitForPendingFinalizers();
                    long taken = 0;
                    while (taken < 4000)
                        taken += stream.Read(4000, 5000).Scans;
                }
                lock (blocks)
                {
                    Assert.IsTrue(blocks.All(block => block.Scans == 250));
                    for (int i = 1; i < blocks.Count; i++)
                        Assert.AreEqual(blocks[i - 1].FirstScan + 250, blocks[i].FirstScan);
                    ScanBlock later = blocks.First(block => block.FirstScan >= 0 && block.FirstScan + 250 <= 2000);
                    for (int scan = 0; scan < 250; scan++)
                        Assert.AreEqual(acquired[later.FirstScan + scan, 1], later.Samples[scan, 1]);
                }
            }
        }

        [Test]
        public void AHandlersExceptionStopsTheStreamAndComesOutOfRead()
        {
            using (Card card = Card.Open(0))
            using (Stream stream = card.Start(0, 3, 10000, eventScans: 100))
            {
                stream.DataAvailable += (sender, data) => { throw new InvalidDataException("from the handler"); };
                var failure = Assert.Throws<InvalidDataException>(() =>
                {
                    while (stream.Read(1000, 5000) != null)
                    {
                    }
                });
                Assert.AreEqual("from the handler", failure.Message);
            }
        }

        [Test]
        public void ReadWaitsNoLongerThanItsTimeout()
        {
            using (Card card = Card.Open(0))
            using (Stream stream = card.Start(0, 0, 1000))
            {
                ScanBlock block = stream.Read(100000, 100);
                Assert.Less(block.Scans, 100000);
                Assert.AreEqual(1, block.Samples.GetLength(1));
            }
        }

        private static string[] TraceLines()
        {
            return File.Exists(TestPlace.Trace) ? File.ReadAllLines(TestPlace.Trace) : new string[0];
        }
    }
}
