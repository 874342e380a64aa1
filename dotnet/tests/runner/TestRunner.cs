using System;
using System.IO;
using System.Xml;

// Runs the NUnit tests of an assembly with Debian's NUnit console runner, in a
// fresh folder of their own: settings, home, working directory and the trace
// of the library's requests, with virtual cards of physical IDs 7 and 9.
// Ends with the line "N passed, N failed, N skipped" and a status of 1 when a
// test failed.
internal static class TestRunner
{
    private static int Main(string[] arguments)
    {
        if (arguments.Length != 1)
        {
            Console.Error.WriteLine("usage: Kvd4093TestRunner.exe TESTS.dll");
            return 2;
        }
        string tests = Path.GetFullPath(arguments[0]);
        string folder = Path.Combine(Path.GetTempPath(), "kvd4093-dotnet-" + Guid.NewGuid().ToString("N"));
        Directory.CreateDirectory(folder);
        try
        {
            Isolate(folder);
            string results = Path.Combine(folder, "results.xml");
            NUnit.ConsoleRunner.Runner.Main(new[] { tests, "-nologo", "-noshadow", "-labels", "-xml=" + results });
            return Summarise(results);
        }
        finally
        {
            Directory.SetCurrentDirectory(Path.GetTempPath());
            Directory.Delete(folder, true);
        }
    }

    // Before the library loads: it reads KVD4093_TRACE then, the others at every call.
    private static void Isolate(string folder)
    {
        Environment.SetEnvironmentVariable("HOME", folder);
        Environment.SetEnvironmentVariable("XDG_CONFIG_HOME", Path.Combine(folder, "config"));
        Environment.SetEnvironmentVariable("KVD4093_SETTINGS", Path.Combine(folder, "settings.reg"));
        Environment.SetEnvironmentVariable("KVD4093_TRACE", Path.Combine(folder, "trace.txt"));
        Environment.SetEnvironmentVariable("KVD4093_VIRTUAL_CARDS", "7,9");
        Environment.SetEnvironmentVariable("KVD4093_VIRTUAL_PACING", null);
        Environment.SetEnvironmentVariable("KVD4093_VIRTUAL_NOISE", null);
        Directory.SetCurrentDirectory(folder);
    }

    private static int Summarise(string results)
    {
        if (!File.Exists(results))
        {
            Console.WriteLine("0 passed, 1 failed, 0 skipped (NUnit wrote no results)");
            return 1;
        }
        int passed = 0, failed = 0, skipped = 0;
        var document = new XmlDocument();
        document.Load(results);
        foreach (XmlElement test in document.GetElementsByTagName("test-case"))
        {
            string result = test.GetAttribute("result");
            if (result == "Success")
                passed++;
            else if (result == "Failure" || result == "Error" || result == "NotRunnable")
                failed++;
            else
                skipped++;
        }
        Console.WriteLine("{0} passed, {1} failed, {2} skipped", passed, failed, skipped);
        return failed == 0 && passed > 0 ? 0 : 1;
    }
}
