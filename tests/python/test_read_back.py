"""Reading protocol files back: load, from_bytes, to_bytes, pickling and the DecodeError surface."""

import copy
import mmap
import os
import pathlib
import pickle
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import pyvora
from conftest import run_python
from cpython_texts import fspath_error
from helpers import built_by, calls, every_kind, Needed
from pyvora import Coil, DecodeError, Protocol

np = Needed("numpy")


def refusal(data):
    with pytest.raises(DecodeError) as caught:
        Protocol.from_bytes(data)
    return caught.value


def test_to_bytes_is_what_save_writes_and_changes_nothing(fresh, tmp_path):
    text = str(fresh)
    data = fresh.to_bytes()
    assert len(data) == 201 and str(fresh) == text  # the empty table stays empty
    fresh.save(str(tmp_path / "a.vora"))
    assert (tmp_path / "a.vora").read_bytes() == data
    for p in (every_kind(), every_kind(duration=2.0)):  # samples of every varint length
        p.save(str(tmp_path / "b.vora"))
        assert p.to_bytes() == (tmp_path / "b.vora").read_bytes()


@pytest.mark.parametrize(
    "wrap",
    [bytes, bytearray, memoryview, lambda b: np.frombuffer(b, dtype=np.uint8), lambda b: np.array(list(b), dtype=np.uint8)],
)
def test_from_bytes_takes_any_contiguous_buffer(wrap):
    data = every_kind().to_bytes()
    assert Protocol.from_bytes(wrap(data)).to_bytes() == data


def test_from_bytes_reads_an_mmap(tmp_path):
    path = tmp_path / "a.vora"
    every_kind().save(str(path))
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        assert Protocol.from_bytes(m).to_bytes() == path.read_bytes()


@pytest.mark.parametrize(
    "data, error",
    [
        (lambda: "text", TypeError),
        (lambda: memoryview(bytes(402))[::2], BufferError),
        (lambda: np.repeat(np.zeros(201, dtype=np.uint8), 2)[::2], BufferError),
        (lambda: np.zeros((3, 67), dtype=np.uint8, order="F"), BufferError),
        (lambda: None, TypeError),
    ],
    ids=["str", "strided-memoryview", "strided-array", "fortran-order", "None"],
)
def test_from_bytes_refuses_what_is_not_contiguous_bytes(data, error):
    with pytest.raises(error):
        Protocol.from_bytes(data())


@pytest.mark.parametrize("make_path", [str, pathlib.Path, os.fsencode])
def test_load_takes_str_bytes_and_path_objects(tmp_path, make_path):
    path = tmp_path / "any-name.bin"  # the ".vora" rule is for writing only
    path.write_bytes(every_kind().to_bytes())
    assert Protocol.load(make_path(str(path))).to_bytes() == path.read_bytes()
    assert Protocol.load(filepath=path).to_bytes() == path.read_bytes()


@pytest.mark.parametrize(
    "name, error",
    [("missing/a.vora", FileNotFoundError), (".", IsADirectoryError), ("file.vora/a.vora", NotADirectoryError)],
)
def test_load_raises_the_os_error_of_open(tmp_path, name, error):
    (tmp_path / "file.vora").write_bytes(b"")
    path = str(tmp_path / name)
    with pytest.raises(error) as caught:
        Protocol.load(path)
    assert caught.value.filename == path


@pytest.mark.parametrize("argument", [3, None, 1.5])
def test_load_refuses_non_paths(argument):
    # A number must not be taken as a file descriptor.
    with pytest.raises(TypeError) as caught:
        Protocol.load(argument)
    assert str(caught.value) == f"argument 'filepath': {fspath_error(argument)}"


def test_load_of_a_fifo_is_interrupted_by_ctrl_c(tmp_path):
    fifo = tmp_path / "never-written.vora"
    os.mkfifo(fifo)
    result = run_python(
        f"""
import signal
from pyvora import Protocol
signal.setitimer(signal.ITIMER_REAL, 0.2)
signal.signal(signal.SIGALRM, signal.default_int_handler)
try:
    Protocol.load({str(fifo)!r})
except KeyboardInterrupt:
    print("interrupted")
"""
    )
    assert result.stdout.strip() == "interrupted", result.stderr


def _outcome(read):
    try:
        return read().to_bytes()
    except DecodeError as error:
        return str(error), error.offset, error.path


