#!/usr/bin/env bash
# Builds the documentation site from docs/ into docs/_build/html, with every warning an error.
# The API reference is read from the type stubs and the command's libraries, the command
# reference from the command's parser, so the module is built and installed first, into the
# virtual environment test.sh uses (scripts/venv.sh); Sphinx, MyST and the theme come from PyPI.
# Every page is read afresh each time (-E): the code the references are read from is no page.
#   bash scripts/docs.sh                 # then open docs/_build/html/index.html
#   PYTHON=python3.12 bash scripts/docs.sh
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/prologue.sh" docs.sh compiler

echo "== installing Sphinx, MyST, the theme and the build tools into $venv from PyPI"
quietly "$py" -m pip install --disable-pip-version-check \
  "scikit-build-core>=0.11" "numpy>=2.0" cmake ninja matplotlib \
  sphinx myst-parser furo
echo "== building pyvora for Python $version (several minutes on a first build, seconds after)"
quietly "$py" -m pip install --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .
echo "== building the site into docs/_build/html"
"$py" -m sphinx -E -W --keep-going -q -b html docs docs/_build/html
echo "== done: open docs/_build/html/index.html"
