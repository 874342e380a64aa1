using System;
using System.IO;
using System.Linq;

namespace Kvd4093.Tests
{
    /// <summary>The samples of a CSV file of scans: one line a scan after the header, the channels
    /// in the columns from firstColumn on.</summary>
    internal static class CsvScans
    {
        public static ushort[,] Read(string path, int firstColumn)
        {
            string[][] rows = File.ReadAllLines(path).Skip(1).Where(line => line.Length > 0)
                                  .Select(line => line.Split(',')).ToArray();
            int channels = rows.Length == 0 ? 0 : rows[0].Length - firstColumn;
            var samples = new ushort[rows.Length, channels];
            for (int scan = 0; scan < rows.Length; scan++)
                for (int channel = 0; channel < channels; channel++)
                    samples[scan, channel] = ushort.Parse(rows[scan][firstColumn + channel]);
            return samples;
        }
    }
}
