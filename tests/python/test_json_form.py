"""The JSON form of a protocol: `pyvora export`, `pyvora build` and the schema shipped with them."""

import json
import subprocess
import sys
from array import array
from importlib import resources

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import pyvora
from pyvora import DecodeError, Protocol
from pyvora_cli.json_form import from_json, schema, to_json
from pyvora_cli.streams import Trouble
from helpers import COMMAND, built_by, calls, run, write

np = pytest.importorskip("numpy")
jsonschema = pytest.importorskip("jsonschema")


def exported(p: Protocol) -> bytes:
    return b"".join(bytes(piece) for piece in to_json(p))


def strict(text: bytes):
    """The standard library's reading of a text as RFC 8259 JSON (no NaN or Infinity literals)."""
    return json.loads(text, parse_constant=lambda name: pytest.fail(f"{name} is not JSON"))


def assert_round_trip(p: Protocol) -> None:
    text = exported(p)
    jsonschema.validate(strict(text), schema(), cls=jsonschema.Draft202012Validator)
    q = from_json(text, "p.json")
    if b'"NaN"' in text:  # a NaN's sign and payload are not kept
        assert str(q) == str(p)
    else:
        assert q.to_bytes() == p.to_bytes()


def test_schema_is_a_schema_of_the_form_in_field_order():
    jsonschema.Draft202012Validator.check_schema(schema())
    for name, node in schema()["$defs"].items():
        if "properties" in node:
            assert node["required"] == list(node["properties"]), name
    p = Protocol()
    p.add_constant_signal(0.5)
    assert list(strict(exported(p))) == list(p.to_dict())


def test_shipped_schema_is_the_one_generated_from_the_records():
    shipped = resources.files("pyvora_cli").joinpath("protocol.schema.json").read_text("utf-8")
    assert shipped == pyvora._json_schema(), "run scripts/gen_schema.py"


@settings(max_examples=100, deadline=None)
@given(st.lists(calls, max_size=8))
def test_round_trip_of_protocols_built_by_the_methods(steps):
    p = Protocol()
    p.set_session_duration(0.05)  # short sample lists: the schema check is pure Python
    built_by(steps, p)
    if p.to_dict()["signals"]:  # an empty table is not a protocol file's
        assert_round_trip(p)


machine_edits = st.fixed_dictionaries({
    "name": st.text() | st.sampled_from(["NaN", "Infinity", "-Infinity"]),
    "supply_voltage": st.floats(),
    "capacitors": st.lists(st.floats(), max_size=3),
    "num_coils": st.integers(0, 2**64 - 1),
    "safety_checks_enabled": st.booleans(),
})


@settings(max_examples=100, deadline=None)
@given(machine_edits)
def test_round_trip_of_values_only_a_file_holds(edit):
    p = Protocol()
    p.add_sine_signal(1.0, 10.0)
    d = p.to_dict()
    machine = d["machine_config"]
    machine["coils"][0]["name"] = edit.pop("name")
    machine.update(edit)
    assert_round_trip(Protocol.from_bytes(Protocol.from_dict(d).to_bytes()))


def long_protocol(path) -> str:
    """A protocol whose sample list is long enough to be read by NumPy rather than by msgspec."""
    p = Protocol()
    p.set_session_duration(20.0)
    p.add_arbitrary_signal(np.random.default_rng(1).random(p.get_num_samples()))
    p.add_sine_signal(float("inf"), -0.0)
    p.save(str(path))
    return str(path)


def test_export_piped_into_build_gives_the_same_file(tmp_path):
    a = long_protocol(tmp_path / "a.vora")
    export = subprocess.Popen([COMMAND, "export", a], stdout=subprocess.PIPE)
    built = subprocess.run([COMMAND, "build", "-", "-o", str(tmp_path / "b.vora")], stdin=export.stdout,
                           capture_output=True)
    assert (export.wait(), built.returncode, built.stderr) == (0, 0, b"")
    assert (tmp_path / "b.vora").read_bytes() == (tmp_path / "a.vora").read_bytes()
    assert run("export", a, "-o", str(tmp_path / "a.json")).returncode == 0
    assert (tmp_path / "a.json").read_bytes() == exported(Protocol.load(a))


