"""The JSON form in the command: `pyvora export`, `pyvora build` and the schema shipped with them."""

import json
import subprocess
import sys
from importlib import resources

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import pyvora
from pyvora import DecodeError, Protocol
from helpers import COMMAND, built_by, calls, run, write, need


def schema():
    return json.loads(resources.files("pyvora_cli").joinpath("protocol.schema.json").read_text("utf-8"))


def strict(text: bytes):
    """The standard library's reading of a text as RFC 8259 JSON (no NaN or Infinity literals)."""
    return json.loads(text, parse_constant=lambda name: pytest.fail(f"{name} is not JSON"))


def test_schema_is_a_schema_of_the_form_in_field_order():
    jsonschema = need("jsonschema")
    jsonschema.Draft202012Validator.check_schema(schema())
    for name, node in schema()["$defs"].items():
        if "properties" in node:
            assert node["required"] == list(node["properties"]), name
    p = Protocol()
    p.add_constant_signal(0.5)
    assert list(strict(p.to_json())) == list(p.to_dict())


def test_shipped_schema_is_the_one_generated_from_the_records():
    shipped = resources.files("pyvora_cli").joinpath("protocol.schema.json").read_text("utf-8")
    assert shipped == pyvora._json_schema(), "run scripts/gen_schema.py"


@settings(max_examples=100, deadline=None)
@given(st.lists(calls, max_size=8))
def test_the_schema_takes_the_form_of_protocols_built_by_the_methods(steps):
    jsonschema = need("jsonschema")
    need("numpy")  # the steps add arbitrary signals
    p = Protocol()
    p.set_session_duration(0.05)  # short sample lists: the schema check is pure Python
    built_by(steps, p)
    jsonschema.validate(strict(p.to_json()), schema(), cls=jsonschema.Draft202012Validator)


def long_protocol(path) -> str:
    """A protocol whose sample list is long enough for the reader's blocks of 64 bytes."""
    np = need("numpy")
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
    assert (tmp_path / "a.json").read_bytes() == Protocol.load(a).to_json()


@pytest.mark.parametrize("first", [b"40000", b"4294967301", b"99999999999999999999999", b"-1", b"1.0",
                                   b'"16384"', b" 16384", b"16384.0e0"])
def test_a_long_sample_list_is_judged_as_from_dict_judges_a_list(tmp_path, first):
    a = Protocol.load(long_protocol(tmp_path / "a.vora"))
    text = a.to_json()
    start = text.index(b'"samples": [') + len(b'"samples": [')
    edited = text[:start] + first + text[text.index(b",", start):]
    d = a.to_dict()
    d["signals"][0]["samples"] = strict(b"[" + first + b"]") + d["signals"][0]["samples"][1:].tolist()
    try:
        expected = Protocol.from_dict(d).to_bytes()
    except DecodeError as refusal:
        with pytest.raises(DecodeError) as caught:
            Protocol.from_json(edited)
        assert (str(caught.value), caught.value.path) == (str(refusal), refusal.path)
    else:
        assert Protocol.from_json(edited).to_bytes() == expected


def test_non_finite_strings_are_floats_only_where_the_form_has_floats():
    p = Protocol()
    p.add_constant_signal(0.5)
    d = json.loads(p.to_json())
    d["machine_config"]["coils"][0]["name"] = "NaN"
    d["signals"][0]["value"] = "-Infinity"
    q = Protocol.from_json(json.dumps(d)).to_dict()
    assert (q["machine_config"]["coils"][0]["name"], q["signals"][0]["value"]) == ("NaN", float("-inf"))
    d["machine_config"]["num_coils"] = "NaN"  # an integer field keeps its string: refused
    with pytest.raises(DecodeError, match=r"^.*str 'NaN'.* for machine_config\.num_coils$"):
        Protocol.from_json(json.dumps(d))


@pytest.mark.parametrize("text, message", [
    (b'{"intensity": 0.5,\n "signals": [1,]}', "not JSON: Expecting value (line 2, column 16)"),
    (b'{"name":\n "ab\xff"}', "not JSON: not UTF-8 (line 2, column 5)"),
    (b'{"intensity": 0.5}', "missing key for running_on_target_machine"),
    (b'\n{\n"signals":\n' + b"[" * 100000 + b"]" * 100000 + b"}", "not JSON: nested too deeply (line 4, column 7)"),
    (b'{"a": 1, "a": 2}', "duplicate key 'a'"),
    (b'{"intensity": 0.5, "intensity": 1e400}', "not JSON: Number out of range (line 1, column 33)"),
], ids=["grammar", "utf-8", "field", "depth", "duplicate", "range"])
def test_build_refusals(tmp_path, text, message):
    (tmp_path / "p.json").write_bytes(text)
    result = run("build", str(tmp_path / "p.json"), "-o", str(tmp_path / "p.vora"))
    assert (result.returncode, result.stdout, result.stderr) == (2, "", f"{tmp_path / 'p.json'}: {message}\n")
    assert not (tmp_path / "p.vora").exists()


def test_diff_refuses_a_long_int_as_any_other_value(tmp_path):
    a = write(tmp_path / "a.vora")
    text = Protocol.load(a).to_json().replace(b'"num_coils": 2', b'"num_coils": ' + b"7" * 5000)
    (tmp_path / "b.json").write_bytes(text)
    result = run("diff", a, str(tmp_path / "b.json"))
    assert result.returncode == 2 and result.stderr.startswith(f"{tmp_path / 'b.json'}: value <")
    assert "internal error" not in result.stderr


def test_standard_input_and_version(tmp_path):
    path = write(tmp_path / "c.vora")
    data = (tmp_path / "c.vora").read_bytes()
    for args, expected in ((["show", "-"], run("show", path).stdout),
                           (["check", "-"], "-: ok\n"),
                           (["export", "-"], run("export", path).stdout)):
        for given in (data, Protocol.from_bytes(data).to_json()):
            result = subprocess.run([COMMAND, *args], input=given, capture_output=True)
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
    assert result.stdout.startswith('{"file":')
    assert lines[:2] == [{"file": clean, "problems": [], "error": None, "rules": []},
                         {"file": faulty, "problems": Protocol.load(faulty).find_problems(), "error": None, "rules": []}]
    assert lines[2]["file"] == str(tmp_path / "garbage.vora") and lines[2]["problems"] == []
    assert lines[2]["error"].startswith("not a protocol file: ")


def test_samples_so_many_to_a_line_make_a_one_sample_edit_a_one_line_diff(tmp_path):
    a = long_protocol(tmp_path / "a.vora")
    d = Protocol.load(a).to_dict()
    d["signals"][0]["samples"][12345] ^= 1
    Protocol.from_dict(d).save(str(tmp_path / "edited.vora"))
    one_line = len(Protocol.load(a).to_json().splitlines())
    for per_line in ("1", "7", "100000"):
        texts = []
        for name in ("a", "edited"):
            assert run("export", "--samples-per-line", per_line, str(tmp_path / f"{name}.vora"),
                       "-o", str(tmp_path / f"{name}.json")).returncode == 0
            texts.append((tmp_path / f"{name}.json").read_bytes())
        assert run("build", str(tmp_path / "a.json"), "-o", str(tmp_path / "b.vora")).returncode == 0
        assert (tmp_path / "b.vora").read_bytes() == (tmp_path / "a.vora").read_bytes()
        assert strict(texts[0]) == strict(Protocol.load(a).to_json())
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
