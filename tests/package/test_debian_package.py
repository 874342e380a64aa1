"""The Debian package as a user gets it: installed with dpkg -i, its tool, its
manual page and its development files used as a user would use them, then
removed with dpkg -r without leaving anything of it; lintian finds no error.

Installing needs root and a machine without the package: elsewhere the
package is unpacked with dpkg-deb -x into a folder instead, which the tests
say, and the removal is not tried. Runs on one machine take turns."""

import fcntl
import os
import shutil
import subprocess
import warnings
from pathlib import Path

import pytest

from conftest import REPOSITORY, package_file, run

MULTIARCH = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True, text=True).stdout.strip()
LIBRARY_DIR = "usr/lib/" + MULTIARCH


def dpkg_status():
    result = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", "kvd4093"], capture_output=True, text=True)
    return result.stdout if result.returncode == 0 else "not-installed"


class Installation:
    """The package on this machine (root "/") or unpacked into a folder."""

    def __init__(self, deb, folder):
        self.deb = deb
        self.installed = os.geteuid() == 0 and dpkg_status() == "not-installed"
        self.root = Path("/") if self.installed else folder / "root"
        self.files = []
        if self.installed:
            self.result = subprocess.run(["dpkg", "-i", str(deb)], capture_output=True, text=True)
            listed = subprocess.run(["dpkg", "-L", "kvd4093"], capture_output=True, text=True).stdout.splitlines()
            self.files = [Path(path) for path in listed if os.path.islink(path) or os.path.isfile(path)]
        else:
            why = "not run as root" if os.geteuid() != 0 else "kvd4093 is installed on this machine already"
            warnings.warn("%s: the package is unpacked with dpkg-deb -x into %s, not installed" % (why, self.root))
            self.result = subprocess.run(["dpkg-deb", "-x", str(deb), str(self.root)], capture_output=True, text=True)

    def path(self, relative):
        return self.root / relative

    def environment(self):
        """What a user sets for an install in a folder of their own (none for the system's)."""
        if self.installed:
            return {}
        return {
            "PATH": "%s:%s" % (self.path("usr/bin"), os.environ["PATH"]),
            "LD_LIBRARY_PATH": str(self.path(LIBRARY_DIR)),
            "PKG_CONFIG_PATH": str(self.path(LIBRARY_DIR + "/pkgconfig")),
            "CMAKE_PREFIX_PATH": str(self.path("usr")),
        }

    def remove(self):
        return subprocess.run(["dpkg", "-r", "kvd4093"], capture_output=True, text=True)


@pytest.fixture(scope="module")
def package(package_dir, version, tmp_path_factory):
    deb = package_file(package_dir, "kvd4093_%s_%s.deb" % (version, subprocess.check_output(
        ["dpkg", "--print-architecture"], text=True).strip()))  # fmt: skip
    lock = os.open("/tmp/kvd4093-package-test.lock", os.O_RDONLY | os.O_CREAT, 0o644)
    try:
        fcntl.flock(lock, fcntl.LOCK_EX)
        installation = Installation(deb, tmp_path_factory.mktemp("deb"))
        yield installation
        if installation.installed and dpkg_status() != "not-installed":
            installation.remove()
    finally:
        os.close(lock)


@pytest.fixture
def folder(tmp_path):
    return tmp_path


def test_dpkg_installs_it_with_its_dependencies_and_the_library_cache(package, version):
    assert package.result.returncode == 0, package.result.stdout + package.result.stderr
    fields = subprocess.run(["dpkg-deb", "-f", str(package.deb), "Package", "Version", "Depends"],
                            capture_output=True, text=True).stdout  # fmt: skip
    assert "Package: kvd4093\nVersion: %s\n" % version in fields
    depends = fields.split("Depends: ")[1]
    assert "libusb-1.0-0" in depends and "libc6" in depends and "libstdc++6" in depends, depends
    if package.installed:
        assert dpkg_status() == "installed"
        cache = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
        assert "libkvd4093.so.1 (" in cache and "libkvd4093stream.so.1 (" in cache


def test_it_holds_the_libraries_headers_rule_and_documentation(package, version):
    for name in ("libkvd4093", "libkvd4093stream"):
        library = package.path("%s/%s.so.%s" % (LIBRARY_DIR, name, version))
        assert library.is_file() and not library.is_symlink(), name
        assert os.readlink(package.path("%s/%s.so.1" % (LIBRARY_DIR, name))) == library.name
        assert os.readlink(package.path("%s/%s.so" % (LIBRARY_DIR, name))) == name + ".so.1"
    for relative in ["usr/include/KVD4093.h", "usr/include/KVD4093_posix.h", LIBRARY_DIR + "/pkgconfig/kvd4093.pc",
                     "usr/include/KVD4093_stream.h", LIBRARY_DIR + "/pkgconfig/kvd4093stream.pc",
                     LIBRARY_DIR + "/cmake/KVD4093/KVD4093Config.cmake", "usr/lib/udev/rules.d/70-kvd4093.rules",
                     "usr/share/bash-completion/completions/kvd4093", "usr/share/man/man1/kvd4093.1.gz",
                     "usr/share/doc/kvd4093/copyright", "usr/share/doc/kvd4093/changelog.gz",
                     "usr/share/doc/kvd4093/README.md", "usr/share/doc/kvd4093/examples/acquire.c"]:  # fmt: skip
        assert package.path(relative).is_file(), relative