@pytest.mark.parametrize("first", [b"40000", b"4294967301", b"99999999999999999999999", b"-1", b"1.0",
                                   b'"16384"', b" 16384", b"16384.0e0"])
def test_a_long_sample_list_is_judged_as_from_dict_judges_a_list(tmp_path, first):
    a = Protocol.load(long_protocol(tmp_path / "a.vora"))
    text = exported(a)
    start = text.index(b'"samples": [') + len(b'"samples": [')
    edited = text[:start] + first + text[text.index(b",", start):]
    d = a.to_dict()
    d["signals"][0]["samples"] = strict(b"[" + first + b"]") + d["signals"][0]["samples"][1:].tolist()
    try:
        expected = Protocol.from_dict(d).to_bytes()
    except DecodeError as refusal:
        with pytest.raises(Trouble) as caught:
            from_json(edited, "a.json")
        assert str(caught.value) == f"a.json: {refusal}"
    else:
        assert from_json(edited, "a.json").to_bytes() == expected


def test_non_finite_strings_are_floats_only_where_the_form_has_floats():
    p = Protocol()
    p.add_constant_signal(0.5)
    d = json.loads(exported(p))
    d["machine_config"]["coils"][0]["name"] = "NaN"
    d["signals"][0]["value"] = "-Infinity"
    q = from_json(json.dumps(d).encode(), "p.json").to_dict()
    assert (q["machine_config"]["coils"][0]["name"], q["signals"][0]["value"]) == ("NaN", float("-inf"))
    d["machine_config"]["num_coils"] = "NaN"  # an integer field keeps its string: refused
    with pytest.raises(Trouble, match=r"^p\.json: .*str 'NaN'.* for machine_config\.num_coils$"):
        from_json(json.dumps(d).encode(), "p.json")


def python_json_error(text: bytes) -> str:
    with pytest.raises(json.JSONDecodeError) as caught:
        json.loads(text)
    return f"not JSON: {caught.value.msg} (line {caught.value.lineno}, column {caught.value.colno})"


@pytest.mark.parametrize("text, message", [
    (b'{"intensity": 0.5,\n "signals": [1,]}', python_json_error),
    (b'{"intensity":', python_json_error),
    (b'', python_json_error),
    (b'{"intensity":\n  NaN}', lambda text: "(line 2, column 3)"),
    (b'{"name":\n "ab\xff"}', lambda text: "not UTF-8 (line 2, column 5)"),
    (b'{"name": "\\ud83d\\ude00",\n "x": "\\ud83d"}', lambda text: "not JSON: \\ud83d is half of a surrogate pair (line 2, column 8)"),
    (b'{"intensity": 0.5}', lambda text: str(pytest.raises(DecodeError, Protocol.from_dict, json.loads(text)).value)),
    (b'[]', lambda text: str(pytest.raises(DecodeError, Protocol.from_dict, []).value)),
])
def test_build_refusals(tmp_path, text, message):
    (tmp_path / "p.json").write_bytes(text)
    result = run("build", str(tmp_path / "p.json"), "-o", str(tmp_path / "p.vora"))
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr.startswith(f"{tmp_path / 'p.json'}: ") and result.stderr.endswith(message(text) + "\n")
    assert result.stderr.count("\n") == 1
    assert not (tmp_path / "p.vora").exists()


def with_duplicate(before: bytes, key: bytes, samples_per_line=None) -> bytes:
    """An exported session (its sample list long enough to be read in one piece) with `key`
    written once more in front of the text `before`."""
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(0.5)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    text = b"".join(to_json(p, samples_per_line))
    assert text.count(before) == 1
    return text.replace(before, key + b": 0, " + before)


