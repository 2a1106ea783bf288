"""A lab's rules (pyvora_cli.rules): what a rules file may say, and what it finds in a protocol."""

import hashlib
import json
import subprocess
from pathlib import Path

import pytest

from pyvora import Protocol
from helpers import COMMAND, run, write, Needed
from pyvora_cli import rules

np = Needed("numpy")

EXAMPLE = Path(__file__).parents[2] / "docs" / "study-rules.toml"


def rule(**keys):
    body = "".join(f"{key} = {value}\n" for key, value in keys.items())
    return f'[[rule]]\nname = "r"\n{body}'


@pytest.mark.parametrize("text, line, what", [
    ("[[rule]]\nname = \"r\"\npath = \"intensity\"\nmax = 0.2\ncolour = 1\n", 5, "unknown key 'colour'"),
    (rule(path='"intensty"', max=0.2), 3, "'intensty' names no field"),
    (rule(path='"signals[*]..kind"', one_of='["Sine"]'), 3, "'signals[*]..kind' is not a path"),
    (rule(path='"intensity"', max='"0.2"'), 4, "'max' must be a finite number"),
    (rule(path='"intensity"', required="true"), 4, "'required' fits flags, but 'intensity' is a number"),
    (rule(path='"signals[*].samples"', max=1), 4, "'max' fits numbers, but 'signals[*].samples' is a sample list"),
    (rule(path='"machine_config.coils[*].name"', one_of="[1]"), 4, "'one_of' holds 1"),
    (rule(path='"channel_a_settings.enabled"', required="false"), 4, "'required' can only be true"),
    (rule(path='"signals[*].samples"', edge_samples=5), 1,
     "rule 'r' has no condition (one of min, max, one_of, required, ends_within, max_step)"),
    (rule(path='"intensity"', max=0.2, level='"fatal"'), 5, "'level' must be"),
    (rule(path='"intensity"'), 1, "rule 'r' has no condition"),
    (rule(path='"intensity"', max=0.2, message='"two\\nlines"'), 5, "'message' must be one line"),
    ('[[rule]]\nname = "r"\npath = "intensity"\nmax = 0.2\n[other]\n', 5, "unknown key 'other'"),
    ("[[rule]\n", 1, "not TOML: "),
    ("rule = 1\n", 1, "'rule' must be [[rule]] tables"),
    (rule(path='"intensity"', max=1, colour=1), 5, "unknown key 'colour' (known: name, path, level, message, min, max, "),
    (rule(path='"intensity"', one_of='["high"]'), 4, "'one_of' holds 'high', but 'intensity' is a number"),
    (rule(path='"intensity"', one_of="[0.1]", max='"x"'), 5, "'max' must be a finite number"),
    (rule(path='"intensity"', one_of="[0.1]", required="true"), 5, "'required' fits flags"),
    (rule(path='"signals[*].samples"', ends_within=0.1, edge_samples=2.5), 5, "'edge_samples' must be a whole number"),
    ('rule = [{name = "r", path = "x", max = 1}]\n', None, "'x' names no field"),
    # a key that cannot be found as written is placed at its rule's header, not in the next rule
    (rule(path='"intensity"', max=1) + '"colo\\u0075r" = 1\n' + '[[rule]]\ncolour = 2\nname = "s"\n',
     1, "unknown key 'colour'"),
    (rule(path='"intensity"', max=1) + '"colo\\u0075r" = 1\n', 1, "unknown key 'colour'"),
    # a rule's header and sub-tables in each form TOML allows
    ('[["rule"]]\nname = "r"\npath = "intensity"\nmax = 0.2\n[[rule]]\nname = "s"\npath = "x"\nmax = 1\n', 7, "'x' names no field"),
    (rule(path='"intensity"', max=0.2) + "[rule.sub]\nx = 1\n", 5, "unknown key 'sub'"),
    (rule(path='"intensity"', max=0.2) + "sub.x = 1\n", 5, "unknown key 'sub'"),
    # boundaries of the conditions
    (rule(path='"signals[*].samples"', ends_within=0.1, edge_samples=0), 5, "'edge_samples' must be a whole number"),
    (rule(path='"signals[*].samples"', max_step=1.5), 4, "'max_step' is a fraction of full scale, from 0 to 1"),
    (rule(path='"signals[*].samples"', ends_within=-0.1), 4, "'ends_within' is a fraction of full scale"),
    (rule(path='"signals[*].samples"', ends_within="nan"), 4, "'ends_within' must be a finite number"),
    (rule(path='"signals[*].samples"', ends_within="9" * 400), 4, "'ends_within' is a fraction"),
    (rule(path='"signals[*].samples"', max_step=0.1, edge_samples=3), 5, "'edge_samples' goes with 'ends_within'"),
    (rule(path='"intensity"', max="nan"), 4, "'max' must be a finite number"),
    (rule(path='"intensity"', min="-inf"), 4, "'min' must be a finite number"),
    (rule(path='"intensity"', min=2, max=1), 4, "'min' is above 'max'"),
    # what Python cannot read back is refused at its line too
    # the line where the nesting is deepest, brackets in strings and comments left out
    (rule(path="'C:\\'", max="[" * 2000 + "]" * 2000) + 'message = "\\" ' + "[" * 3000 + '"\n# ' + "{" * 3000,
     4, "not TOML: nested too deeply"),
    (rule(path='"intensity"', max="1" * 5000), 4, "not TOML: an integer of too many digits"),
    # each refusal of a rule's own keys
    ("rule = [1]\n", None, "each rule must be a [[rule]] table"),
    ('[[rule]]\npath = "intensity"\nmax = 1\n', 1, "the rule has no 'name'"),
    ('[[rule]]\nname = ""\npath = "intensity"\nmax = 1\n', 2, "'name' must be a non-empty string"),
    (rule(path='"intensity"', max=1, message=3), 5, "'message' must be a string"),
    (rule(path='"intensity"', max=1).replace('"r"', '"a\\u0007"'), 2, "'name' must be one line of printable text"),
    (rule(path='"machine_config"', one_of="[1]"), 4, "'one_of' fits numbers, texts and flags, but 'machine_config' is a record"),
    (rule(path='"intensity"', one_of="[]"), 4, "'one_of' must be a non-empty array"),
    (rule(path='"channel_a_settings.enabled"', one_of="[1]"), 4, "'one_of' holds 1, but 'channel_a_settings.enabled' is a flag"),
    (rule(path='"intensity"', min=1, max=0.5), 4, "'min' is above 'max'"),
    (rule(path='"intensity"', max=1, required="true"), 5, "'required' fits flags"),
])
def test_an_invalid_rules_file_names_its_line_and_what_is_wrong(text, line, what):
    with pytest.raises(rules.RulesError) as caught:
        rules.parse("# a study\n" + text, "study.toml")
    line = None if line is None else line + 1
    assert (caught.value.source, caught.value.line) == ("study.toml", line)
    assert caught.value.what.startswith(what) and "(at line" not in caught.value.what
    assert str(caught.value).startswith(f"study.toml: line {line}: " if line else "study.toml: ")


