"""The documents agree with the module: the bytes of docs/file-format.md, the Python and the
commands in README.md and docs/ run and print as shown, the README shows what the example
prints; every public name of the stubs has a docstring; the picture of the example's file is
current."""

import ast
import pathlib
import re
import runpy
import shlex
import subprocess
import sys

import pytest

from helpers import Needed, need, run
from pyvora import Channel, Coil, Protocol

np = Needed("numpy")

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOC = ROOT / "docs" / "file-format.md"
WALK = "Walk-through: the default file"
# Where the channel records sit, counted from the end: two 12-byte records, 16 flags, one factor.
FIELDS_FROM_END = {
    "signals": (None, -41),
    "channel_a_settings": (-41, -29),
    "channel_b_settings": (-29, -17),
}
SIGNALS_AT = 150  # while the machine description is the default one


def section(title):
    text = DOC.read_text(encoding="utf-8")
    start = text.index(f"\n## {title}\n")
    end = text.find("\n## ", start + 1)
    return text[start : end if end != -1 else len(text)]


def hex_bytes(cell):
    """'01 02 00 ×3' -> bytes 01 02 00 00 00."""
    out = bytearray()
    for byte, repeat in re.findall(r"\b([0-9a-f]{2})(?: ×(\d+))?(?=\s|$)", cell.strip()):
        out += bytes([int(byte, 16)]) * int(repeat or 1)
    return bytes(out)


def saved(protocol, tmp_path):
    path = tmp_path / "doc.vora"
    protocol.save(str(path))
    return path.read_bytes()


@pytest.fixture
def default_file(fresh, tmp_path):
    return saved(fresh, tmp_path)


def test_walk_through_covers_the_default_file_field_by_field(default_file):
    rows = re.findall(r"^\| (\d+) \| ([0-9a-f ]+) \|", section(WALK), re.M)
    assert len(rows) > 40
    walked = b""
    for offset, cell in rows:
        assert int(offset) == len(walked), f"row at {offset} does not follow the one before"
        walked += hex_bytes(cell)
    assert walked == default_file


def test_hex_dump_is_the_default_file(default_file):
    dump = re.search(r"```text\n(.*?)```", section(WALK), re.S).group(1)
    data = b""
    for line in dump.splitlines():
        offset, cell = line.split(maxsplit=1)
        assert int(offset) == len(data)
        data += hex_bytes(cell)
    assert data == default_file


EXAMPLES = re.findall(r"^\| `([^`]+)` \| `(\w+)` \| ([0-9a-f ×]+) \|$", section("More examples"), re.M)


@pytest.mark.parametrize("statements, field, cell", EXAMPLES, ids=[e[0][:40] for e in EXAMPLES])
def test_examples(fresh, tmp_path, statements, field, cell):
    exec(statements, {"p": fresh, "Coil": Coil, "Channel": Channel, "np": np})
    data = saved(fresh, tmp_path)
    start, end = FIELDS_FROM_END[field]
    assert data[SIGNALS_AT if start is None else start : end] == hex_bytes(cell)


def test_every_example_row_was_read():
    assert len(EXAMPLES) == section("More examples").count("\n| `")


DOCUMENTS = ["README.md", *sorted(str(path.relative_to(ROOT)) for path in (ROOT / "docs").glob("*.md"))]
FENCE = re.compile(r"^```(\w+)\n(.*?)^```\n", re.S | re.M)


def fences(name, language):
    """The bodies of the document's code blocks in that language, each with the body of the
    block right after it when that one holds text (the output shown for it), else None."""
    text = (ROOT / name).read_text("utf-8")
    found = list(FENCE.finditer(text))
    for block, after in zip(found, [*found[1:], None]):
        if block.group(1) == language:
            shown = after is not None and after.group(1) == "text" and text[block.end():after.start()].strip() == ""
            yield block.group(2), after.group(2) if shown else None


@pytest.mark.parametrize("name", DOCUMENTS)
def test_documented_python_runs_and_prints_what_is_shown(tmp_path, monkeypatch, capsys, name):
    # A document's examples run in order in one directory, as a reader would run them.
    monkeypatch.chdir(tmp_path)
    for i, (code, shown) in enumerate(fences(name, "python")):
        for package, used in (("numpy", "numpy"), ("matplotlib", "figure(")):
            if used in code:
                need(package)
        capsys.readouterr()
        exec(compile(code, f"{name} example {i + 1}", "exec"), {"__name__": "__example__"})
        if shown is not None:
            assert capsys.readouterr().out == shown, f"{name} example {i + 1}"


