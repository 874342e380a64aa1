using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text;
using System.Text.RegularExpressions;
using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>The library's texts: the English table held to the header's, and the three texts of
    /// a failure as a program sees them.</summary>
    [TestFixture]
    public class MessageTests
    {
        // (the Chinese in the header's comment, the GBK bytes, the English) of each of its rows.
        public static IEnumerable<object[]> HeaderRows()
        {
            string header = Path.Combine(Environment.GetEnvironmentVariable("KVD4093TESTS_SOURCE_DIR") ?? ".",
                                         "include/KVD4093_messages_english.h");
            string text = File.ReadAllText(header);
            var row = new Regex(@"//\s*""([^""]*)""\s*\n\s*\{((?:\s*""(?:[^""\\]|\\.)*"")+)\s*,\s*""([^""]*)""\s*\}");
            foreach (Match match in row.Matches(text))
            {
                string logged = string.Concat(Regex.Matches(match.Groups[2].Value, @"""((?:[^""\\]|\\.)*)""")
                                                   .Cast<Match>().Select(part => part.Groups[1].Value));
                yield return new object[] { match.Groups[1].Value, Unescaped(logged), match.Groups[3].Value };
            }
        }

        [TestCaseSource("HeaderRows")]
        public void EachLoggedMessageHasTheHeadersEnglishAndText(string chinese, byte[] logged, string english)
        {
            byte[] withNumber = Filled(logged, "42");
            Assert.AreEqual(english.Replace("%d", "42"), LibraryMessages.English(withNumber));
            Assert.AreEqual(chinese.Replace("%d", "42"), LibraryMessages.Decode(withNumber));
        }

        [Test]
        public void EveryRowOfTheHeaderIsRead()
        {
            string header = Path.Combine(TestPlace.SourceDir, "include/KVD4093_messages_english.h");
            int rows = File.ReadAllLines(header).Count(line => line.TrimStart().StartsWith("{\"", StringComparison.Ordinal));
            Assert.AreEqual(rows, HeaderRows().Count());
        }

        // Without the runtime's code page 936 (Mono without its CJK encodings) a text outside the
        // table keeps its ASCII and gets one U+FFFD a character.
        [TestCase("No error message", "No error message", "No error message")]
        [TestCase("Sorry, there are no device drivers found in your system", "Sorry, there are no device drivers found in your system",
                  "Sorry, there are no device drivers found in your system")]
        [TestCase(@"ID 7 \xd6\xd0\xce\xc4!", "ID 7 中文!", "ID 7 \uFFFD\uFFFD!")]
        public void AMessageOutsideTheTableHasNoEnglishAndDecodesAsTheRuntimeCan(string message, string withGbk, string withoutGbk)
        {
            byte[] logged = Unescaped(message);
            Assert.IsNull(LibraryMessages.English(logged));
            Assert.AreEqual(LibraryMessages.RuntimeHasGbk ? withGbk : withoutGbk, LibraryMessages.Decode(logged));
        }

        [TestCase("OpenById", 99, "no device with physical ID 99 exists", "物理ID号=99的设备不存在", "KVD4093_CreateDeviceEx")]
        [TestCase("OpenById", -1, "no device with physical ID -1 exists", "物理ID号=-1的设备不存在", "KVD4093_CreateDeviceEx")]
        [TestCase("Open", 5, "Sorry, there are no device drivers found in your system", null, "KVD4093_CreateDevice")]
        public void AFailedOpenHasTheLibrarysTextsAndTheirEnglish(string open, int card, string english, string logged,
                                                                  string function)
        {
            Func<int, Card> opening = open == "Open" ? (Func<int, Card>)Card.Open : Card.OpenById;
            var failure = Assert.Throws<Kvd4093Exception>(() => opening(card));
            Assert.AreEqual(english, failure.Message);
            Assert.AreEqual(logged ?? english, failure.LibraryMessage, "a text the library wrote in English is its own message");
            Assert.AreEqual(function, failure.Function);
            Assert.AreEqual(1u, failure.Code);
        }

        private static byte[] Filled(byte[] logged, string number)
        {
            string latin = Encoding.GetEncoding(28591).GetString(logged).Replace("%d", number);
            return Encoding.GetEncoding(28591).GetBytes(latin);
        }

        // A C string literal's bytes: \xNN escapes and plain characters.
        private static byte[] Unescaped(string literal)
        {
            var bytes = new List<byte>();
            for (int i = 0; i < literal.Length; i++)
            {
                if (literal[i] == '\\' && literal[i + 1] == 'x')
                {
                    bytes.Add(Convert.ToByte(literal.Substring(i + 2, 2), 16));
                    i += 3;
                }
                else
                {
                    bytes.Add((byte)literal[i]);
                }
            }
            return bytes.ToArray();
        }
    }
}
