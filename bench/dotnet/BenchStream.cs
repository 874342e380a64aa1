// Stream.Read under Mono against the stream library's own reads on the same
// unpaced virtual card, 4 channels at the card's fastest 10 million samples a
// second, in blocks of the stream's block size: the samples a second that
// each form of Stream.Read hands a C# program, against a loop of
// KVD4093_ReadStream called from the same program doing the same with the
// memory: into one pinned buffer for Stream.Read into the caller's array, into
// a new array each read for Stream.Read(scans). Each form should deliver 0.9
// of its loop or more. The two loops differ by what Mono's allocation of a
// new array costs (docs/dotnet.md); bench_stream's BM_ReadStream gives the
// first loop's reads from C.
//   KVD4093_VIRTUAL_CARDS=7 KVD4093_VIRTUAL_PACING=off mono BenchStream.exe [ROUNDS]
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Runtime.InteropServices;
using Kvd4093;

internal static class BenchStream
{
    private const int LastChannel = 3;
    private const double ScanRate = 10000000.0 / (LastChannel + 1);

    private static int Main(string[] arguments)
    {
        int rounds = arguments.Length > 0 ? int.Parse(arguments[0]) : 7;
        var forms = new Func<Stream, double, long>[]
        {
            LibraryReadsIntoOneBuffer, StreamReadsIntoOneArray, LibraryReadsIntoNewArrays, StreamReadsOfNewArrays,
        };
        var figures = forms.Select(form => new List<double>()).ToArray();
        using (Card card = Card.Open(0))
        {
            // Round after round, one second each, so that what else the machine does falls on all of them.
            for (int round = 0; round < rounds; round++)
                for (int form = 0; form < forms.Length; form++)
                    figures[form].Add(SamplesPerSecond(card, 1, forms[form]));
        }
        double[] medians = figures.Select(Median).ToArray();
        Console.WriteLine("medians of {0} rounds of 1 s:", rounds);
        Console.WriteLine("KVD4093_ReadStream into one buffer:         {0,8:F1} M samples/s", medians[0] / 1e6);
        Console.WriteLine("Stream.Read(samples, -1), one array:        {0,8:F1} M samples/s, {1:F3} of it (goal: 0.9 or more)",
                          medians[1] / 1e6, medians[1] / medians[0]);
        Console.WriteLine("KVD4093_ReadStream into a new array each:   {0,8:F1} M samples/s, {1:F3} of one buffer",
                          medians[2] / 1e6, medians[2] / medians[0]);
        Console.WriteLine("Stream.Read(scans, -1), a new array each:   {0,8:F1} M samples/s, {1:F3} of it (goal: 0.9 or more), {2:F3} of one buffer",
                          medians[3] / 1e6, medians[3] / medians[2], medians[3] / medians[0]);
        return medians[1] >= 0.9 * medians[0] && medians[3] >= 0.9 * medians[2] ? 0 : 1;
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

    private static long LibraryReadsIntoOneBuffer(Stream stream, double seconds)
    {
        var samples = new ushort[stream.BlockScans, stream.Channels];
        long scans = 0;
        for (Stopwatch clock = Stopwatch.StartNew(); clock.Elapsed.TotalSeconds < seconds;)
            scans += LibraryRead(stream, samples);
        return scans;
    }

    private static long LibraryReadsIntoNewArrays(Stream stream, double seconds)
    {
        long scans = 0;
        for (Stopwatch clock = Stopwatch.StartNew(); clock.Elapsed.TotalSeconds < seconds;)
            scans += LibraryRead(stream, new ushort[stream.BlockScans, stream.Channels]);
        return scans;
    }

    private static long LibraryRead(Stream stream, ushort[,] samples)
    {
        GCHandle pinned = GCHandle.Alloc(samples, GCHandleType.Pinned);
        try
        {
            StreamBlock block;
            return StreamNativeMethods.KVD4093_ReadStream(stream.NativeStream, pinned.AddrOfPinnedObject(),
                                                          (uint)samples.GetLength(0), -1, out block);
        }
        finally
        {
            pinned.Free();
        }
    }
}