@pytest.fixture
def example_files(tmp_path, monkeypatch):
    """The example's session.vora, and session-short.vora: it loaded, cut to 90 s and saved."""
    need("numpy")  # the example's arbitrary signal
    monkeypatch.chdir(tmp_path)
    printed = subprocess.run([sys.executable, str(ROOT / "examples" / "compose_session.py")], check=True,
                             capture_output=True, text=True).stdout
    short = Protocol.load("session.vora")
    short.set_session_duration(90.0)
    short.save("session-short.vora")
    return printed


def test_the_readme_shows_what_the_example_prints(example_files):
    readme = (ROOT / "README.md").read_text("utf-8")
    shown = re.search(r"<!-- example output: start -->\n```text\n\$ python examples/compose_session.py\n(.*?)```",
                      readme, re.S).group(1)
    assert shown == example_files
    assert "_summary_text" not in (ROOT / "examples" / "compose_session.py").read_text("utf-8")


def shown_commands():
    """Each `$ pyvora ...` line of the documents' shell blocks with the lines shown after it."""
    for name in DOCUMENTS:
        for code, _ in fences(name, "sh"):
            for command, output in re.findall(r"^\$ (pyvora [^\n]*)\n((?:(?!\$ )[^\n]*\n)*)", code, re.M):
                if output:  # a command shown without output claims nothing here
                    yield pytest.param(command, output, id=f"{name}: {command[:50]}")


@pytest.mark.parametrize("command, output", list(shown_commands()))
def test_documented_commands_print_what_is_shown(example_files, command, output):
    # "..." stands for lines left out; every line shown is printed, in that order.
    words = shlex.split(command.partition("#")[0].replace("docs/", f"{ROOT}/docs/"))
    done = run(*words[1:])
    printed = iter((done.stdout + done.stderr).splitlines())
    for line in output.splitlines():
        if line.strip() != "...":
            assert line in printed, f"{command}: {line!r}"


def test_a_usage_error_is_the_usage_and_one_line():
    done = run("show")
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.splitlines() == ["usage: pyvora show [-h] [--full] FILE",
                                        "pyvora show: error: the following arguments are required: FILE"]
    assert "`pyvora show: error: the following arguments are required: FILE`" in (ROOT / "docs" / "command.md").read_text("utf-8")


def stub_docstrings():
    """{'Protocol.save': docstring or None, ...} for every class, function and annotated name."""
    tree = ast.parse((ROOT / "stubs" / "pyvora-stubs" / "__init__.pyi").read_text("utf-8"))
    found = {"": ast.get_docstring(tree)}

    def walk(body, prefix):
        for node, after in zip(body, body[1:] + [None]):
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                found[prefix + node.name] = ast.get_docstring(node)
                if isinstance(node, ast.ClassDef):
                    walk(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                # An attribute's docstring is the string statement right after it.
                is_doc = isinstance(after, ast.Expr) and isinstance(after.value, ast.Constant)
                found[prefix + node.target.id] = after.value.value if is_doc else None

    walk(tree.body, "")
    return found


def test_stubs_document_every_public_name():
    # stubtest checks that the stubs name everything the module has; this, that each is documented.
    documented = stub_docstrings()
    private = re.compile(r"(^|\.)_(?!_)")
    assert {"__version__", "Protocol.save", "Coil.A1"} <= documented.keys()
    assert [name for name, doc in documented.items() if not doc and not private.search(name)] == []


def test_the_stub_carries_the_docstrings_the_module_has():
    # The stub's copies of the module's own docstrings are generated; a stale copy is caught here.
    script = runpy.run_path(str(ROOT / "scripts" / "gen_stub.py"))
    shipped = script["SHIPPED"].read_text("utf-8")
    assert shipped == script["generated"](shipped), "run: python scripts/gen_stub.py"
    names = {name for name, *_ in script["own_docstrings"](shipped)}
    assert {"Protocol.to_bytes", "Protocol.from_dict", "Channel.__reduce__", "DecodeError", "_json_schema"} <= names
    assert not names & {"Protocol.save", "Protocol.__new__", "Protocol.__str__", "Coil.__int__"}


def test_the_plot_picture_is_drawn_from_the_current_example_and_drawing_code():
    # The picture records what it was drawn from; its pixels vary with matplotlib and fonts.
    need("PIL"), need("numpy")
    script = runpy.run_path(str(ROOT / "scripts" / "make_plot_picture.py"))
    for picture, protocol in ((script["PICTURE"], script["example_protocol"]),
                              (script["REVIEW"], script["review_protocol"])):
        digest = script["inputs_digest"](protocol().to_bytes(), picture)
        assert script["recorded_digest"](picture) == digest, "run: python scripts/make_plot_picture.py"
        assert f"images/{picture.name})" in (ROOT / "docs" / "review.md").read_text("utf-8")
