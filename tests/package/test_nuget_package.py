"""The NuGet package of the .NET binding: its layout, the machine of each
native library in it, and a C# program compiled against the packaged
assembly and run under Mono with the packaged Linux libraries."""

import shutil
import struct
import xml.etree.ElementTree as ElementTree
import zipfile

import pytest

from conftest import package_file, run

X64, X86 = 0x8664, 0x014C  # PE machine types
ELF_X86_64 = 62

NATIVE = {
    "runtimes/win-x64/native/KVD4093.dll": ("pe", X64),
    "runtimes/win-x64/native/KVD4093Stream.dll": ("pe", X64),
    "runtimes/win-x86/native/KVD4093.dll": ("pe", X86),
    "runtimes/win-x86/native/KVD4093Stream.dll": ("pe", X86),
    "runtimes/linux-x64/native/libkvd4093.so.1": ("elf", ELF_X86_64),
    "runtimes/linux-x64/native/libkvd4093stream.so.1": ("elf", ELF_X86_64),
}
PACKAGE_PARTS = ["[Content_Types].xml", "_rels/.rels", "Kvd4093.nuspec", "build/Kvd4093.targets",
                 "lib/net461/Kvd4093.dll", "lib/net461/Kvd4093.dll.config",
                 "package/services/metadata/core-properties/kvd4093.psmdcp"]  # fmt: skip

# The interface a program of the package's users relies on, as written in its documentation.
PROGRAM = """
using System;
using Kvd4093;
static class Program {
    static int Main() {
        using (var card = Card.OpenById(7)) {
            ushort[,] scans = card.Acquire(1000, 0, 3, 10000);
            ADSettings settings = card.LoadSettings();
            using (Stream stream = card.Start(0, 3, 10000, 2, OnOverrun.Continue)) {
                ScanBlock block = stream.Read(500, 5000);
                long first = block.FirstScan, lost = block.ScansLostBefore;
                Console.WriteLine("{0} {1} {2} {3} {4}", scans.GetLength(0), settings.Frequency,
                                  block.Samples.GetLength(0), block.Samples.GetLength(1), first + lost);
            }
        }
        try { Card.OpenById(99); }
        catch (Kvd4093Exception failure) { Console.WriteLine("{0}|{1}", failure.Function, failure.Message); }
        return 0;
    }
}
"""


@pytest.fixture(scope="module")
def nuget_package(package_dir, version):
    return package_file(package_dir, "Kvd4093.%s.nupkg" % version)


def machine(kind, image):
    if kind == "pe":
        header = struct.unpack_from("<I", image, 0x3C)[0]
        assert image[header:header + 4] == b"PE\0\0"
        return struct.unpack_from("<H", image, header + 4)[0]
    assert image[:4] == b"\x7fELF"
    return struct.unpack_from("<H", image, 18)[0]


def test_the_package_holds_the_assembly_the_targets_and_each_native_library_for_its_machine(nuget_package):
    with zipfile.ZipFile(nuget_package) as package:
        names = set(package.namelist())
        missing = [name for name in PACKAGE_PARTS + list(NATIVE) if name not in names]
        assert missing == []
        machines = {name: (kind, machine(kind, package.read(name))) for name, (kind, _) in NATIVE.items()}
    assert machines == NATIVE


def test_the_nuspec_names_the_package_and_the_projects_version(nuget_package, version):
    with zipfile.ZipFile(nuget_package) as package:
        metadata = ElementTree.fromstring(package.read("Kvd4093.nuspec")).find("{*}metadata")
    assert (metadata.findtext("{*}id"), metadata.findtext("{*}version")) == ("Kvd4093", version)


def test_a_program_built_against_the_packaged_assembly_runs_under_mono(nuget_package, tmp_path):
    if not (shutil.which("mcs") and shutil.which("mono")):
        pytest.skip("mcs or mono is not installed (mono-mcs, mono-runtime)")
    with zipfile.ZipFile(nuget_package) as package:
        for name in ["lib/net461/Kvd4093.dll", "lib/net461/Kvd4093.dll.config",
                     "runtimes/linux-x64/native/libkvd4093.so.1", "runtimes/linux-x64/native/libkvd4093stream.so.1"]:  # fmt: skip
            (tmp_path / name.rsplit("/", 1)[1]).write_bytes(package.read(name))
    (tmp_path / "Program.cs").write_text(PROGRAM)
    built = run(["mcs", "-r:Kvd4093.dll", "Program.cs"], tmp_path)
    assert built.returncode == 0, built.stdout + built.stderr
    ran = run(["mono", "Program.exe"], tmp_path, {"KVD4093_VIRTUAL_CARDS": "7", "KVD4093_SETTINGS": str(tmp_path / "s.reg")})
    assert ran.returncode == 0, ran.stdout + ran.stderr
    assert ran.stdout.splitlines() == ["1000 25000 500 4 0", "KVD4093_CreateDeviceEx|no device with physical ID 99 exists"]
