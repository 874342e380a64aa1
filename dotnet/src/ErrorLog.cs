using System;
using System.Text;

namespace Kvd4093
{
    /// <summary>Reads the library's error log: the newest message logged under a function's name.</summary>
    internal static class ErrorLog
    {
        // Room for the longest message the library logs (55 bytes) with a wide margin.
        private const int MessageRoom = 1024;

        /// <summary>The exception for a failed call of function, with the message the library logged
        /// for it; loggedAs names the entry when the library logs it under another function's name.</summary>
        public static Kvd4093Exception Failure(string function, string loggedAs = null)
        {
            byte[] name = Encoding.ASCII.GetBytes(loggedAs ?? function);
            var answer = new byte[MessageRoom + name.Length + 3];
            uint code = NativeMethods.KVD4093_GetLastErrorEx(ZeroTerminated(name), answer);
            byte[] logged = WithoutEcho(answer, name);
            return new Kvd4093Exception(function, code, LibraryMessages.Decode(logged), LibraryMessages.English(logged));
        }

        /// <summary>A failure the library did not log, told in English.</summary>
        public static Kvd4093Exception Unlogged(string function, string english)
        {
            return new Kvd4093Exception(function, 0, english, english);
        }

        public static byte[] ZeroTerminated(byte[] text)
        {
            var terminated = new byte[text.Length + 1];
            Array.Copy(text, terminated, text.Length);
            return terminated;
        }

        // The answer is "message[name]": the message alone, without its echo of the name.
        private static byte[] WithoutEcho(byte[] answer, byte[] name)
        {
            int length = Array.IndexOf(answer, (byte)0);
            if (length < 0)
                length = answer.Length;
            int echo = name.Length + 2;
            if (length >= echo && answer[length - echo] == (byte)'[' && answer[length - 1] == (byte)']')
                length -= echo;
            var logged = new byte[length];
            Array.Copy(answer, logged, length);
            return logged;
        }
    }
}
