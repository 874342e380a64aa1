using System;
using System.Text;

namespace Kvd4093
{
    /// <summary>
    /// The library's texts: GBK (code page 936) bytes, decoded for .NET, and
    /// the English rendering of each message the library logs (the table of
    /// include/KVD4093_messages_english.h, which a test holds this copy to).
    /// Where the runtime has no code page 936 (Mono without its CJK encodings,
    /// .NET 6 without a code-page provider) the messages of the table are still
    /// decoded, from the table; any other character above ASCII becomes U+FFFD.
    /// </summary>
    public static class LibraryMessages
    {
        private static readonly Encoding Gbk = FindGbk();

        private static readonly Rendering[] Renderings =
        {
            new Rendering("设备句柄hDevice无效", "c9e8b1b8bee4b1fa68446576696365ceded0a7",
                          "the device handle hDevice is not valid"),
            new Rendering("物理ID号=%d的设备不存在", "ceefc0ed4944bac53d2564b5c4c9e8b1b8b2bbb4e6d4da",
                          "no device with physical ID %d exists"),
            new Rendering("USB设备无效，请重新复位Windows系统", "555342c9e8b1b8ceded0a7a3acc7ebd6d8d0c2b8b4cebb57696e646f7773cfb5cdb3",
                          "the USB device is not valid; restart the Windows system"),
            new Rendering("置量程失败", "d6c3c1bfb3cccaa7b0dc",
                          "setting the range failed"),
            new Rendering("置硬件参数失败", "d6c3d3b2bcfeb2cecafdcaa7b0dc",
                          "setting the hardware parameters failed"),
            new Rendering("启动AD失败", "c6f4b6af4144caa7b0dc",
                          "starting AD failed"),
            new Rendering("初始化读失败", "b3f5cabcbbafb6c1caa7b0dc",
                          "the initial read failed"),
            new Rendering("读AD数据失败", "b6c14144cafdbeddcaa7b0dc",
                          "reading AD data failed"),
            new Rendering("文件名不能为空", "cec4bcfec3fbb2bbc4dcceaabfd5",
                          "the file name must not be empty"),
            new Rendering("文件句柄hFileObject无效", "cec4bcfebee4b1fa6846696c654f626a656374ceded0a7",
                          "the file handle hFileObject is not valid"),
        };

        /// <summary>True where the runtime decodes code page 936 itself.</summary>
        public static bool RuntimeHasGbk { get { return Gbk != null; } }

        /// <summary>The text of zero-terminated GBK bytes (all of them when there is no zero).</summary>
        public static string Decode(byte[] gbk)
        {
            int length = Array.IndexOf(gbk, (byte)0);
            if (length < 0)
                length = gbk.Length;
            if (Gbk != null)
                return Gbk.GetString(gbk, 0, length);
            var bytes = new byte[length];
            Array.Copy(gbk, bytes, length);
            string number;
            Rendering rendering = Find(bytes, out number);
            return rendering != null ? rendering.Fill(rendering.Chinese, number) : AsciiOnly(bytes);
        }

        /// <summary>The English of a logged message (GBK, without the "[name]" of the log's answer),
        /// its number filled in; null for a message the table does not hold, as for the English ones.</summary>
        public static string English(byte[] logged)
        {
            string number;
            Rendering rendering = Find(logged, out number);
            return rendering == null ? null : rendering.Fill(rendering.English, number);
        }

        private static Rendering Find(byte[] logged, out string number)
        {
            foreach (Rendering rendering in Renderings)
                if (rendering.Matches(logged, out number))
                    return rendering;
            number = null;
            return null;
        }

        // One U+FFFD for each character above ASCII: a GBK lead byte with its trail byte, or a lone byte.
        private static string AsciiOnly(byte[] bytes)
        {
            var text = new StringBuilder(bytes.Length);
            for (int i = 0; i < bytes.Length; i++)
            {
                text.Append(bytes[i] < 0x80 ? (char)bytes[i] : '\uFFFD');
                if (IsLeadByte(bytes[i]) && i + 1 < bytes.Length && IsTrailByte(bytes[i + 1]))
                    i++;
            }
            return text.ToString();
        }

        private static bool IsLeadByte(byte b)
        {
            return b >= 0x81 && b <= 0xFE;
        }

        private static bool IsTrailByte(byte b)
        {
            return b >= 0x40 && b <= 0xFE && b != 0x7F;
        }

        private static Encoding FindGbk()
        {
            try
            {
                return Encoding.GetEncoding(936);
            }
            catch (ArgumentException)
            {
                return null;
            }
            catch (NotSupportedException)
            {
                return null;
            }
        }
    }
}
