"""CardGroup: several cards acquired as one Stream of merged scans."""

import numpy
import pytest

import kvd4093
from test_stream import card_scans


@pytest.fixture
def group_cards(virtual_cards):
    with kvd4093.open(physical_id=7) as first, kvd4093.open(physical_id=9) as second:
        for opened in (first, second):
            opened.reset_settings()
        yield first, second


def test_a_group_streams_every_cards_scans_side_by_side(group_cards):
    with kvd4093.CardGroup(group_cards).start(channels=(0, 1), rate=20_000) as stream:
        scans = stream.read(6000)
    assert isinstance(stream, kvd4093.Stream) and stream.channels == 4
    assert (scans.shape, scans.first_scan) == ((6000, 4), 0)
    # On one clock every card gives the scans one card alone gives.
    one_card = card_scans((0, 1), 0, 6000)
    numpy.testing.assert_array_equal(scans[:, :2], one_card)
    numpy.testing.assert_array_equal(scans[:, 2:], one_card)


@pytest.mark.parametrize("cards, clock, message", [
    (1, "shared", "2 to 8 cards"),
    (2, "both", "'shared' or 'independent'"),
])  # fmt: skip
def test_a_bad_group_is_refused(group_cards, cards, clock, message):
    with pytest.raises(ValueError, match=message):
        kvd4093.CardGroup(group_cards[:cards]).start(channels=(0, 1), rate=20_000, clock=clock)


def test_a_card_listed_twice_is_refused(group_cards):
    with pytest.raises(ValueError, match="listed twice"):
        kvd4093.CardGroup([group_cards[0], group_cards[0]])
