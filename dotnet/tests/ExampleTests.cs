using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>The programs of examples/dotnet, run as a user runs them.</summary>
    [TestFixture]
    public class ExampleTests
    {
        [Test]
        public void AcquirePrintsEachChannel()
        {
            string output = TestPlace.RunMono("Acquire.exe", "");
            StringAssert.Contains("physical ID 7, version 1.0.1", output);
            for (int channel = 0; channel < 4; channel++)
                StringAssert.Contains("ch" + channel + ": lowest", output);
        }

        [Test]
        public void StreamToCsvWritesTheToolsScans()
        {
            string fromStream = TestPlace.NewFile(".csv"), fromTool = TestPlace.NewFile(".csv");
            string said = TestPlace.RunMono("StreamToCsv.exe", fromStream + " 3000");
            StringAssert.Contains("3000 scans written", said);
            TestPlace.Run(TestPlace.Tool, "acquire --virtual --channels 0-3 --scan-rate 10000 --samples 3000 --output " + fromTool);
            Assert.AreEqual(CsvScans.Read(fromTool, 2), CsvScans.Read(fromStream, 1));
        }
    }
}