@pytest.mark.parametrize("text, message", [
    (b'{\n"signals":\n' + b"[" * 100000 + b"]" * 100000 + b"}", "not JSON: nested too deeply (line 3, column 100000)"),
    (b'{"intensity":\n  1e400}', "not JSON: Number out of range (line 2, column 3)"),
    (b'{"intensity": [0.0, -1.5e999]}', "not JSON: Number out of range (line 1, column 21)"),
    (with_duplicate(b'"intensity"', b'"intensity"'), "duplicate key 'intensity'"),
    (with_duplicate(b'"value": 0.5', b'"v\\u0061lue"'), "duplicate key 'value' for signals[0]"),
    (with_duplicate(b'"enabled": false', b'"coil_idx"'), "duplicate key 'coil_idx' for channel_b_settings"),
    (with_duplicate(b'"enabled": false', b'"coil_idx"', 3), "duplicate key 'coil_idx' for channel_b_settings"),
])
def test_build_refusals_of_the_text_say_where(tmp_path, text, message):
    (tmp_path / "p.json").write_bytes(text)
    result = run("build", str(tmp_path / "p.json"), "-o", str(tmp_path / "p.vora"))
    assert (result.returncode, result.stderr) == (2, f"{tmp_path / 'p.json'}: {message}\n")


def test_standard_input_and_version(tmp_path):
    path = write(tmp_path / "c.vora")
    data = (tmp_path / "c.vora").read_bytes()
    for args, expected in ((["show", "-"], run("show", path).stdout),
                           (["check", "-"], "-: ok\n"),
                           (["export", "-"], run("export", path).stdout)):
        result = subprocess.run([COMMAND, *args], input=data, capture_output=True)
        assert (result.returncode, result.stdout.decode()) == (0, expected), args
    built = subprocess.run([COMMAND, "build", "-", "-o", "-"], input=run("export", path).stdout.encode(),
                           capture_output=True)
    assert (built.returncode, built.stdout) == (0, data)
    version = subprocess.run([sys.executable, "-m", "pyvora_cli", "--version"], capture_output=True, text=True)
    assert version.stdout == f"pyvora {__import__('pyvora').__version__}\n"


def test_check_json_writes_one_object_per_file(tmp_path):
    clean, faulty = write(tmp_path / "clean.vora"), write(tmp_path / "faulty.vora", intensity=0.5)
    (tmp_path / "garbage.vora").write_bytes(b"not a protocol")
    result = run("check", "--json", clean, faulty, str(tmp_path / "garbage.vora"))
    lines = [json.loads(line) for line in result.stdout.splitlines()]
    assert (result.returncode, result.stderr) == (2, "")
    assert lines[:2] == [{"file": clean, "problems": [], "error": None, "rules": []},
                         {"file": faulty, "problems": Protocol.load(faulty).find_problems(), "error": None, "rules": []}]
    assert lines[2]["file"] == str(tmp_path / "garbage.vora") and lines[2]["problems"] == []
    assert lines[2]["error"].startswith("not a protocol file: ")


def test_every_sample_value_is_written_as_its_digits():
    from pyvora_cli.json_form import samples_json

    for samples in (np.arange(32768, dtype=np.int16)[::-1], np.array([7], np.int16), np.array([], np.int16),
                    np.array([-32768, 5, -1], np.int16)):
        for per_line in (None, 1, 3, 10**100):
            out: list = []
            samples_json(samples, out, per_line, "  ")
            assert json.loads(b"".join(out)) == samples.tolist()


def test_the_spelling_export_writes_is_read_in_one_pass():
    samples = array("h", [0, 9, 10, 32767, 12345] * 20)
    text = ("[" + ",".join(map(str, samples)) + "]").encode()
    assert pyvora._read_sample_list(text) == samples.tobytes()
    assert pyvora._read_sample_list(memoryview(b"[" + text)[1:]) == samples.tobytes()
    for other in (b"[]", text.replace(b",", b", "), b"[01]" + text[1:], b"[32768" + text[2:]):
        assert pyvora._read_sample_list(other) is None
    with pytest.raises(TypeError):
        pyvora._read_sample_list(text.decode())


