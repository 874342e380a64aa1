"""Cards in lock-step: the first card drives its sample clock out of its
connector, the others convert on the clock they receive, and the stream
library hands out scan k of every card as one scan, the first card's
channels first.

    with kvd4093.open(physical_id=7) as a, kvd4093.open(physical_id=9) as b:
        with kvd4093.CardGroup([a, b]).start(channels=(0, 1), rate=20_000) as stream:
            scans = stream.read(1000)   # shape (1000, 4): ID7 ch0, ch1, ID9 ch0, ch1
"""

from .stream import Stream

MOST_CARDS = 8  # KVD4093_STREAM_MOST_CARDS


class CardGroup:
    """Open cards acquired as one, the clock's driver first."""

    def __init__(self, cards):
        self.cards = list(cards)
        if not 2 <= len(self.cards) <= MOST_CARDS:
            raise ValueError("a group takes 2 to %d cards, not %d" % (MOST_CARDS, len(self.cards)))
        if len({id(card) for card in self.cards}) != len(self.cards):
            raise ValueError("a card is listed twice")

    def start(self, channels=None, rate=None, buffer_seconds=2, on_overrun="raise", callback=None,
              callback_scans=None, clock="shared", reconnect=None, **fields):  # fmt: skip
        """Starts every card, as Card.start() does one, and returns the Stream
        of their merged scans: every card takes the same channels, rate and
        settings (the first card's saved ones, changed by `fields`).

        clock: "shared" (the first card's) or "independent" (every card its
               own, started one after the other: to compare with when the
               wiring is in doubt).
        reconnect: as for Card.start(); every card of the group starts again,
               in the order of the group's start.
        """
        first = self.cards[0]
        settings = first._acquisition_settings(channels, rate, fields)
        return Stream(first, settings, buffer_seconds, on_overrun, callback, callback_scans, group=self.cards,
                      clock=clock, reconnect=reconnect)  # fmt: skip
