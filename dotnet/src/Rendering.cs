using System;
using System.Text;

namespace Kvd4093
{
    /// <summary>One row of the message table: a logged message's Chinese text, its GBK bytes
    /// ("%d" where a number stands) and its English.</summary>
    internal sealed class Rendering
    {
        private const string Hole = "%d";
        private readonly byte[] before;
        private readonly byte[] after;
        private readonly bool hasNumber;

        public Rendering(string chinese, string gbkHex, string english)
        {
            Chinese = chinese;
            English = english;
            byte[] logged = FromHex(gbkHex);
            int at = IndexOf(logged, Encoding.ASCII.GetBytes(Hole));
            hasNumber = at >= 0;
            before = hasNumber ? Slice(logged, 0, at) : logged;
            after = hasNumber ? Slice(logged, at + Hole.Length, logged.Length - at - Hole.Length) : new byte[0];
        }

        public string Chinese { get; private set; }
        public string English { get; private set; }

        /// <summary>Whether logged is this message; number: the number in it, if it carries one.
        /// GBK's second bytes are never ASCII digits, so digits are whole characters.</summary>
        public bool Matches(byte[] logged, out string number)
        {
            number = null;
            if (!hasNumber)
                return Same(logged, 0, before);
            int middle = logged.Length - before.Length - after.Length;
            if (middle <= 0 || !Same(logged, 0, before, before.Length) || !Same(logged, logged.Length - after.Length, after, after.Length))
                return false;
            string digits = Encoding.ASCII.GetString(logged, before.Length, middle);
            if (!IsNumber(digits))
                return false;
            number = digits;
            return true;
        }

        public string Fill(string text, string number)
        {
            return number == null ? text : text.Replace(Hole, number);
        }

        private static bool IsNumber(string text)
        {
            string digits = text.StartsWith("-", StringComparison.Ordinal) ? text.Substring(1) : text;
            if (digits.Length == 0)
                return false;
            foreach (char c in digits)
                if (c < '0' || c > '9')
                    return false;
            return true;
        }

        private static bool Same(byte[] logged, int offset, byte[] part)
        {
            return logged.Length == part.Length && Same(logged, offset, part, part.Length);
        }

        private static bool Same(byte[] logged, int offset, byte[] part, int count)
        {
            for (int i = 0; i < count; i++)
                if (logged[offset + i] != part[i])
                    return false;
            return true;
        }

        private static int IndexOf(byte[] bytes, byte[] part)
        {
            for (int i = 0; i + part.Length <= bytes.Length; i++)
                if (Same(bytes, i, part, part.Length))
                    return i;
            return -1;
        }

        private static byte[] Slice(byte[] bytes, int start, int count)
        {
            var slice = new byte[count];
            Array.Copy(bytes, start, slice, 0, count);
            return slice;
        }

        private static byte[] FromHex(string hex)
        {
            var bytes = new byte[hex.Length / 2];
            for (int i = 0; i < bytes.Length; i++)
                bytes[i] = Convert.ToByte(hex.Substring(2 * i, 2), 16);
            return bytes;
        }
    }
}
