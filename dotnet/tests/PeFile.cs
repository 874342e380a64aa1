using System;
using System.Collections.Generic;
using System.IO;
using System.Text;

namespace Kvd4093.Tests
{
    /// <summary>What a Windows loader reads of a DLL: its machine type and the names of its
    /// export table, read from the PE headers, the section table and the export directory.</summary>
    internal sealed class PeFile
    {
        public const ushort MachineI386 = 0x014c;
        public const ushort MachineAmd64 = 0x8664;

        private readonly byte[] image;
        private readonly int sections;
        private readonly int sectionCount;

        public PeFile(string path)
        {
            image = File.ReadAllBytes(path);
            int header = ReadInt(0x3C);
            if (ReadInt(header) != 0x00004550)
                throw new InvalidDataException(path + " is no PE file");
            int coff = header + 4;
            Machine = ReadShort(coff);
            sectionCount = ReadShort(coff + 2);
            int optional = coff + 20;
            bool pe32Plus = ReadShort(optional) == 0x20b;
            int directories = optional + (pe32Plus ? 112 : 96);
            sections = optional + ReadShort(coff + 16);
            ExportNames = ReadExportNames(ReadInt(directories));
        }

        public ushort Machine { get; private set; }
        public HashSet<string> ExportNames { get; private set; }

        private HashSet<string> ReadExportNames(int exportRva)
        {
            var names = new HashSet<string>();
            if (exportRva == 0)
                return names;
            int directory = Offset(exportRva);
            int count = ReadInt(directory + 24);
            int table = Offset(ReadInt(directory + 32));
            for (int i = 0; i < count; i++)
                names.Add(ReadText(Offset(ReadInt(table + 4 * i))));
            return names;
        }

        // The file offset of a relative virtual address, through the section that holds it.
        private int Offset(int rva)
        {
            for (int i = 0; i < sectionCount; i++)
            {
                int section = sections + 40 * i;
                int address = ReadInt(section + 12), size = Math.Max(ReadInt(section + 8), ReadInt(section + 16));
                if (rva >= address && rva < address + size)
                    return rva - address + ReadInt(section + 20);
            }
            throw new InvalidDataException("no section holds address 0x" + rva.ToString("x"));
        }

        private string ReadText(int offset)
        {
            int end = Array.IndexOf(image, (byte)0, offset);
            return Encoding.ASCII.GetString(image, offset, end - offset);
        }

        private int ReadInt(int offset)
        {
            return BitConverter.ToInt32(image, offset);
        }

        private ushort ReadShort(int offset)
        {
            return BitConverter.ToUInt16(image, offset);
        }
    }
}
