namespace Kvd4093
{
    /// <summary>One card of a stream: its logical number and its physical ID.</summary>
    public sealed class CardId
    {
        internal CardId(StreamCard card)
        {
            int logical, physical;
            Number = NativeMethods.KVD4093_GetDeviceCurrentID(card.Device, out logical, out physical) != 0 ? logical : -1;
            PhysicalId = card.PhysicalId;
        }

        /// <summary>The logical number; -1 when the card did not answer.</summary>
        public int Number { get; private set; }

        public int PhysicalId { get; private set; }

        public override string ToString()
        {
            return string.Format("card {0} (physical ID {1})", Number, PhysicalId);
        }
    }
}
