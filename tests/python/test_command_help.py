"""The words of `pyvora --help` and of each command's --help, as the parser holds them (not as
argparse lays them out, which differs between interpreters). They are the command's documented
surface: a change to them is made on purpose, by writing command_help.json anew with
`python tests/python/test_command_help.py`."""

import argparse
import json
import pathlib
import sys

from pyvora_cli.command import parser

KEPT = pathlib.Path(__file__).with_name("command_help.json")


def words(p: argparse.ArgumentParser) -> dict:
    """What a reader of p's --help is told: its texts, and each argument's."""
    found: dict = {"prog": p.prog, "description": p.description, "epilog": p.epilog, "arguments": []}
    for action in p._actions:
        found["arguments"].append({
            "options": action.option_strings, "dest": action.dest, "metavar": action.metavar,
            "help": action.help, "nargs": action.nargs, "default": repr(action.default),
            "type": getattr(action.type, "__name__", None), "required": action.required})
        if isinstance(action, argparse._SubParsersAction):
            found["commands"] = {choice.dest: {"summary": choice.help, **words(action.choices[choice.dest])}
                                 for choice in action._choices_actions}
    return found


def test_the_help_texts_are_the_kept_ones():
    assert words(parser()) == json.loads(KEPT.read_text(encoding="utf-8"))


if __name__ == "__main__":
    KEPT.write_text(json.dumps(words(parser()), indent=1, ensure_ascii=False) + "\n", encoding="utf-8")
    sys.exit(0)
