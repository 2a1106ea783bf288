"""Sphinx configuration of pyvora's documentation site (bash scripts/docs.sh builds it)."""

import pathlib
import sys
from importlib.metadata import version as installed_version

sys.path.insert(0, str(pathlib.Path(__file__).parent / "_ext"))

project = "pyvora"
release = version = installed_version("pyvora")
extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",  # the docstrings are written in Google's style
    "stub_reference",
    "command_reference",
]
# Texts are shown as the command and the module write them: quotes and dashes as typed.
smartquotes = False
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build"]
# Links such as guide.md#a-labs-own-rules reach headings of every level a page has.
myst_heading_anchors = 4
autodoc_member_order = "bysource"
html_theme = "furo"
html_title = f"pyvora {release}"
html_static_path: list[str] = []
