"""Protocol.to_json and Protocol.from_json: what the binding adds to the JSON codec."""

import json

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from pyvora import DecodeError, Protocol
from helpers import built_by, calls, every_kind


def test_a_new_protocol_goes_through_json_to_the_same_bytes():
    p = Protocol()
    text = p.to_json()
    assert Protocol.from_json(text).to_bytes() == p.to_bytes() and p.to_dict()["signals"] == []
    assert text.endswith(b"}\n") and json.loads(text)["signals"] == [{"kind": "Constant", "value": 0.0}]


@settings(max_examples=100, deadline=None)
@given(st.lists(calls, max_size=8))
def test_round_trip_in_both_spellings(steps):
    p = built_by(steps)
    for per_line in (None, 1, 7):
        text = p.to_json(per_line)
        q = Protocol.from_json(text)
        assert q.to_json(per_line) == text  # a NaN's payload aside, the same bytes
        if b'"NaN"' not in text:
            assert q.to_bytes() == p.to_bytes()


machine_edits = st.fixed_dictionaries({
    "name": st.text() | st.sampled_from(["NaN", "Infinity", "-Infinity"]),
    "supply_voltage": st.floats(allow_nan=False),
    "capacitors": st.lists(st.floats(allow_nan=False), max_size=3),
    "num_coils": st.integers(0, 2**64 - 1),
})


@settings(max_examples=100, deadline=None)
@given(machine_edits)
def test_round_trip_of_values_only_a_file_holds(edit):
    p = Protocol()
    p.add_sine_signal(1.0, 10.0)
    d = p.to_dict()
    d["machine_config"]["coils"][0]["name"] = edit.pop("name")
    d["machine_config"].update(edit)
    q = Protocol.from_dict(d)
    assert Protocol.from_json(q.to_json()).to_bytes() == q.to_bytes()


def test_data_may_be_bytes_str_or_any_buffer():
    p = every_kind()
    text = p.to_json()
    expected = Protocol.from_json(text).to_bytes()
    for data in (text.decode(), bytearray(text), memoryview(b"  " + text)[2:]):
        assert Protocol.from_json(data).to_bytes() == expected
    with pytest.raises(TypeError):
        Protocol.from_json(json.loads(text))


def test_refusals_are_decode_errors_with_path_and_offset():
    with pytest.raises(DecodeError) as caught:
        Protocol.from_json(b'{"intensity":\n  NaN}')
    assert (str(caught.value), caught.value.path, caught.value.offset) == \
        ("not JSON: Expecting value (line 2, column 3)", "", 16)
    with pytest.raises(DecodeError) as caught:
        Protocol.from_json('{"a": "\ud800"}')  # a str that UTF-8 cannot hold
    assert str(caught.value) == "not JSON: not UTF-8 (line 1, column 8)"
    text = Protocol().to_json().replace(b'"coil_idx": 0', b'"coil_idx": ' + b"9" * 5000, 1)
    with pytest.raises(DecodeError) as caught:
        Protocol.from_json(text)
    assert caught.value.path == "channel_a_settings.coil_idx"
    assert str(caught.value) == "value <16610-bit int> outside 0..18446744073709551615 for channel_a_settings.coil_idx"
    assert text[caught.value.offset:].startswith(b"9999")
    d = json.loads(Protocol().to_json())
    d["machine_config"]["coils"][0]["name"] = ["x"]
    with pytest.raises(DecodeError) as caught:
        Protocol.from_json(json.dumps(d))
    with pytest.raises(DecodeError) as expected:
        Protocol.from_dict(d)
    assert (str(caught.value), caught.value.path) == (str(expected.value), expected.value.path)


def test_samples_per_line_is_none_or_at_least_one():
    p = Protocol()
    assert p.to_json(None) == p.to_json() == p.to_json(samples_per_line=None)
    assert p.to_json(2**100) == p.to_json(1)  # no sample list: the same text
    for wrong, error in ((0, ValueError), (-1, ValueError), (-(2**100), ValueError), (True, TypeError), (1.0, TypeError)):
        with pytest.raises(error):
            p.to_json(wrong)


def test_layout_lists_paths_and_kinds():
    import pyvora

    layout = pyvora._layout()
    assert list(layout)[:2] == ["", "running_on_target_machine"]
    assert (layout["signals[*].samples"], layout["monitor_trace_visible[*]"]) == ("samples", "flag")
