"""The command reference, read from the command's own parser: `.. command-reference:: MODULE`
(MODULE.parser() gives the argparse parser) makes a section for the command and one for each
subcommand, with its usage, description (which states its exit statuses) and every option. The
parser is the one place these are written."""

import argparse
import importlib
import os

from docutils import nodes
from sphinx.util.docutils import SphinxDirective

WIDTH = "88"  # the terminal width argparse lays the usage lines out for


def subcommands(parser: argparse.ArgumentParser) -> dict[str, tuple[str, argparse.ArgumentParser]]:
    """{name: (summary, parser)} in the order the subcommands were added."""
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            summaries = {choice.dest: choice.help for choice in action._choices_actions}
            return {name: (summaries.get(name) or "", sub) for name, sub in action.choices.items()}
    return {}


def argument_name(action: argparse.Action) -> str:
    if not action.option_strings:
        return action.metavar or action.dest
    takes = "" if action.nargs == 0 else f" {action.metavar or action.dest.upper()}"
    return ", ".join(option + takes for option in action.option_strings)


class CommandReference(SphinxDirective):
    required_arguments = 1  # the module whose parser() builds the command's parser

    def section(self, title: str, summary: str, parser: argparse.ArgumentParser) -> nodes.section:
        section = nodes.section()
        section += nodes.title(text=title)
        section["names"].append(nodes.fully_normalize_name(title))
        self.state.document.note_implicit_target(section, section)
        if summary:
            section += nodes.paragraph(text=summary[0].upper() + summary[1:] + ".")
        usage = parser.format_usage().strip()
        section += nodes.literal_block(usage, usage, language="text")
        for text in (parser.description, parser.epilog):
            if text:
                section += nodes.paragraph(text=text)
        options = nodes.definition_list()
        for action in parser._actions:
            if isinstance(action, argparse._SubParsersAction) or action.help in (None, argparse.SUPPRESS):
                continue
            term = nodes.term()
            term += nodes.literal(text=argument_name(action))
            definition = nodes.definition()
            definition += nodes.paragraph(text=action.help or "")
            options += nodes.definition_list_item("", term, definition)
        if len(options):
            section += options
        return section

    def run(self):
        saved = os.environ.get("COLUMNS")
        os.environ["COLUMNS"] = WIDTH
        try:
            top = importlib.import_module(self.arguments[0]).parser()
            sections = [self.section(top.prog, "", top)]
            for name, (summary, sub) in subcommands(top).items():
                sections.append(self.section(f"{top.prog} {name}", summary, sub))
        finally:
            if saved is None:
                del os.environ["COLUMNS"]
            else:
                os.environ["COLUMNS"] = saved
        return sections


def setup(app):
    app.add_directive("command-reference", CommandReference)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
