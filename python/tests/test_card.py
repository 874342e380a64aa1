"""Listing and opening cards, closing them, errors with the library's
messages, settings, digital and analog I/O."""

import dataclasses
import pickle

import pytest

import kvd4093
from kvd4093 import _library, _stream_library, errors


def test_cards_lists_every_card_with_its_identity():
    assert kvd4093.cards() == [
        kvd4093.CardInfo(0, 7, "1.0.1"),
        kvd4093.CardInfo(1, 9, "1.0.1"),
        kvd4093.CardInfo(2, 5, "1.0.1"),
    ]


@pytest.mark.parametrize(
    "arguments, number, physical_id",
    [({}, 0, 7), (dict(number=2), 2, 5), (dict(physical_id=9), 1, 9), (dict(physical_id=5), 2, 5)],
)
def test_open_by_number_or_physical_id(arguments, number, physical_id):
    with kvd4093.open(**arguments) as card:
        assert (card.number, card.physical_id, card.version) == (number, physical_id, "1.0.1")
    assert card.closed


@pytest.mark.parametrize(
    "arguments, function, message",
    [
        (dict(physical_id=99), "KVD4093_CreateDeviceEx", "物理ID号=99的设备不存在"),
        (dict(physical_id=16), "KVD4093_CreateDeviceEx", "物理ID号=16的设备不存在"),
        (dict(number=3), "KVD4093_CreateDevice", "Sorry, there are no device drivers found in your system"),
    ],
)
def test_a_failed_open_raises_the_librarys_message(arguments, function, message):
    with pytest.raises(kvd4093.Error) as raised:
        kvd4093.open(**arguments)
    assert (raised.value.function, raised.value.code, raised.value.message) == (function, 1, message)
    assert str(raised.value).startswith("%s failed: %s " % (function, message))
    assert str(raised.value).endswith(" (code 1)")


@pytest.mark.parametrize(
    "arguments, error",
    [
        (dict(number=0, physical_id=7), ValueError),
        (dict(number=-1), ValueError),
        (dict(number=2**32), ValueError),  # would reach the library as 0
        (dict(physical_id="7"), TypeError),
    ],
)
def test_bad_open_arguments_are_refused(arguments, error):
    with pytest.raises(error):
        kvd4093.open(**arguments)


def test_close_releases_the_card_once(monkeypatch):
    card = kvd4093.open(number=1)
    library = card._library
    released = []
    real = library.KVD4093_ReleaseDevice
    monkeypatch.setattr(library, "KVD4093_ReleaseDevice", lambda handle: released.append(handle) or real(handle))
    card.close()
    card.close()
    with card:
        pass
    assert len(released) == 1 and card.closed
    with pytest.raises(ValueError, match="closed"):
        card.settings()
    with pytest.raises(ValueError, match="closed"):
        card.do = 1


def test_a_failed_release_keeps_the_card_open_until_a_release_succeeds(monkeypatch):
    card = kvd4093.open(number=1)
    library = card._library
    real = library.KVD4093_ReleaseDevice
    released = []

    def fail_the_first(handle):
        released.append(handle)
        return 0 if len(released) == 1 else real(handle)

    monkeypatch.setattr(library, "KVD4093_ReleaseDevice", fail_the_first)
    with pytest.raises(kvd4093.Error) as raised:
        card.close()
    assert raised.value.function == "KVD4093_ReleaseDevice"
    assert not card.closed
    assert card.settings() is not None  # the handle still works
    card.close()
    assert card.closed
    assert released == [released[0]] * 2  # the same handle again
    card.close()
    assert len(released) == 2


def test_the_answer_is_sized_for_any_name():
    name = "KVD4093_" + "X" * 5000
    assert errors.newest_message(_library.library(), name)[1] == "No error message"


def test_settings_round_trip_and_reset(card):
    assert card.settings() == kvd4093.ADSettings()  # the library's defaults
    chosen = kvd4093.ADSettings(*range(-3, 14))
    card.save_settings(chosen)
    assert card.settings() == chosen
    with kvd4093.open(physical_id=9) as other:  # settings belong to one card
        assert other.settings() == kvd4093.ADSettings()
    assert card.reset_settings() == kvd4093.ADSettings()
    assert card.settings() == kvd4093.ADSettings()


def test_settings_fields_follow_the_record():
    assert [field.name for field in dataclasses.fields(kvd4093.ADSettings)] == [
        "check_sts_mode", "ad_mode", "first_channel", "last_channel", "frequency", "input_range",
        "group_interval", "loops_of_group", "gains", "trigger_mode", "trigger_source", "trigger_type",
        "trigger_dir", "trig_window", "grounding_mode", "clock_source", "clock_output",
    ]  # fmt: skip


