namespace Kvd4093
{
    /// <summary>What a stream does when the program falls behind and its buffer is full.</summary>
    public enum OnOverrun
    {
        /// <summary>The stream ends; every scan read stays readable, then Read throws OverrunException.</summary>
        Stop = 0,
        /// <summary>Whole blocks are dropped and counted; the next block says how many scans were lost before it.</summary>
        Continue = 1,
    }
}
