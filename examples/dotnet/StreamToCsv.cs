// Streams channels 0 to 3 of the card of logical number 0 at 10 000 scans a
// second into a CSV file (scan,ch0,ch1,ch2,ch3), until it holds the scans
// asked for; a DataAvailable handler counts the events on the stream's own
// thread meanwhile.
//   mcs StreamToCsv.cs -r:Kvd4093.dll && mono StreamToCsv.exe run.csv 20000
using System;
using System.IO;
using System.Threading;
using Kvd4093;

internal static class StreamToCsvExample
{
    private static int events;

    private static int Main(string[] arguments)
    {
        if (arguments.Length != 2)
        {
            Console.Error.WriteLine("usage: StreamToCsv.exe OUTPUT.csv SCANS");
            return 2;
        }
        long wanted = long.Parse(arguments[1]);
        try
        {
            using (Card card = Card.Open(0))
            using (Kvd4093.Stream stream = card.Start(0, 3, 10000, bufferSeconds: 2, onOverrun: OnOverrun.Stop))
            using (var output = new StreamWriter(arguments[0]))
            {
                stream.DataAvailable += (sender, data) => Interlocked.Increment(ref events);
                output.WriteLine("scan,ch0,ch1,ch2,ch3");
                long written = 0;
                while (written < wanted)
                {
                    ScanBlock block = stream.Read((int)Math.Min(1000, wanted - written), 5000);
                    if (block == null)
                        break; // the stream ended
                    Write(output, block);
                    written += block.Scans;
                }
                Console.WriteLine("{0} scans written to {1}, {2} lost, {3} events", written, arguments[0], stream.Lost, events);
            }
            return 0;
        }
        catch (OverrunException overrun)
        {
            Console.Error.WriteLine(overrun.Message);
            return 1;
        }
        catch (Kvd4093Exception failure)
        {
            Console.Error.WriteLine("{0} failed: {1} ({2})", failure.Function, failure.Message, failure.LibraryMessage);
            return 1;
        }
    }

    private static void Write(TextWriter output, ScanBlock block)
    {
        for (int scan = 0; scan < block.Scans; scan++)
        {
            output.Write(block.FirstScan + scan);
            for (int channel = 0; channel < block.Samples.GetLength(1); channel++)
            {
                output.Write(',');
                output.Write(block.Samples[scan, channel]);
            }
            output.WriteLine();
        }
    }
}
