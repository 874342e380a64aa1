"""The Python wheels and the Windows archive: the Linux wheel installed into a
fresh virtual environment and used with no KVD4093_LIBRARY; each package's
files against the files it must hold, with the project's version."""

import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

from conftest import REPOSITORY, package_file, run

MODULES = sorted("kvd4093/" + path.name for path in (REPOSITORY / "python" / "kvd4093").glob("*.py"))
X64 = 0x8664
X86 = 0x14C

ACQUIRE = """
import kvd4093, kvd4093._library
with kvd4093.open(physical_id=7) as card:
    data = card.acquire(4000, channels=(0, 3), rate=10_000)
print(data.dtype, data.shape)
print(kvd4093._library.library().path)
print(kvd4093.__version__)
"""


def wheel_files(version, libraries):
    info = "kvd4093-%s.dist-info/" % version
    return sorted(MODULES + ["kvd4093/" + library for library in libraries] + [
        info + name for name in ("METADATA", "RECORD", "WHEEL", "top_level.txt")])  # fmt: skip


def wheel_field(wheel, name, field):
    with zipfile.ZipFile(wheel) as archive:
        text = archive.read("kvd4093-%s.dist-info/%s" % (wheel.name.split("-")[1], name)).decode()
    return [line.split(": ", 1)[1] for line in text.splitlines() if line.startswith(field + ": ")]


def pe_machine(image):
    """The machine a Windows DLL or program is built for, from its PE header."""
    header = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[:2] == b"MZ" and image[header:header + 4] == b"PE\0\0"
    return struct.unpack_from("<H", image, header + 4)[0]


def resource_version(image):
    """The file version of a DLL's version resource ("1.0.0"), from its fixed part (VS_FIXEDFILEINFO)."""
    at = image.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, "no version resource"
    most, least = struct.unpack_from("<II", image, at + 8)
    return "%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16)


@pytest.fixture(scope="module")
def linux_wheel(package_dir, version):
    return package_file(package_dir, "kvd4093-%s-py3-none-linux_x86_64.whl" % version)


@pytest.fixture(scope="module")
def windows_wheel(package_dir, version):
    return package_file(package_dir, "kvd4093-%s-py3-none-win_amd64.whl" % version)


def test_the_linux_wheel_installs_into_a_fresh_environment_and_acquires_without_kvd4093_library(
        linux_wheel, version, tmp_path):  # fmt: skip
    created = run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", "v"], tmp_path)
    assert created.returncode == 0, created.stderr
    python = tmp_path / "v" / "bin" / "python"
    installed = run([python, "-m", "pip", "install", "--no-index", linux_wheel], tmp_path)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    acquired = run([python, "-c", ACQUIRE], tmp_path, {"KVD4093_VIRTUAL_CARDS": "7"})
    assert acquired.returncode == 0, acquired.stderr
    site = tmp_path / "v" / "lib" / ("python%d.%d" % sys.version_info[:2]) / "site-packages"
    assert acquired.stdout.splitlines() == ["uint16 (4000, 4)", str(site / "kvd4093" / "libkvd4093.so.1"), version]
    # KVD4093_LIBRARY, when set, still wins over the library in the package.
    chosen = run([python, "-c", ACQUIRE], tmp_path, {"KVD4093_VIRTUAL_CARDS": "7", "KVD4093_LIBRARY": "/nowhere.so"})
    assert chosen.returncode != 0 and "cannot load the KVD4093 library '/nowhere.so'" in chosen.stderr


def test_the_linux_wheel_carries_both_libraries(linux_wheel, version):
    libraries = ["libkvd4093.so.1", "libkvd4093stream.so.1"]
    with zipfile.ZipFile(linux_wheel) as wheel:
        assert sorted(wheel.namelist()) == wheel_files(version, libraries)
        images = {name: wheel.read("kvd4093/" + name) for name in libraries}
        stamped = wheel.read("kvd4093/_version.py").decode()
    for name, image in images.items():
        assert image[:4] == b"\x7fELF" and name.encode() + b"\0" in image, name
    assert "__version__ = '%s'" % version in stamped
    assert wheel_field(linux_wheel, "WHEEL", "Tag") == ["py3-none-linux_x86_64"]
    assert wheel_field(linux_wheel, "METADATA", "Version") == [version]


def test_the_windows_wheel_carries_the_64_bit_dlls(windows_wheel, version):
    with zipfile.ZipFile(windows_wheel) as wheel:
        assert sorted(wheel.namelist()) == wheel_files(version, ["KVD4093.dll", "KVD4093Stream.dll"])
        dll = wheel.read("kvd4093/KVD4093.dll")
        stream_dll = wheel.read("kvd4093/KVD4093Stream.dll")
    assert (pe_machine(dll), pe_machine(stream_dll)) == (X64, X64)
    assert resource_version(dll) == version
    assert wheel_field(windows_wheel, "WHEEL", "Tag") == ["py3-none-win_amd64"]
    assert wheel_field(windows_wheel, "WHEEL", "Root-Is-Purelib") == ["true"]
    assert wheel_field(windows_wheel, "METADATA", "Version") == [version]


def test_the_windows_archive_holds_the_dlls_of_both_libraries_the_tool_the_driver_and_the_documentation(
        package_dir, version):  # fmt: skip
    archive = package_file(package_dir, "kvd4093-%s-windows.zip" % version)
    top = "kvd4093-%s-windows/" % version
    pages = ["docs/" + path.name for path in (REPOSITORY / "docs").glob("*.md")]
    sources = list((REPOSITORY / "examples").glob("*.c"))
    examples = ["examples/" + path.name for path in sources]
    programs = ["x64/example_%s.exe" % path.stem for path in sources]
    libraries = [bits + "/" + name for bits in ("x64", "x86") for name in (
        "KVD4093.dll", "libKVD4093.dll.a", "KVD4093Stream.dll", "libKVD4093Stream.dll.a")]  # fmt: skip
    expected = ["README.md", "KVD4093.def", "include/KVD4093.h", "include/KVD4093_stream.h", "x64/kvd4093.exe",
                "driver/kvd4093card.sys", "driver/kvd4093card.exe", "driver/TEST-SIGNING.txt"
                ] + libraries + pages + examples + programs  # fmt: skip
    with zipfile.ZipFile(archive) as zipped:
        files = sorted(name[len(top):] for name in zipped.namelist() if not name.endswith("/"))
        assert all(name.startswith(top) for name in zipped.namelist())
        assert files == sorted(expected)
        machines = {name: pe_machine(zipped.read(top + name)) for name in expected if name.endswith((".dll", ".exe", ".sys"))}
        for bits in ("x64", "x86"):
            assert resource_version(zipped.read(top + bits + "/KVD4093.dll")) == version, bits
        table = zipped.read(top + "KVD4093.def").decode()
    assert machines == {name: X86 if name.startswith("x86/") else X64 for name in machines}
    assert table == (REPOSITORY / "src" / "host" / "KVD4093.def").read_text()


def test_the_readme_installs_the_packages_made(package_dir, version):
    made = sorted(path.name for path in package_dir.glob("kvd4093*%s*" % version) if path.is_file())
    assert made, "make package made nothing"
    readme = (REPOSITORY / "README.md").read_text()
    assert [name for name in made if name not in readme] == []
