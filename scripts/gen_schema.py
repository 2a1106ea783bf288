#!/usr/bin/env python3
"""Generate pyvora_cli/protocol.schema.json, the JSON Schema shipped with the command, from the
module's records (pyvora._json_schema). Run from the repository root with pyvora installed:

    python3 scripts/gen_schema.py [output path]
"""

import sys
from pathlib import Path

import pyvora

SHIPPED = Path(__file__).resolve().parent.parent / "pyvora_cli" / "protocol.schema.json"


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else SHIPPED
    out.write_text(pyvora._json_schema(), encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()
