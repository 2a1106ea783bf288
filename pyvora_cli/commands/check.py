"""`pyvora check`: "FILE: ok" or one "FILE: <problem>" line per problem, for each file."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add
from pyvora_cli.names import name_text
from pyvora_cli.status import CLEAN, FOUND, TROUBLE, complain, out_of_memory
from pyvora_cli.streams import OutputFailed, Trouble


def register(subparsers: Any) -> None:
    sub = add(subparsers, run, "check", "report likely mistakes in protocols",
              "For each file print 'FILE: ok', or 'FILE: <path>: <what is wrong>' for each problem "
              "that Protocol.find_problems() reports. Exit status 0 when every file is clean, 1 when "
              "any has problems, 2 when any could not be read.")
    sub.add_argument("--json", action="store_true",
                     help='print one JSON object per file and line instead: {"file": FILE, "problems": '
                          '[...], "error": null or why the file could not be read}')
    sub.add_argument("files", nargs="+", metavar="FILE")


def problems_of(path: str) -> list[str]:
    protocol = streams.read_protocol(path)
    try:
        return protocol.find_problems()
    except MemoryError:
        raise out_of_memory(path) from None


def run(args: argparse.Namespace) -> int:
    status = CLEAN
    if args.json:
        import msgspec

        encode = msgspec.json.Encoder().encode
    for path in args.files:
        try:
            problems, error = problems_of(path), None
        except OutputFailed:
            raise
        except Trouble as trouble:
            problems, error = [], str(trouble)
            status = TROUBLE
        if problems:
            status = max(status, FOUND)
        name = name_text(path)
        if args.json:
            reason = None if error is None else error.removeprefix(f"{name}: ")
            streams.write_bytes(encode({"file": name, "problems": problems, "error": reason}) + b"\n")
        elif error is not None:
            complain(error)
        else:
            streams.write_text("".join(f"{name}: {problem}\n" for problem in problems) or f"{name}: ok\n")
    return status
