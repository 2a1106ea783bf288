"""`pyvora check`: "FILE: ok" or one "FILE: <problem>" line per problem, for each file; with
--rules, also each finding of a lab's rules."""

import argparse
import hashlib
import json
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add
from pyvora_cli.names import name_text
from pyvora_cli.status import CLEAN, FOUND, TROUBLE, complain, out_of_memory
from pyvora_cli.streams import STDIO, OutputFailed, Trouble


def register(subparsers: Any) -> None:
    sub = add(subparsers, run, "check", "report likely mistakes in protocols",
              "For each file print 'FILE: ok', or 'FILE: <path>: <what is wrong>' for each problem "
              "that Protocol.find_problems() reports. Exit status 0 when every file is clean, 1 when "
              "any has problems, 2 when any could not be read.")
    sub.add_argument("--json", action="store_true",
                     help='print one JSON object per file and line instead: {"file": FILE, "problems": '
                          '[...], "error": null or why the file could not be read, "rules": [{"file": RULES, '
                          '"sha256": ...}, ...]}')
    sub.add_argument("--rules", metavar="RULES", action="append", default=None,
                     help="also check each file against a lab's rules (a TOML file of [[rule]] tables, - for "
                          "standard input; may be given several times, each file applied in order) and "
                          "print 'FILE: <level>: <path>: ...' for each finding; exit status 1 when an error-level "
                          "finding is reported, 0 when only warnings are, 2 when a rules file is not valid")
    sub.add_argument("--strict", action="store_true", help="with --rules: exit status 1 for warnings as well")
    sub.add_argument("files", nargs="+", metavar="FILE")


def load_rules(paths: list[str] | None, files: list[str]) -> tuple[list[Any] | None, list[dict[str, str]]]:
    """The rules of every rules file in order (None without any), and the record of what they
    are: each file's name and the SHA-256 of its bytes. `files` are the protocols' names: standard
    input cannot be read twice."""
    if paths is None:
        return None, []
    from pyvora_cli import rules

    if STDIO in paths and (paths.count(STDIO) > 1 or STDIO in files):
        raise Trouble("pyvora: standard input (-) can be read only once")
    lab: list[Any] = []
    record = []
    for path in paths:
        data = streams.read_bytes(path)
        try:
            lab += rules.from_bytes(data, path)
        except rules.RulesError as error:
            raise Trouble(f"{name_text(error.source)}: " + (f"line {error.line}: " if error.line else "")
                          + error.what) from None
        record.append({"file": name_text(path), "sha256": hashlib.sha256(data).hexdigest()})
    return lab, record


def findings_of(path: str, rules: list[Any] | None) -> tuple[list[str], list[Any]]:
    protocol = streams.read_protocol(path)
    try:
        if rules is None:
            return protocol.find_problems(), []
        from pyvora_cli.rules import check

        return protocol.find_problems(), check(protocol, rules)
    except MemoryError:
        raise out_of_memory(path) from None


def run(args: argparse.Namespace) -> int:
    if args.strict and args.rules is None:
        raise Trouble("pyvora: check --strict goes with --rules")
    rules, record = load_rules(args.rules, args.files)
    status = CLEAN
    for path in args.files:
        try:
            (problems, findings), error = findings_of(path, rules), None
        except OutputFailed:
            raise
        except Trouble as trouble:
            problems, findings, error = [], [], str(trouble)
            status = TROUBLE
        if problems or any(f.level == "error" or args.strict for f in findings):
            status = max(status, FOUND)
        name = name_text(path)
        if args.json:
            reason = None if error is None else error.removeprefix(f"{name}: ")
            line: dict[str, Any] = {"file": name, "problems": problems, "error": reason}
            if rules is not None:
                line["findings"] = [{"rule": f.rule, "level": f.level, "path": f.path, "message": f.message,
                                     "detail": f.detail, "rules_file": None if f.source is None else name_text(f.source)}
                                    for f in findings]
            line["rules"] = record
            streams.write_line(json.dumps(line, ensure_ascii=False, separators=(",", ":")).encode() + b"\n")
        elif error is not None:
            complain(error)
        else:
            lines = [f"{name}: {problem}\n" for problem in problems] + [f"{name}: {f}\n" for f in findings]
            streams.write_text("".join(lines) or f"{name}: ok\n")
    return status
