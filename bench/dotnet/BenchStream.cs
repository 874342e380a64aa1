// Stream.Read under Mono against the stream library's own reads on the same
// unpaced virtual card, 4 channels at the card's fastest 10 million samples a
// second: the samples a second that Stream.Read hands a C# program (a new
// array each block, as a program gets them), and those a loop of
// KVD4093_ReadStream into one pinned buffer gets, called from the same
// program, in blocks of the stream's block size. Stream.Read should deliver
// 0.9 of the library's reads or more; bench_stream's BM_ReadStream gives the
// same reads from C.
//   KVD4093_VIRTUAL_CARDS=7 KVD4093_VIRTUAL_PACING=off mono BenchStream.exe [SECONDS]
using System;
using System.Diagnostics;
using System.Runtime.InteropServices;
using Kvd4093;

internal static class BenchStream
{
    private const int LastChannel = 3;
    private const double ScanRate = 10000000.0 / (LastChannel + 1);

    private static int Main(string[] arguments)
    {
        double seconds = arguments.Length > 0 ? double.Parse(arguments[0]) : 3;
        using (Card card = Card.Open(0))
        {
            double library = SamplesPerSecond(card, seconds, LibraryReads);
            double binding = SamplesPerSecond(card, seconds, StreamReads);
            Console.WriteLine("KVD4093_ReadStream from C#: {0:F1} M samples/s", library / 1e6);
            Console.WriteLine("Stream.Read:                {0:F1} M samples/s", binding / 1e6);
            Console.WriteLine("ratio: {0:F3} (goal: 0.9 or more)", binding / library);
            return binding >= 0.9 * library ? 0 : 1;
        }
    }

    private static double SamplesPerSecond(Card card, double seconds, Func<Stream, double, long> reads)
    {
        using (Stream stream = card.Start(0, LastChannel, ScanRate, onOverrun: OnOverrun.Continue))
        {
            reads(stream, 0.5); // warm up: the JIT, the first blocks
            Stopwatch clock = Stopwatch.StartNew();
            long scans = reads(stream, seconds);
            return scans * stream.Channels / clock.Elapsed.TotalSeconds;
        }
    }

    private static long StreamReads(Stream stream, double seconds)
    {
        long scans = 0;
        for (Stopwatch clock = Stopwatch.StartNew(); clock.Elapsed.TotalSeconds < seconds;)
            scans += stream.Read(stream.BlockScans, -1).Scans;
        return scans;
    }

    private static long LibraryReads(Stream stream, double seconds)
    {
        var samples = new ushort[stream.BlockScans * stream.Channels];
        GCHandle pinned = GCHandle.Alloc(samples, GCHandleType.Pinned);
        try
        {
            long scans = 0;
            StreamBlock block;
            for (Stopwatch clock = Stopwatch.StartNew(); clock.Elapsed.TotalSeconds < seconds;)
                scans += StreamNativeMethods.KVD4093_ReadStream(stream.NativeStream, pinned.AddrOfPinnedObject(),
                                                                (uint)stream.BlockScans, -1, out block);
            return scans;
        }
        finally
        {
            pinned.Free();
        }
    }
}
