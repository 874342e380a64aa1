"""ADSettings: the AD parameter record as a Python dataclass."""

import dataclasses

from ._library import ADPara

_INT32 = (-(2**31), 2**31 - 1)


@dataclasses.dataclass
class ADSettings:
    """The 17 fields of the AD parameter record (ADPara), in its order.

    The defaults are the ones the library loads for a card with no saved
    settings. frequency is in samples a second of all channels together;
    group_interval in microseconds. The other fields are the card's codes,
    narrowed to their bits by the library (see README.md).
    """

    check_sts_mode: int = 0
    ad_mode: int = 0
    first_channel: int = 0
    last_channel: int = 1
    frequency: int = 25000
    input_range: int = 0
    group_interval: int = 1000
    loops_of_group: int = 1
    gains: int = 0
    trigger_mode: int = 0
    trigger_source: int = 0
    trigger_type: int = 0
    trigger_dir: int = 0
    trig_window: int = 10
    grounding_mode: int = 0
    clock_source: int = 0
    clock_output: int = 0


FIELD_NAMES = tuple(field.name for field in dataclasses.fields(ADSettings))
# The record's field names, pairwise with FIELD_NAMES.
_RECORD_NAMES = tuple(name for name, _ in ADPara._fields_)


def check_integer(name, value):
    """value as a Python int; TypeError for anything but an integer (a bool
    included)."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError("%s must be an integer, not %r" % (name, value))
    return value.__index__()


def check_int32(name, value):
    """value as a Python int, or TypeError / ValueError: ctypes would cut a
    number outside 32 bits without a word."""
    value = check_integer(name, value)
    if not _INT32[0] <= value <= _INT32[1]:
        raise ValueError("%s = %d does not fit in 32 bits" % (name, value))
    return value


def to_record(settings):
    """The ADPara record holding `settings`."""
    if not isinstance(settings, ADSettings):
        raise TypeError("expected ADSettings, not %s" % type(settings).__name__)
    record = ADPara()
    for field, record_name in zip(FIELD_NAMES, _RECORD_NAMES):
        setattr(record, record_name, check_int32(field, getattr(settings, field)))
    return record


def from_record(record):
    """The ADSettings an ADPara record holds."""
    return ADSettings(*(getattr(record, name) for name in _RECORD_NAMES))


def with_changes(settings, changes):
    """settings with the fields named in `changes` replaced; TypeError for a
    name that is no field."""
    unknown = sorted(set(changes) - set(FIELD_NAMES))
    if unknown:
        raise TypeError("unknown ADSettings field(s): %s" % ", ".join(unknown))
    return dataclasses.replace(settings, **{name: check_int32(name, value) for name, value in changes.items()})