def test_the_installed_tool_lists_virtual_cards_with_the_installed_library(package, version, folder):
    listed = run(["kvd4093", "list", "--virtual=7,9"], folder, package.environment())
    assert listed.returncode == 0, listed.stderr
    assert listed.stdout == "logical  physical ID  version\n      0            7  1.0.1\n      1            9  1.0.1\n"
    shown = run(["kvd4093", "--version"], folder, package.environment())
    library = package.path("%s/libkvd4093.so.%s" % (LIBRARY_DIR, version))
    assert shown.stdout == "kvd4093 %s\nlibrary: %s (version %s)\n" % (version, library, version)


def test_man_shows_the_manual_page(package, folder):
    command = ["man", "-P", "cat", "kvd4093"] if package.installed else ["man", "-l", package.path(
        "usr/share/man/man1/kvd4093.1.gz")]  # fmt: skip
    shown = run(command, folder, {"MANWIDTH": "200"})
    assert shown.returncode == 0, shown.stderr
    assert "kvd4093 - command line of the KVD4093 USB data-acquisition card" in shown.stdout
    assert "doctor" in shown.stdout


# A program against each library: its sources, its pkg-config name, the
# environment it runs in and what it prints.
CONSUMERS = {
    "card library": (REPOSITORY / "tests" / "install" / "consumer", "kvd4093", {}, "C:\\OLM\\KVD4093 25000\n"),
    "stream library": (REPOSITORY / "tests" / "install" / "stream_consumer", "kvd4093stream",
                       {"KVD4093_VIRTUAL_CARDS": "7"}, "4 channels, 2000 scans in order\n"),
}  # fmt: skip


@pytest.mark.parametrize("library", CONSUMERS)
def test_a_program_builds_against_it_with_pkg_config(package, folder, library):
    source, name, changes, output = CONSUMERS[library]
    flags = run(["pkg-config", "--cflags", "--libs", name], folder, package.environment())
    assert flags.returncode == 0, flags.stderr
    built = run(["cc", source / "main.c", *flags.stdout.split(), "-o", "consumer"], folder, package.environment())
    assert built.returncode == 0, built.stderr
    ran = run([folder / "consumer"], folder, {**package.environment(), **changes})
    assert ran.stdout == output, ran.stderr


@pytest.mark.parametrize("library", CONSUMERS)
def test_a_program_builds_against_it_with_cmake_find_package(package, folder, library):
    source, _, changes, output = CONSUMERS[library]
    configured = run(["cmake", "-S", source, "-B", "build", "-DCMAKE_BUILD_TYPE=Release"], folder,
                     package.environment())  # fmt: skip
    assert configured.returncode == 0, configured.stdout + configured.stderr
    built = run(["cmake", "--build", "build"], folder, package.environment())
    assert built.returncode == 0, built.stdout + built.stderr
    ran = run([folder / "build" / "consumer"], folder, {**package.environment(), **changes})
    assert ran.stdout == output, ran.stderr


def test_lintian_finds_no_error(package):
    if shutil.which("lintian") is None:
        pytest.skip("lintian is not installed (.ci/run installs it)")
    checked = subprocess.run(["lintian", "--no-tag-display-limit", str(package.deb)], capture_output=True, text=True,
                             timeout=600)  # fmt: skip
    print(checked.stdout)
    errors = [line for line in checked.stdout.splitlines() if line.startswith("E: ")]
    assert errors == [] and checked.returncode == 0, checked.stdout + checked.stderr


def test_dpkg_removes_it_without_a_trace(package):
    if not package.installed:
        pytest.skip("the package was unpacked, not installed: there is nothing to remove")
    assert package.files, "dpkg -L listed no file"
    removed = package.remove()
    assert removed.returncode == 0, removed.stdout + removed.stderr
    assert dpkg_status() == "not-installed"
    assert [str(path) for path in package.files if os.path.lexists(path)] == []
    for folder in ["/usr/share/doc/kvd4093", "/%s/cmake/KVD4093" % LIBRARY_DIR]:
        assert not os.path.exists(folder), folder
    cache = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
    assert "libkvd4093.so.1 (" not in cache and "libkvd4093stream.so.1 (" not in cache
