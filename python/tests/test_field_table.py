"""The package's copy of the AD record's fields (ADSettings) matches the one
table the library and the tool read, include/KVD4093_ad_fields.h: the same
fields in the same order, the same option spelling and the same defaults."""

import dataclasses
import re

from conftest import REPOSITORY
from kvd4093 import ADSettings, _library

TABLE = (REPOSITORY / "include" / "KVD4093_ad_fields.h").read_text()
ENTRY = re.compile(r'\{"(\w+)", "([\w-]+)", &ADPara::(\w+), (-?\d+), (\d+)\}')


def test_settings_follow_the_field_table():
    entries = ENTRY.findall(TABLE)
    assert len(entries) == len(_library.ADPara._fields_) == 17
    for (name, dashed, member, default, _bits), field, (record_name, _) in zip(
        entries, dataclasses.fields(ADSettings), _library.ADPara._fields_
    ):
        assert name == member == record_name
        assert field.name == dashed.replace("-", "_")
        assert field.default == int(default), name
