"""`pyvora plot`: the picture of a protocol file, drawn by pyvora_cli.plot."""

import argparse
import hashlib
import os
import sys
from typing import Any

from pyvora_cli.commands import add
from pyvora_cli.commands.check import load_rules
from pyvora_cli.names import name_text
from pyvora_cli.plot import FORMATS, figure, save
from pyvora_cli.status import CLEAN
from pyvora_cli.streams import STDIO, Trouble, read_bytes, read_protocol

INSTALL = 'pyvora plot needs matplotlib, which is not installed: pip install "pyvora[plot]" (or pip install matplotlib)'


def register(subparsers: Any) -> None:
    sub = add(subparsers, run, "plot", "draw a protocol as a picture (PNG, SVG or PDF)",
              "Draw the session on one time axis, a row for each coil (A1, A2, B1, B2) and for each "
              "channel's modulation, with what drives it; a header with the file's name, SHA-256, "
              "intensity, duration and coils; the problems below. Needs matplotlib: "
              'pip install "pyvora[plot]". Exit status 0 when the picture was written, 2 when '
              "matplotlib is missing or a file could not be read or written.")
    sub.add_argument("-o", "--output", metavar="OUT",
                     help="the picture's file: .png, .svg or .pdf (default FILE with its extension "
                          "replaced by .png; required when FILE is -)")
    sub.add_argument("--rules", metavar="RULES", action="append", default=None,
                     help="also mark each finding of a lab's rules (a TOML file of [[rule]] tables, as for "
                          "check --rules; may be given several times) in the rows it concerns and list it, "
                          "with each rules file's name and SHA-256; exit status 2 when a rules file is not valid")
    sub.add_argument("file", metavar="FILE", help="the protocol file, or - for standard input")


def run(args: argparse.Namespace) -> int:
    path: str = args.file
    if args.output is not None:
        output: str = args.output
    elif path == STDIO:
        raise Trouble(f"{name_text(path)}: a protocol read from standard input needs -o OUT")
    else:
        output = os.path.splitext(path)[0] + ".png"
    if os.path.splitext(output)[1].lower() not in FORMATS:
        raise Trouble(f"{name_text(output)}: the picture's name must end in .png, .svg or .pdf")
    if "numpy" not in sys.modules:
        # Drawing does no linear algebra: one BLAS thread spares NumPy's import starting a
        # pool of them, one for each core, that only spin.
        os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    try:
        import matplotlib  # noqa: F401  (fails here, before any work, when it is missing)
    except ImportError:
        raise Trouble(INSTALL) from None
    lab, record = load_rules(args.rules, [path])
    data = read_bytes(path)
    protocol = read_protocol(path, data)
    if path != STDIO and os.path.exists(output) and os.path.samefile(path, output):
        raise Trouble(f"{name_text(output)}: is the protocol file itself; name another picture with -o OUT")
    findings = None
    if lab is not None:
        from pyvora_cli import rules

        findings = rules.check(protocol, lab)
    checked = None if args.rules is None else [
        ("standard input" if rules_path == STDIO else rules_path, entry["sha256"])
        for rules_path, entry in zip(args.rules, record)]
    fig = figure(protocol, "standard input" if path == STDIO else path,
                 sha256=hashlib.sha256(data).hexdigest(), findings=findings, rules=checked)
    try:
        save(fig, output)
    except OSError as error:
        raise Trouble(f"{name_text(output)}: {error.strerror or error}") from None
    return CLEAN
