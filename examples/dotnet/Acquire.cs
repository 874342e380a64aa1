// Acquires 1000 scans of channels 0 to 3 at 10 000 scans a second from the
// card of logical number 0 and prints the lowest, highest and mean code of
// each channel.
//   mcs Acquire.cs -r:Kvd4093.dll && mono Acquire.exe
using System;
using Kvd4093;

internal static class AcquireExample
{
    private static int Main()
    {
        try
        {
            using (Card card = Card.Open(0))
            {
                Console.WriteLine("card {0}: physical ID {1}, version {2}", card.Number, card.PhysicalId, card.Version);
                ushort[,] scans = card.Acquire(1000, 0, 3, 10000);
                for (int channel = 0; channel < scans.GetLength(1); channel++)
                    PrintChannel(scans, channel);
            }
            return 0;
        }
        catch (Kvd4093Exception failure)
        {
            Console.Error.WriteLine("{0} failed: {1} ({2})", failure.Function, failure.Message, failure.LibraryMessage);
            return 1;
        }
    }

    private static void PrintChannel(ushort[,] scans, int channel)
    {
        int lowest = ushort.MaxValue, highest = 0;
        double sum = 0;
        for (int scan = 0; scan < scans.GetLength(0); scan++)
        {
            int code = scans[scan, channel];
            lowest = Math.Min(lowest, code);
            highest = Math.Max(highest, code);
            sum += code;
        }
        Console.WriteLine("ch{0}: lowest {1}, highest {2}, mean {3:F1}", channel, lowest, highest, sum / scans.GetLength(0));
    }
}