def test_findings_name_rule_level_path_and_message():
    p = Protocol()
    p.set_stimulation_intensity(0.3)
    p.add_ramp_signal(1.0, 0.1, 2.0)
    p.add_sine_signal(1.0, 200.0)
    envelope = np.concatenate([np.zeros(10), np.ones(p.get_num_samples() - 20), np.zeros(10)])
    p.add_arbitrary_signal(envelope)
    data = p.to_dict()
    data["machine_config"]["safety_checks_enabled"] = False
    p = Protocol.from_dict(data)
    findings = rules.check(p, rules.load(str(EXAMPLE)))
    assert [(f.level, f.path) for f in findings] == [
        ("error", "intensity"), ("error", "signals[1].frequency"), ("warning", "signals[0].up_duration"),
        ("error", "signals[2].samples"), ("error", "signals[2].samples"),
        ("error", "machine_config.safety_checks_enabled")]
    assert str(findings[0]) == ('error: intensity: 0.3 is above the maximum 0.2: the ethics approval allows an '
                                'intensity of at most 0.2 (rule "approval 2026-14: intensity")')
    assert [f.detail for f in findings[3:5]] == [
        "sample 10 (0.002 s) is 32767, more than 0.01 of full scale from 0 (the first and last 50)",
        "a step of 32767 between samples 9 and 10 (0.0018 s and 0.002 s) is more than 0.05 of full scale"]
    # Without a message a finding says what the rule asks; a pattern that matches nothing finds nothing.
    plain = rules.parse(rule(path='"signals[*].samples"', ends_within=0.01, edge_samples=11) +
                        rule(path='"signals[*].a_idx"', max=0))
    [edge] = rules.check(p, plain)
    assert (edge.detail, edge.message) == (
        "sample 10 (0.002 s) is 32767, more than 0.01 of full scale from 0 (the first and last 11)",
        "must start and end within 0.01 of full scale")