@pytest.mark.parametrize("bad, error", [(2**31, ValueError), (1.5, TypeError), (True, TypeError)])
def test_save_settings_refuses_what_the_record_cannot_hold(card, bad, error):
    with pytest.raises(error):
        card.save_settings(kvd4093.ADSettings(frequency=bad))
    assert card.settings() == kvd4093.ADSettings()


@pytest.mark.parametrize("lines", [0x0000, 0xFFFF, 0xA55A, 0x0001, 0x8000])
def test_digital_outputs_come_back_on_the_inputs(card, trace, lines):
    card.do = lines
    assert card.do == lines
    assert card.di == lines
    assert trace.commands() == ["03%02x%02x" % (lines & 0xFF, lines >> 8) + "00" * 17]


def test_write_da_sends_the_setup_and_the_value(card, trace):
    card.write_da(2, 0xABC, setup_code=4)
    card.write_da(7, 4095)
    assert trace.commands() == [
        "0104000a" + "00" * 16, "01c0ab02" + "00" * 16,
        "0100000f" + "00" * 16, "01f0ff07" + "00" * 16,
    ]  # fmt: skip


@pytest.mark.parametrize("level, byte", [(0, "00"), (40, "01"), (5000, "80"), (10000, "ff")])
def test_trigger_level(card, trace, level, byte):
    card.trigger_level = level
    assert card.trigger_level == level
    assert trace.commands() == ["04" + byte + "00" * 18]


@pytest.mark.parametrize(
    "change",
    [
        lambda card: setattr(card, "do", 0x10000),
        lambda card: setattr(card, "do", -1),
        lambda card: card.write_da(8, 0),
        lambda card: card.write_da(0, 4096),
        lambda card: card.write_da(0, 0, setup_code=8),
        lambda card: setattr(card, "trigger_level", -1),
        lambda card: setattr(card, "trigger_level", 10001),
    ],
)
def test_out_of_range_outputs_are_refused_before_the_card(card, trace, change):
    with pytest.raises(ValueError):
        change(card)
    assert trace.commands() == []


@pytest.mark.parametrize(
    "environment, beside, expected",
    [
        ({"KVD4093_LIBRARY": "/opt/lib/libkvd4093.so.1"}, True, "/opt/lib/libkvd4093.so.1"),
        ({"KVD4093_LIBRARY": ""}, True, "beside"),
        ({}, True, "beside"),
        ({}, False, _library.system_name()),
    ],
)
def test_where_the_library_is_found(tmp_path, environment, beside, expected):
    if beside:
        (tmp_path / _library.system_name()).write_bytes(b"")
    found = _library.locate(environment, tmp_path)
    assert found == (str(tmp_path / _library.system_name()) if expected == "beside" else expected)


# The stream library: named, else beside the card library loaded by path
# (both in one folder when installed) or in the build tree's stream/ beside
# its src/, else beside the package, else the system loader's.
@pytest.mark.parametrize(
    "environment, card_library, present, expected",
    [
        ({"KVD4093_STREAM_LIBRARY": "/opt/s/libkvd4093stream.so.1"}, "card/libkvd4093.so.1", ["card", "package"],
         "/opt/s/libkvd4093stream.so.1"),
        ({"KVD4093_STREAM_LIBRARY": ""}, "card/libkvd4093.so.1", ["card", "package"], "card"),
        ({}, "src/libkvd4093.so.1", ["stream", "package"], "stream"),
        ({}, "card/libkvd4093.so.1", ["package"], "package"),
        ({}, _library.system_name(), ["card", "package"], "package"),
        ({}, "card/libkvd4093.so.1", [], _stream_library.system_name()),
    ],
)  # fmt: skip
def test_where_the_stream_library_is_found(tmp_path, environment, card_library, present, expected):
    for folder in present:
        (tmp_path / folder).mkdir()
        (tmp_path / folder / _stream_library.system_name()).write_bytes(b"")
    card_path = str(tmp_path / card_library) if "/" in card_library else card_library
    found = _stream_library.locate(card_path, environment, tmp_path / "package")
    folder_found = str(tmp_path / expected / _stream_library.system_name())
    assert found == (folder_found if expected in ("card", "stream", "package") else expected)


def test_an_unloadable_library_says_which_variable_to_set(tmp_path):
    with pytest.raises(OSError, match="KVD4093_LIBRARY"):
        _library.Library(str(tmp_path / "missing.so"))


def test_an_error_survives_pickling():
    error = pickle.loads(pickle.dumps(kvd4093.Error("KVD4093_CreateDeviceEx", 1, "物理ID号=99的设备不存在")))
    assert (error.function, error.code, error.message) == ("KVD4093_CreateDeviceEx", 1, "物理ID号=99的设备不存在")
    assert str(error) == "KVD4093_CreateDeviceEx failed: 物理ID号=99的设备不存在 (no device with physical ID 99 exists) (code 1)"
