using System;

namespace Kvd4093
{
    /// <summary>
    /// A stream started with OnOverrun.Stop ended because the program took its
    /// scans more slowly than the card delivered them and the buffer was full.
    /// Every scan read before was handed out first; ScansRead says how many.
    /// </summary>
    [Serializable]
    public class OverrunException : Exception
    {
        public OverrunException(long scansRead)
            : base(string.Format("the stream's buffer was full and the stream ended after {0} scans: " +
                                 "read it faster, give it a longer buffer or start it with OnOverrun.Continue", scansRead))
        {
            ScansRead = scansRead;
        }

        public long ScansRead { get; private set; }
    }
}