def test_check_with_rules_reports_findings_and_exits_by_level(tmp_path):
    study = tmp_path / "study.toml"
    study.write_text(rule(path='"intensity"', max=0.3, message='"at most 0.3"') +
                     rule(path='"signals[*].frequency"', max=5.0, level='"warning"'))
    low, high = write(tmp_path / "low.vora", intensity=0.2), write(tmp_path / "high.vora", intensity=0.4)
    result = run("check", "--rules", str(study), low)
    assert (result.returncode, result.stdout) == (0, f"{low}: warning: signals[0].frequency: 10.0 is above the "
                                                     f"maximum 5.0: must be at most 5.0 (rule \"r\")\n")
    assert run("check", "--strict", "--rules", str(study), low).returncode == 1
    result = run("check", "--rules", str(study), high, low)
    assert result.returncode == 1 and f"{high}: error: intensity: 0.4 is above the maximum 0.3: at most 0.3" in result.stdout
    [line] = run("check", "--json", "--rules", str(study), high).stdout.splitlines()[:1]
    assert json.loads(line)["findings"][0] == {"rule": "r", "level": "error", "path": "intensity",
                                               "message": "at most 0.3", "detail": "0.4 is above the maximum 0.3",
                                               "rules_file": None}
    study.write_text("[[rule]]\nname = 'r'\npath = 'intensity'\nmax = true\n")
    result = run("check", "--rules", str(study), low)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == f"{study}: line 4: 'max' must be a finite number\n"


def test_largest_step_is_the_first_of_the_largest():
    import array

    import pyvora

    assert pyvora._largest_step(array.array("h", [0, 5, -3, 2, -6, 10])) == (4, 16)
    assert pyvora._largest_step(array.array("h", [3, -5, 3])) == (0, 8)
    assert pyvora._largest_step(b"") == pyvora._largest_step(array.array("h", [7])) == (0, 0)


def test_rules_need_no_numpy(tmp_path):
    import subprocess
    import sys

    p = Protocol()
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    expected = p.to_dict()
    plain = p._to_dict_buffers()
    view = plain["signals"][0].pop("samples")
    assert (view.format, view.readonly, view.tolist()) == ("h", True, expected["signals"][0].pop("samples").tolist())
    assert plain == expected
    p.save(str(tmp_path / "p.vora"))
    (tmp_path / "r.toml").write_text(rule(path='"signals[*].samples"', ends_within=0.01, max_step=0.01))
    code = ("import sys; from pyvora import Protocol; from pyvora_cli import rules; "
            f"found = rules.check(Protocol.load({str(tmp_path / 'p.vora')!r}), rules.load({str(tmp_path / 'r.toml')!r})); "
            "print(len(found), 'numpy' in sys.modules)")
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True).stdout == "1 False\n"


def test_a_file_that_is_not_toml_says_what_the_reader_says_without_its_position():
    import tomllib

    with pytest.raises(tomllib.TOMLDecodeError) as reader:
        tomllib.loads("[[rule]\n")
    with pytest.raises(rules.RulesError) as caught:
        rules.parse("[[rule]\n")
    assert caught.value.what == "not TOML: " + str(reader.value).rsplit(" (at line", 1)[0]


def test_refusals_on_the_first_line():
    for text, line in (("other = 1\n", 1), ("rule = 1\n", 1), ("\n" + rule(path='"intensity"', max="1" * 5000), 5)):
        with pytest.raises(rules.RulesError) as caught:
            rules.parse(text)
        assert (caught.value.source, caught.value.line) == ("<rules>", line)


