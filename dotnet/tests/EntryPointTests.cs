using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>Every declared entry point against what the loaders find: the export tables of
    /// both built Windows DLLs, the Linux libraries through the DLL map, and the headers.</summary>
    [TestFixture]
    public class EntryPointTests
    {
        [TestCase(typeof(NativeMethods), "win64", "KVD4093.dll", PeFile.MachineAmd64)]
        [TestCase(typeof(NativeMethods), "win32", "KVD4093.dll", PeFile.MachineI386)]
        [TestCase(typeof(StreamNativeMethods), "win64", "KVD4093Stream.dll", PeFile.MachineAmd64)]
        [TestCase(typeof(StreamNativeMethods), "win32", "KVD4093Stream.dll", PeFile.MachineI386)]
        public void EveryEntryPointIsInTheWindowsExportTable(Type declarations, string build, string dll, ushort machine)
        {
            string path = Path.Combine(build == "win64" ? TestPlace.Win64Dir : TestPlace.Win32Dir, dll);
            if (!File.Exists(path))
                Assert.Ignore("{0} is not built (make test-dotnet builds it where mingw-w64 is installed)", path);
            var pe = new PeFile(path);
            Assert.AreEqual(machine, pe.Machine, path);
            string[] missing = EntryPoints(declarations).Where(name => !pe.ExportNames.Contains(name)).ToArray();
            CollectionAssert.IsEmpty(missing, "not exported by " + path);
        }

        [TestCase(typeof(NativeMethods))]
        [TestCase(typeof(StreamNativeMethods))]
        public void EveryEntryPointResolvesInTheLinuxLibrary(Type declarations)
        {
            foreach (MethodInfo method in Imports(declarations))
                Assert.DoesNotThrow(() => Marshal.Prelink(method), method.Name);
        }

        [TestCase(typeof(NativeMethods), "include/KVD4093.h")]
        [TestCase(typeof(StreamNativeMethods), "include/KVD4093_stream.h")]
        public void TheDeclarationsAreTheHeadersFunctions(Type declarations, string header)
        {
            string text = File.ReadAllText(Path.Combine(TestPlace.SourceDir, header));
            var declared = new SortedSet<string>(Regex.Matches(text, @"KVD4093_CALL\s+(\w+)\s*\(").Cast<Match>()
                                                    .Select(match => match.Groups[1].Value));
            var bound = new SortedSet<string>(EntryPoints(declarations).Select(Undecorated));
            CollectionAssert.AreEqual(declared, bound);
            Assert.AreEqual(declared.Count, Imports(declarations).Count(), "one declaration a function");
        }

        private static IEnumerable<MethodInfo> Imports(Type declarations)
        {
            return declarations.GetMethods(BindingFlags.Public | BindingFlags.Static)
                               .Where(method => method.GetCustomAttributes(typeof(DllImportAttribute), false).Length > 0);
        }

        private static IEnumerable<string> EntryPoints(Type declarations)
        {
            return Imports(declarations).Select(method =>
                ((DllImportAttribute)method.GetCustomAttributes(typeof(DllImportAttribute), false)[0]).EntryPoint);
        }

        // _Name@8 -> Name: the function the decorated stdcall name stands for.
        private static string Undecorated(string entryPoint)
        {
            Match decorated = Regex.Match(entryPoint, @"^_(\w+)@\d+$");
            return decorated.Success ? decorated.Groups[1].Value : entryPoint;
        }
    }
}
