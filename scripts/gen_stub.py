#!/usr/bin/env python3
"""Rewrite the docstrings in stubs/pyvora-stubs/__init__.pyi that the module itself carries: each
method, class and module-level function whose documentation is compiled into pyvora gets that
text in the stub, so the two never differ. The stub's other docstrings (the contract methods',
which have none at run time) stay as written. Run from the repository root with pyvora installed:

    python3 scripts/gen_stub.py [output path]
"""

import ast
import sys
import types
from pathlib import Path

import pyvora

SHIPPED = Path(__file__).resolve().parent.parent / "stubs" / "pyvora-stubs" / "__init__.pyi"

# What the module documents itself: methods and functions from its method tables, and classes
# with a docstring. Slot wrappers and inherited constructors bring CPython's generic texts.
OWN = (types.MethodDescriptorType, types.ClassMethodDescriptorType, types.BuiltinFunctionType, type)


def runtime_doc(owner, name):
    """The module's own docstring of owner.name, or None."""
    member = vars(owner).get(name) if isinstance(owner, type) else getattr(owner, name, None)
    if not isinstance(member, OWN) or (owner is not pyvora and isinstance(member, types.BuiltinFunctionType)):
        return None
    return member.__doc__ or None


def quoted(doc, indent):
    """doc as a stub docstring whose lines after the first stand at indent."""
    if '"""' in doc or "\\" in doc:
        raise ValueError(f"docstring needs escaping: {doc[:40]!r}")
    lines = doc.split("\n")
    if len(lines) == 1:
        return f'{indent}"""{doc}"""'
    rest = "".join(f"\n{indent + line if line else ''}" for line in lines[1:])
    return f'{indent}"""{lines[0]}{rest}\n{indent}"""'


def own_docstrings(text):
    """[(name, first line, last line, docstring)] for the stub's docstrings the module carries,
    with the 0-based lines of the stub's docstring and the module's text as the stub spells it."""
    found = []

    def walk(body, owner, prefix):
        for node in body:
            if not isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                continue
            doc = runtime_doc(owner, node.name)
            first = node.body[0]
            if doc is not None:
                if not (isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant)):
                    raise ValueError(f"{prefix}{node.name} has no docstring in the stub to replace")
                found.append((prefix + node.name, first.lineno - 1, first.end_lineno - 1,
                              quoted(doc, " " * first.col_offset)))
            if isinstance(node, ast.ClassDef):
                walk(node.body, getattr(pyvora, node.name), f"{prefix}{node.name}.")

    walk(ast.parse(text).body, pyvora, "")
    return found


def generated(text):
    """The stub text with the module's own docstrings put in."""
    lines = text.split("\n")
    for _, start, end, new in sorted(own_docstrings(text), key=lambda found: found[1], reverse=True):
        lines[start:end + 1] = [new]
    return "\n".join(lines)


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else SHIPPED
    out.write_text(generated(SHIPPED.read_text("utf-8")), encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()
