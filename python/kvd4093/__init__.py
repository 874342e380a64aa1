"""The KVD4093 USB data-acquisition card from Python.

    import kvd4093
    for info in kvd4093.cards():                 # CardInfo(number, physical_id, version)
        print(info)
    with kvd4093.open(physical_id=7) as card:    # or open(number=0)
        data = card.acquire(4000, channels=(0, 3), rate=10_000)   # uint16, shape (4000, 4)
        for block in card.stream(2500, channels=(0, 1), rate=20_000):
            ...                                   # leaving the loop stops the acquisition
        with card.start(channels=(0, 3), rate=100_000) as stream:   # read in the background
            scans = stream.read(10_000)           # kvd4093.Overrun if scans were dropped

The package calls the card's C library (libkvd4093.so.1, KVD4093.dll) through
ctypes. It loads the library named by the environment variable
KVD4093_LIBRARY, else one installed beside the package, else the one the
system loader finds. Card.start() reads through the stream library
(libkvd4093stream.so.1, KVD4093Stream.dll): KVD4093_STREAM_LIBRARY, else the
card library's folder, else beside the package, else the system loader's.
Every failing call raises kvd4093.Error with the library's message.
"""

from .card import Card, CardInfo, cards, open  # noqa: A004 - open() is the package's
from .errors import Error
from .group import CardGroup
from ._version import __version__
from .settings import ADSettings
from .stream import Overrun, ScanArray, Stream
from .network import subscribe

__all__ = ["ADSettings", "Card", "CardGroup", "CardInfo", "Error", "Overrun", "ScanArray", "Stream", "cards", "open",
           "subscribe"]
