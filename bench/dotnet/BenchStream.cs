// Stream.Read under Mono against the stream library's own reads on the same
// unpaced virtual card, 4 channels at the card's fastest 10 million samples a
// second: the samples a second that Stream.Read hands a C# program, into
// the program's own array and as a new array each block, and those a loop of
// KVD4093_ReadStream into one pinned buffer gets, called from the same
// program, in blocks of the stream's block size. Stream.Read should deliver
// 0.9 of the library's reads or more; bench_stream's BM_ReadStream gives the
// same reads from C.
//   KVD4093_VIRTUAL_CARDS=7 KVD4093_VIRTUAL_PACING=off mono BenchStream.exe [ROUNDS]
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Runtime.InteropServices;
using Kvd4093;

internal static class BenchStream
{
    private const int LastChannel = 3;
    private const double ScanRate = 10000000.0 / (LastChannel + 1);

    private static int Main(string[] arguments)
    {
        int rounds = arguments.Length > 0 ? int.Parse(arguments[0]) : 7;
        var library = new List<double>();
        var into = new List<double>();
        var arrays = new List<double>();
        using (Card card = Card.Open(0))
        {
            // Round after round, one second each, so that what else the machine does falls on all three.
            for (int round = 0; round < rounds; round++)
            {
                library.Add(SamplesPerSecond(card, 1, LibraryReads));
                into.Add(SamplesPerSecond(card, 1, StreamReadsIntoOneArray));
                arrays.Add(SamplesPerSecond(card, 1, StreamReadsOfNewArrays));
            }
        }
        double libraryMedian = Median(library), intoMedian = Median(into), arraysMedian = Median(arrays);
        Console.WriteLine("medians of {0} rounds of 1 s:", rounds);
        Console.WriteLine("KVD4093_ReadStream from C#:        {0:F1} M samples/s", libraryMedian / 1e6);
        Console.WriteLine("Stream.Read(samples, -1):          {0:F1} M samples/s, {1:F3} of it (goal: 0.9 or more)",
                          intoMedian / 1e6, intoMedian / libraryMedian);
        Console.WriteLine("Stream.Read(scans, -1), new array: {0:F1} M samples/s, {1:F3} of it",
                          arraysMedian / 1e6, arraysMedian / libraryMedian);
        return intoMedian >= 0.9 * libraryMedian ? 0 : 1;
    }

    private static double Median(List<double> figures)
    {
        figures.Sort();
        return figures[figures.Count / 2];
    }

    private static double SamplesPerSecond(Card card, double seconds, Func<Stream, double, long> reads)
    {
        using (Stream stream = card.Start(0, LastChannel, ScanRate, onOverrun: OnOverrun.Continue))
        {
            reads(stream, 0.2); // warm up: the JIT, the first blocks
            Stopwatch clock = Stopwatch.StartNew();
            long scans = reads(stream, seconds);
            return scans * stream.Channels / clock.Elapsed.TotalSeconds;
        }
    }

    private static long StreamReadsIntoOneArray(Stream stream, double seconds)
    {
        var samples = new ushort[stream.BlockScans, stream.Channels];
        long scans = 0;
        for (Stopwatch clock = Stopwatch.StartNew(); clock.Elapsed.TotalSeconds < seconds;)
            scans += stream.Read(samples, -1).Scans;
        return scans;
    }

    private static long StreamReadsOfNewArrays(Stream stream, double seconds)
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
