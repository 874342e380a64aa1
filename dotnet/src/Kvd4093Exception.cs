using System;

namespace Kvd4093
{
    /// <summary>
    /// A library call failed. Message is the failure in English (the library's
    /// own text where it wrote English or the table has no rendering),
    /// LibraryMessage the library's text as it logged it (Chinese, decoded from
    /// GBK; "No error message" when it logged nothing), Function the library
    /// function that failed and Code the thread's last-error code it set (1 or
    /// 2 for a logged failure, 0 when nothing was logged).
    /// </summary>
    [Serializable]
    public class Kvd4093Exception : Exception
    {
        public Kvd4093Exception(string function, uint code, string libraryMessage, string english)
            : base(english ?? libraryMessage)
        {
            Function = function;
            Code = code;
            LibraryMessage = libraryMessage;
        }

        public string Function { get; private set; }
        public uint Code { get; private set; }
        public string LibraryMessage { get; private set; }

        public override string ToString()
        {
            string english = Message == LibraryMessage ? "" : " (" + Message + ")";
            return string.Format("{0} failed: {1}{2} (code {3})", Function, LibraryMessage, english, Code);
        }
    }
}
