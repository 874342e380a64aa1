namespace Kvd4093
{
    /// <summary>
    /// Scans handed out by a stream, one after the other: Samples[k, j] is
    /// channel firstChannel + j of scan FirstScan + k. ScansLostBefore scans
    /// were lost just before it (the gap is FirstScan - ScansLostBefore to
    /// FirstScan - 1), for the reason GapCause gives.
    /// </summary>
    public sealed class ScanBlock
    {
        internal ScanBlock(ushort[,] samples, StreamBlock where)
        {
            Samples = samples;
            FirstScan = where.FirstScan;
            ScansLostBefore = where.ScansLostBefore;
            GapCause = (GapCause)where.GapCause;
        }

        public ushort[,] Samples { get; private set; }
        public long FirstScan { get; private set; }
        public long ScansLostBefore { get; private set; }
        public GapCause GapCause { get; private set; }

        /// <summary>Scans in the block: Samples.GetLength(0).</summary>
        public int Scans { get { return Samples.GetLength(0); } }
    }
}