def test_a_rules_file_without_a_rule_is_refused(tmp_path):
    for text in ("", "# the study's rules, to be written\n"):
        with pytest.raises(rules.RulesError) as caught:
            rules.parse(text, "study.toml")
        assert str(caught.value) == "study.toml: holds no rule"
    (tmp_path / "study.toml").write_text("# truncated\n")
    result = run("check", "--rules", str(tmp_path / "study.toml"), write(tmp_path / "p.vora"))
    assert (result.returncode, result.stdout, result.stderr) == (2, "", f"{tmp_path / 'study.toml'}: holds no rule\n")


@pytest.mark.parametrize("conditions, value, found", [
    ({"min": 0.2, "max": 0.2}, 0.2, []),  # exactly at both bounds
    ({"min": 0.25}, 0.2, ["0.2 is below the minimum 0.25"]),
    ({"min": 0, "max": 1}, float("nan"), ["NaN is below the minimum 0", "NaN is above the maximum 1"]),
    ({"one_of": [0, 10]}, 10.0, []),
    ({"one_of": [0, -1]}, 10.0, ["10.0 is not one of 0, -1"]),
    # integer bounds of any size and sign, compared exactly and written as written
    ({"min": -180, "max": -1}, 0.0, ["0.0 is above the maximum -1"]),
    ({"max": 2**64}, 2.0**64, []),
    ({"max": 2**64 - 1}, 2.0**64, ["1.8446744073709552e19 is above the maximum 18446744073709551615"]),
    ({"min": 10**400}, 1e308, [f"1e308 is below the minimum {10**400}"]),
    ({"one_of": [True]}, False, ["false is not one of true"]),
    ({"one_of": [True]}, True, []),
])
def test_bounds_are_exact(conditions, value, found):
    r = rules.Rule("r", "x", "error", None, conditions)
    assert rules._judge(r, value) == found


def test_limits_of_sample_lists_and_indices_beyond_the_list():
    import array

    p = Protocol()
    p.set_session_duration(0.01)
    for _ in range(3):
        p.add_sine_signal(1.0, 10.0)
    assert rules.check(p, rules.parse(rule(path='"signals[3].frequency"', max=1.0))) == []
    [last] = rules.check(p, rules.parse(rule(path='"signals[2].frequency"', max=1.0)))
    assert last.path == "signals[2].frequency"
    # The least a rule may ask: min equal to max, one edge sample.
    rules.parse(rule(path='"intensity"', min=0.2, max=0.2) + rule(path='"signals[*].samples"', ends_within=0.1, edge_samples=1)
                + rule(path='"channel_a_settings.enabled"', one_of="[true]"))
    for key in ("ends_within", "max_step"):  # a sample or step exactly at the limit is no finding
        for fraction, samples in ((0, [0, 0]), (1, [32767, 0, 32767])):
            limit = rules.Rule("r", "s", "error", None, {key: fraction})
            assert rules._judge(limit, array.array("h", samples)) == []
        assert rules._judge(limit._replace(conditions={key: 0.99}), array.array("h", samples)) != []
    for fraction in (0, 1):
        rules.parse(rule(path='"signals[*].samples"', ends_within=fraction, max_step=fraction))


def test_a_bad_byte_is_reported_at_its_line(tmp_path):
    (tmp_path / "study.toml").write_bytes(b'\n[[rule]]\n# caf\xe9\nname = "r"\npath = "intensity"\nmax = 1\n')
    with pytest.raises(rules.RulesError) as caught:
        rules.load(str(tmp_path / "study.toml"))
    assert (caught.value.source, caught.value.line, caught.value.what) == (str(tmp_path / "study.toml"), 3, "not UTF-8")
    # The rules keep the name of the file they come from.
    assert {r.source for r in rules.load(str(EXAMPLE))} == {str(EXAMPLE)}
    assert rules.from_bytes(rule(path='"intensity"', max=1).encode())[0].source == "<rules>"


