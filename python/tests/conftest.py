"""The tests run on three virtual cards with physical IDs 7, 9 and 5 that
deliver at once, in a folder of their own that also holds the settings file,
the request trace and the library's log file.

The library reads these variables when it loads and when it first lists
cards, so they are set before any test touches the package.
KVD4093_LIBRARY and KVD4093_STREAM_LIBRARY name the card and the stream
library under test (`make test-python` sets them); unset, the builds of the
`linux` preset are used.
"""

import atexit
import math
import os
from pathlib import Path

import pytest

import kvd4093

REPOSITORY = Path(__file__).resolve().parents[2]
BUILT_LIBRARIES = {
    "KVD4093_LIBRARY": REPOSITORY / "build" / "linux" / "src" / "libkvd4093.so.1",
    "KVD4093_STREAM_LIBRARY": REPOSITORY / "build" / "linux" / "stream" / "libkvd4093stream.so.1",
}
CARD_IDS = (7, 9, 5)


@pytest.fixture(scope="session", autouse=True)
def virtual_cards(tmp_path_factory):
    folder = tmp_path_factory.mktemp("run")
    for variable, built in BUILT_LIBRARIES.items():
        os.environ.setdefault(variable, str(built))
        if not Path(os.environ[variable]).is_file():
            pytest.exit("no library at %s=%s: build it first" % (variable, os.environ[variable]), returncode=2)
    os.environ["KVD4093_VIRTUAL_CARDS"] = ",".join(map(str, CARD_IDS))
    os.environ["KVD4093_VIRTUAL_PACING"] = "off"
    os.environ.pop("KVD4093_VIRTUAL_NOISE", None)
    os.environ["KVD4093_TRACE"] = str(folder / "trace.txt")
    os.environ["XDG_CONFIG_HOME"] = str(folder / "config")
    os.environ["HOME"] = str(folder)
    # The library writes KVD4093Err.log into the current folder when the
    # process ends, after pytest has gone back to where it started.
    atexit.register(os.chdir, folder)
    os.chdir(folder)
    return folder


class Trace:
    """The request trace's lines written since the fixture began."""

    def __init__(self, path):
        self._path = Path(path)
        self._start = self._path.stat().st_size if self._path.exists() else 0

    def lines(self):
        with self._path.open("rb") as trace:
            trace.seek(self._start)
            return trace.read().decode("ascii").splitlines()

    def ad_commands(self):
        """The data of every command written on pipe 0, in order."""
        return [line.split("data=")[1] for line in self.lines() if " BULK_WRITE pipe=0 " in line]

    def commands(self):
        """The data of every command written on pipe 1, in order."""
        return [line.split("data=")[1] for line in self.lines() if " BULK_WRITE pipe=1 " in line]


@pytest.fixture
def trace(virtual_cards):
    return Trace(os.environ["KVD4093_TRACE"])


@pytest.fixture
def card(virtual_cards):
    """The card with physical ID 7 with no saved settings."""
    with kvd4093.open(physical_id=7) as opened:
        opened.reset_settings()
        yield opened


def project_version():
    """The version the project's CMakeLists.txt declares, read here apart from the package's own reading."""
    for line in (REPOSITORY / "CMakeLists.txt").read_text().splitlines():
        if line.startswith("project(KVD4093 VERSION "):
            return line.split()[2]
    raise AssertionError("CMakeLists.txt declares no version")


STOP = "0300"  # CMD_AD_RUN with 0, the last packet of every stop


def documented_sample(channel, scan):
    """The virtual cards' signal of `channel` in `scan` as README.md gives it."""
    group = channel // 4
    amplitude = 0.9 / (1 + group)
    period = 4096 >> (group % 4)
    phase = (scan % period) / period
    value = (
        amplitude * math.sin(2 * math.pi * phase),
        amplitude if phase < 0.5 else -amplitude,
        amplitude * (2 * phase - 1),
        amplitude * math.sin(8 * math.pi * phase),
    )[channel % 4]
    return math.floor(32768 + value * 32767 + 0.5)
