using System;
using System.Diagnostics;
using System.IO;
using NUnit.Framework;

namespace Kvd4093.Tests
{
    /// <summary>Where the tests find what the build made (set by the check_dotnet target) and how
    /// they run programs: in the runner's own folder, with its environment.</summary>
    internal static class TestPlace
    {
        public static string Tool { get { return Variable("KVD4093TESTS_TOOL"); } }
        public static string SourceDir { get { return Variable("KVD4093TESTS_SOURCE_DIR"); } }
        public static string ProgramsDir { get { return Variable("KVD4093TESTS_PROGRAMS_DIR"); } }
        public static string Win64Dir { get { return Variable("KVD4093TESTS_WIN64_DIR"); } }
        public static string Win32Dir { get { return Variable("KVD4093TESTS_WIN32_DIR"); } }

        public static string Trace { get { return Variable("KVD4093_TRACE"); } }

        /// <summary>A new file name in the runner's folder.</summary>
        public static string NewFile(string extension)
        {
            return Path.Combine(Directory.GetCurrentDirectory(), Guid.NewGuid().ToString("N") + extension);
        }

        /// <summary>Runs a program to its end and returns its standard output; fails the test on a
        /// status other than 0.</summary>
        public static string Run(string program, string arguments)
        {
            var start = new ProcessStartInfo(program, arguments)
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            };
            using (Process process = Process.Start(start))
            {
                string output = process.StandardOutput.ReadToEnd();
                string errors = process.StandardError.ReadToEnd();
                process.WaitForExit();
                Assert.AreEqual(0, process.ExitCode, program + " " + arguments + ":\n" + output + errors);
                return output;
            }
        }

        public static string RunMono(string program, string arguments)
        {
            return Run("mono", Path.Combine(ProgramsDir, program) + " " + arguments);
        }

        private static string Variable(string name)
        {
            string value = Environment.GetEnvironmentVariable(name);
            if (string.IsNullOrEmpty(value))
                Assert.Fail(name + " is not set: run the tests with make test-dotnet");
            return value;
        }
    }
}
