using System;
using System.IO;
using System.Linq;
using System.Reflection;
using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>Card on the virtual cards of physical IDs 7 (logical number 0) and 9 (1).</summary>
    [TestFixture]
    public class CardTests
    {
        [TestCase(0, 3, 10000, 1000)]
        [TestCase(0, 2, 5000, 700)]   // 512 set-up samples are no whole number of 3-channel scans
        [TestCase(1, 1, 20000, 5000)]
        [TestCase(2, 6, 1000, 300)]
        public void AcquireGivesTheToolsSamples(int first, int last, int scanRate, int scans)
        {
            string csv = TestPlace.NewFile(".csv");
            TestPlace.Run(TestPlace.Tool, string.Format("acquire --virtual --channels {0}-{1} --scan-rate {2} --samples {3} --output {4}",
                                                         first, last, scanRate, scans, csv));
            ushort[,] expected = CsvScans.Read(csv, 2);
            using (Card card = Card.Open(0))
                Assert.AreEqual(expected, card.Acquire(scans, first, last, scanRate));
        }

        // Every field of the record through the library and back: saved, or reset to a new record's.
        [TestCase(false)]
        [TestCase(true)]
        public void SettingsLoadAsSavedOrReset(bool reset)
        {
            var saved = new ADSettings();
            int value = 1;
            foreach (PropertyInfo field in Fields())
                field.SetValue(saved, value++);
            using (Card card = Card.OpenById(9))
            {
                card.SaveSettings(saved);
                ADSettings expected = reset ? new ADSettings() : saved;
                ADSettings returned = reset ? card.ResetSettings() : card.LoadSettings();
                ADSettings loadedAfter = card.LoadSettings();
                foreach (PropertyInfo field in Fields())
                {
                    Assert.AreEqual(field.GetValue(expected), field.GetValue(returned), field.Name);
                    Assert.AreEqual(field.GetValue(expected), field.GetValue(loadedAfter), field.Name);
                }
                card.ResetSettings();
            }
        }

        [Test]
        public void TheSettingsAreTheRecordsSeventeenFieldsInItsOrder()
        {
            string[] record = typeof(ADPara).GetFields().Select(field => field.Name).ToArray();
            CollectionAssert.AreEqual(record, Fields().Select(field => field.Name).ToArray());
        }

        [TestCase(7, 0)]
        [TestCase(9, 1)]
        public void ACardKnowsItsNumbersAndVersion(int physicalId, int number)
        {
            using (Card byId = Card.OpenById(physicalId))
            using (Card byNumber = Card.Open(number))
            {
                Assert.AreEqual(number, byId.Number);
                Assert.AreEqual(physicalId, byNumber.PhysicalId);
                Assert.AreEqual("1.0.1", byId.Version);
            }
        }

        [TestCase(0x0000)]
        [TestCase(0x8001)]
        [TestCase(0xFFFF)]
        public void DigitalOutputsComeBackOnTheInputs(int outputs)
        {
            using (Card card = Card.Open(0))
            {
                card.DO = outputs;
                Assert.AreEqual(outputs, card.DI);
                Assert.AreEqual(outputs, card.DO);
            }
        }

        [TestCase(0, 0, 0)]
        [TestCase(7, 4095, 7)]
        public void AnalogOutputsAndTheTriggerLevelTakeTheirWholeRange(int channel, int value, int setupCode)
        {
            using (Card card = Card.Open(0))
            {
                card.WriteDA(channel, value, setupCode);
                card.TriggerLevel = value * 2;
                Assert.AreEqual(value * 2, card.TriggerLevel);
            }
        }

        [TestCase(-1, 0)]
        [TestCase(8, 0)]
        [TestCase(0, 4096)]
        public void AnalogOutputsOutsideTheirRangeAreRefused(int channel, int value)
        {
            using (Card card = Card.Open(0))
                Assert.Throws<ArgumentOutOfRangeException>(() => card.WriteDA(channel, value));
        }

        [TestCase(0, 3, 2500001.0)] // 4 channels above the card's 10 million samples a second
        [TestCase(0, 0, 0.0)]
        [TestCase(3, 2, 1000.0)]
        [TestCase(0, 256, 1000.0)]
        public void AStreamTheCardCannotRunIsRefusedBeforeItStarts(int first, int last, double scanRate)
        {
            using (Card card = Card.Open(0))
                Assert.Throws<ArgumentOutOfRangeException>(() => card.Start(first, last, scanRate));
        }

        [Test]
        public void ADisposedCardRefusesEveryCall()
        {
            Card card = Card.Open(0);
            card.Dispose();
            card.Dispose();
            Assert.Throws<ObjectDisposedException>(() => card.LoadSettings());
            Assert.Throws<ObjectDisposedException>(() => card.Acquire(10, 0, 0, 1000));
        }

        private static PropertyInfo[] Fields()
        {
            return typeof(ADSettings).GetProperties().Where(property => property.CanWrite).ToArray();
        }
    }
}