def test_a_signal_is_read_by_the_branch_of_its_kind():
    # The NaN is a float only in a Sine's branch; read by another, it would be refused first.
    p = Protocol()
    p.add_sine_signal(float("nan"), 10.0)
    p.add_constant_signal(0.5)
    d = json.loads(exported(p))
    d["signals"][1]["extra"] = 1
    with pytest.raises(DecodeError) as refusal:
        Protocol.from_dict({**d, "signals": [{**d["signals"][0], "amplitude": float("nan")}, d["signals"][1]]})
    with pytest.raises(Trouble) as caught:
        from_json(json.dumps(d).encode(), "p.json")
    assert str(caught.value) == f"p.json: {refusal.value}"


def test_build_reads_the_sample_list_export_writes_in_one_pass(tmp_path, monkeypatch):
    from pyvora_cli import command, json_form

    a = long_protocol(tmp_path / "a.vora")
    (tmp_path / "a.json").write_bytes(exported(Protocol.load(a)))
    read = []

    def counted(text):
        read.append(pyvora._read_sample_list(text))
        return read[-1]

    monkeypatch.setattr(json_form, "_read_sample_list", counted)
    assert command.main(["build", str(tmp_path / "a.json"), "-o", str(tmp_path / "b.vora")]) == 0
    assert (tmp_path / "b.vora").read_bytes() == (tmp_path / "a.vora").read_bytes()
    assert len(read) == 1 and read[0] is not None


def test_samples_so_many_to_a_line_are_built_back_in_one_pass(tmp_path, monkeypatch):
    from pyvora_cli import command, json_form

    a = long_protocol(tmp_path / "a.vora")
    d = Protocol.load(a).to_dict()
    d["signals"][0]["samples"][12345] ^= 1
    Protocol.from_dict(d).save(str(tmp_path / "edited.vora"))
    read = []
    monkeypatch.setattr(json_form, "_read_sample_list",
                        lambda text: read.append(pyvora._read_sample_list(text)) or read[-1])
    one_line = len(exported(Protocol.load(a)).splitlines())
    for per_line in ("1", "7", "100", "100000"):
        texts = []
        for name in ("a", "edited"):
            assert command.main(["export", "--samples-per-line", per_line, str(tmp_path / f"{name}.vora"),
                                 "-o", str(tmp_path / f"{name}.json")]) == 0
            texts.append((tmp_path / f"{name}.json").read_bytes())
        assert command.main(["build", str(tmp_path / "a.json"), "-o", str(tmp_path / "b.vora")]) == 0
        assert (tmp_path / "b.vora").read_bytes() == (tmp_path / "a.vora").read_bytes()
        assert strict(texts[0]) == strict(exported(Protocol.load(a)))
        assert read.pop() is not None and not read
        lines, edited = (text.splitlines() for text in texts)
        # The sample list's line becomes its opening, its lines of samples, and its closing.
        assert len(lines) == len(edited) == one_line + 1 + -(-len(d["signals"][0]["samples"]) // int(per_line))
        assert sum(x != y for x, y in zip(lines, edited)) == 1, per_line
    assert b'"samples": [\n        ' in texts[0] and texts[0].count(b"\n      ]") == 1


@pytest.mark.parametrize("per_line", ["0", "-3", "x", "2.0", "\u0663"])
def test_samples_per_line_is_a_whole_number_of_at_least_one(tmp_path, per_line):
    result = run("export", "--samples-per-line", per_line, write(tmp_path / "c.vora"))
    assert (result.returncode, result.stdout) == (2, "")
    refusal = f"--samples-per-line: expected a whole number of at least 1, got {per_line!r}"
    assert result.stderr.splitlines()[-1].endswith(refusal)