@pytest.mark.parametrize("conditions, asks", [
    ({"min": -1, "max": 2}, "must be at least -1 and must be at most 2"),
    ({"one_of": ["Sine", 0.5]}, 'must be one of "Sine", 0.5'),
    ({"required": True}, "must be true"),
    ({"ends_within": 0, "edge_samples": 3, "max_step": 1}, "must start and end within 0.0 of full scale and "
                                                           "must step by at most 1.0 of full scale"),
])
def test_a_rule_without_a_message_says_what_it_asks(conditions, asks):
    assert rules._asks(rules.Rule("r", "x", "error", None, conditions)) == asks


def test_findings_of_each_kind_of_condition_in_words():
    import array

    flag = rules.Rule("r", "x", "error", None, {"required": True})
    assert rules._judge(flag, False) == ["false, but it must be true"]
    edges = rules.Rule("r", "s", "error", None, {"ends_within": 0.5})
    samples = array.array("h", [0, 32767, 0, 32767, 20000])
    assert rules._judge(edges, samples) == [
        "sample 4 (0.0008 s) is 20000, more than 0.5 of full scale from 0 (the first and last 1)"]
    assert rules._judge(edges._replace(conditions={"ends_within": 0.5, "edge_samples": 2}), samples) == [
        "sample 1 (0.0002 s) is 32767, more than 0.5 of full scale from 0 (the first and last 2)"]
    assert rules._judge(edges._replace(conditions={"ends_within": 0.5, "edge_samples": 9}), samples[:2]) == [
        "sample 1 (0.0002 s) is 32767, more than 0.5 of full scale from 0 (the first and last 9)"]
    # Of two files holding a rule of the same name, each finding names its file.
    p = Protocol()
    p.set_stimulation_intensity(0.2)
    p.add_sine_signal(1.0, 10.0)
    p.add_sine_signal(1.0, 20.0)
    lab = rules.parse(rule(path='"signals[1].frequency"', max=15) + rule(path='"intensity"', max=0.1).replace('"r"', '"i"'),
                      "lab.toml")
    study = rules.parse(rule(path='"signals[*].frequency"', max=12), "study.toml")
    assert [str(f).rsplit("(rule ", 1)[1] for f in rules.check(p, lab + study)] == [
        '"r" in lab.toml)', '"i")', '"r" in study.toml)']


def test_several_rules_files_apply_in_order_and_name_their_file_when_names_clash(tmp_path):
    lab, study = tmp_path / "lab.toml", tmp_path / "study.toml"
    lab.write_text(rule(path='"intensity"', max=0.1) + rule(path='"signals[*].phase"', min=-180, max=-1).replace('"r"', '"phase"'))
    study.write_text(rule(path='"intensity"', max=0.15))
    p = write(tmp_path / "p.vora")
    for order in ((lab, study), (study, lab)):
        result = run("check", *(f"--rules={path}" for path in order), p)
        assert result.returncode == 1
        assert sorted(result.stdout.splitlines()) == sorted([
            f'{p}: error: intensity: 0.2 is above the maximum 0.1: must be at most 0.1 (rule "r" in {lab})',
            f'{p}: error: intensity: 0.2 is above the maximum 0.15: must be at most 0.15 (rule "r" in {study})',
            f'{p}: error: signals[0].phase: 0.0 is above the maximum -1: must be at least -180 and must be at most -1 '
            '(rule "phase")'])
    [line] = run("check", "--json", "--rules", str(lab), "--rules", str(study), p).stdout.splitlines()
    record = json.loads(line)
    assert record["rules"] == [{"file": str(path), "sha256": hashlib.sha256(path.read_bytes()).hexdigest()}
                               for path in (lab, study)]
    assert [f["rules_file"] for f in record["findings"]] == [str(lab), None, str(study)]
    assert json.loads(run("check", "--json", p).stdout)["rules"] == []
    # The rules on standard input, as - reads a protocol elsewhere; it can be read only once.
    result = subprocess.run([COMMAND, "check", "--rules", "-", p], input=study.read_text(), capture_output=True, text=True)
    assert (result.returncode, result.stdout) == (1, f'{p}: error: intensity: 0.2 is above the maximum 0.15: '
                                                     'must be at most 0.15 (rule "r")\n')
    assert run("check", "--rules", "-", "-").returncode == 2
    assert run("check", "--strict", p).returncode == 2
