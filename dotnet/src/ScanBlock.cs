namespace Kvd4093
{
    /// <summary>
    /// Scans handed out by a stream, one after the other: Samples[k, j] is
    /// channel firstChannel + j of scan FirstScan + k. ScansLostBefore scans
    /// were lost just before it (the gap is FirstScan - ScansLostBefore to
    /// FirstScan - 1), for the reason GapCause gives. From Stream.Read(scans)
    /// Samples holds the block's scans alone; from Stream.Read(samples) it is
    /// the caller's array, of which the first Scans rows are the block's.
    /// </summary>
    public sealed class ScanBlock
    {
        internal ScanBlock(ushort[,] samples, StreamBlock where)
            : this(samples, samples.GetLength(0), where)
        {
        }

        internal ScanBlock(ushort[,] samples, int scans, StreamBlock where)
        {
            Samples = samples;
            Scans = scans;
            FirstScan = where.FirstScan;
            ScansLostBefore = where.ScansLostBefore;
            GapCause = (GapCause)where.GapCause;
        }

        public ushort[,] Samples { get; private set; }
        public long FirstScan { get; private set; }
        public long ScansLostBefore { get; private set; }
        public GapCause GapCause { get; private set; }

        /// <summary>Scans in the block: the first Scans rows of Samples.</summary>
        public int Scans { get; private set; }
    }
}