# Regular files from 1 MiB on are read in place (mapped), smaller ones through a copy.
@pytest.mark.parametrize("duration", [0.01, 200.0], ids=["read", "mapped"])
@pytest.mark.parametrize("damage", ["none", "middle", "cut", "longer"])
def test_load_gives_what_from_bytes_gives(tmp_path, duration, damage):
    data = bytearray(every_kind(duration).to_bytes())
    if damage == "middle":
        data[len(data) // 2] ^= 0x80
    data = {"cut": data[:-1], "longer": data + b"\0"}.get(damage, data)
    path = tmp_path / "a.vora"
    path.write_bytes(data)
    assert (len(data) > 2**20) == (duration > 1)
    assert _outcome(lambda: Protocol.load(path)) == _outcome(lambda: Protocol.from_bytes(bytes(data)))


@pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_round_trips(protocol):
    p = every_kind()
    q = pickle.loads(pickle.dumps(p, protocol=protocol))
    assert q.to_bytes() == p.to_bytes() and str(q) == str(p)


@pytest.mark.parametrize("make_copy", [copy.copy, copy.deepcopy])
def test_copies_are_independent(fresh, make_copy):
    c = make_copy(fresh)
    c.add_constant_signal(1.0)
    assert str(fresh) != str(c)
    assert "Constant" not in str(fresh)  # copying did not fill the empty table


def test_truncation_at_every_offset_is_refused():
    data = every_kind().to_bytes()
    for n in range(len(data)):
        error = refusal(data[:n])
        assert error.offset <= n
        assert error.args[0].endswith(f"at byte {error.offset}")


def test_every_single_byte_corruption_is_refused_or_reencodes_identically():
    data = every_kind().to_bytes()
    for offset in range(len(data)):
        for value in (0x00, 0x01, 0x02, 0x7F, 0x80, 0xFF, data[offset] ^ 0x01):
            damaged = data[:offset] + bytes([value]) + data[offset + 1 :]
            try:
                loaded = Protocol.from_bytes(damaged)
            except DecodeError:
                continue
            assert loaded.to_bytes() == damaged


# Offsets in the default file: 134 intensity, 142 session duration, 150 signal count.
DEFAULT = Protocol().to_bytes()


def replaced(offset, new, old_length):
    return DEFAULT[:offset] + new + DEFAULT[offset + old_length :]


@pytest.mark.parametrize(
    "data, message, path",
    [
        (DEFAULT + b"\x00", "1 byte left over after the protocol at byte 201", ""),
        (replaced(9, b"\x82\x00", 1), "varint not in shortest form for machine_config.num_coils at byte 9", "machine_config.num_coils"),
        (replaced(12, b"\xc3\x28", 2), "invalid UTF-8 for machine_config.coils[0].name at byte 12", "machine_config.coils[0].name"),
        (replaced(134, struct.pack("<d", float("nan")), 8), "value NaN outside 0.0..1.0 for intensity at byte 134", "intensity"),
        (replaced(134, struct.pack("<d", 1.0000000000000002), 8), "value 1.0000000000000002 outside 0.0..1.0 for intensity at byte 134", "intensity"),
        (replaced(142, struct.pack("<d", 0.009), 8), "value 0.009 outside 0.01..1800.0 for session_duration at byte 142", "session_duration"),
        (replaced(142, struct.pack("<d", 1800.5), 8), "value 1800.5 outside 0.01..1800.0 for session_duration at byte 142", "session_duration"),
        (replaced(150, b"\x00", 10), "empty signal table for signals at byte 150", "signals"),
        (replaced(151, b"\x05", 1), "unknown signal kind 5 for signals[0].kind at byte 151", "signals[0].kind"),
        (replaced(175, b"\x02", 1), "invalid bool byte 0x02 for channel_b_settings.amplitude1_source.external_selected at byte 175", "channel_b_settings.amplitude1_source.external_selected"),
        (replaced(151, b"\x04\x03\x00\x01\xd0\x0f", 9), "sample -1 outside 0..32767 for signals[0].samples[1] at byte 154", "signals[0].samples[1]"),
        (replaced(151, b"\x04\x01\xff\xff\x04", 9), "varint overflows i16 for signals[0].samples[0] at byte 153", "signals[0].samples[0]"),
        # A window of continuation bytes only, where the fast sample paths find no varint end.
        (replaced(151, b"\x04\x10" + b"\xff" * 20, 9), "varint overflows i16 for signals[0].samples[0] at byte 153", "signals[0].samples[0]"),
        (DEFAULT[:9], "truncated: 0 of 1 bytes for machine_config.num_coils at byte 9", "machine_config.num_coils"),
        (DEFAULT[:151] + b"\x04\x80\x80", "truncated: varint cut off after 2 bytes for signals[0].samples at byte 152", "signals[0].samples"),
        # Fits the bytes left, but not 2 bytes for each signal, the smallest a signal takes.
        (DEFAULT[:150] + b"\x32" + bytes(50), "count 50 exceeds what the 50 bytes left can hold for signals at byte 150", "signals"),
    ],
)
def test_refusals_name_the_problem_the_field_and_the_offset(data, message, path):
    error = refusal(data)
    assert isinstance(error, ValueError)
    assert (str(error), error.path) == (message, path)
    assert error.offset == int(message.rsplit(" ", 1)[1])


def test_a_huge_count_is_refused_before_allocating():
    # 2**60 samples claimed by a 20-odd byte tail: refused at once, no large allocation.
    data = replaced(151, b"\x04" + b"\x80" * 8 + b"\x10", 9)
    assert str(refusal(data)).startswith("count 1152921504606846976 exceeds what the")


def test_text_followed_by_a_byte_above_ascii_is_read_as_itself():
    # The coil name "Default" ends at byte 19, where the inductance's first byte is now 0x80.
    data = DEFAULT[:19] + b"\x80" + DEFAULT[20:]
    assert Protocol.from_bytes(data).to_bytes() == data


def test_text_form_of_a_non_ascii_coil_name_read_from_a_file():
    protocol = Protocol.from_bytes(replaced(12, "Défaul".encode(), 7))  # the same 7 bytes
    assert str(protocol) == str(Protocol.from_bytes(DEFAULT)).replace('"Default"', '"Défaul"')


def test_accepts_what_the_methods_accept():
    # Positions that point nowhere and NaN parameters load as they are.
    p = Protocol()
    p.add_mixed_signal(99, 100)
    p.add_sine_signal(float("nan"), float("-inf"))
    p.set_amplitude_source(Coil.A1, 2**64 - 1)
    assert Protocol.from_bytes(p.to_bytes()).to_bytes() == p.to_bytes()


def test_decode_error_is_exported_and_documented():
    assert issubclass(DecodeError, ValueError) and DecodeError.__module__ == "pyvora"
    error = pickle.loads(pickle.dumps(refusal(DEFAULT[:5])))
    assert (error.offset, error.path) == (1, "machine_config.supply_voltage")
    for member in (Protocol.load, Protocol.from_bytes, Protocol.to_bytes, DecodeError):
        assert member.__doc__ and len(member.__doc__) > 40
    names = [name for name in vars(pyvora) if not name.startswith("__")]
    assert names == ["Protocol", "Channel", "Coil", "DecodeError", "_protocol_from_bytes", "_enum_member",
                     "_value_text", "_LIMITS", "_json_schema", "_largest_step", "_layout"]


@settings(max_examples=150, deadline=None)
@given(st.lists(calls, max_size=12))
def test_round_trip_of_protocols_built_by_the_methods(steps):
    p = built_by(steps)
    data = p.to_bytes()
    q = Protocol.from_bytes(data)
    assert q.to_bytes() == data
    if "signals: []" not in str(p):  # an empty table is written with the constant 0.0 signal
        assert str(q) == str(p)


def test_value_text_is_the_text_form_of_each_leaf():
    # Exact float ties and combining marks are where Python's own texts differ from the text form's.
    for value in (111659285584252.125, -0.0, float("nan"), float("-inf"), 1e-5, 1e16):
        data = Protocol.from_bytes(Protocol().to_bytes()).to_dict()
        data["machine_config"]["supply_voltage"] = value
        assert f"supply_voltage: {pyvora._value_text(value)},\n" in str(Protocol.from_dict(data))
    assert pyvora._value_text(111659285584252.125) == "111659285584252.13"
    assert pyvora._value_text("Cafe\u0301") == '"Cafe\\u{301}"'
    assert [pyvora._value_text(v) for v in (True, False, 0, 2**64 - 1)] == ["true", "false", "0", "18446744073709551615"]
    assert [pyvora._value_text(v) for v in (-1, 10**30, -(10**400))] == ["-1", str(10**30), str(-(10**400))]
    with pytest.raises(TypeError, match="NoneType"):
        pyvora._value_text(None)
    assert pyvora._LIMITS["max_samples"] == pyvora._LIMITS["max_session_duration"] * pyvora._LIMITS["sampling_rate"]
