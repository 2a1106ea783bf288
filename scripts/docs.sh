#!/usr/bin/env bash
# Builds the documentation site from docs/ into docs/_build/html, with every warning an error.
# The API reference is read from the type stubs and the command's libraries, the command
# reference from the command's parser, so the module is built and installed first, into the
# virtual environment test.sh uses (scripts/venv.sh); Sphinx, MyST and the theme come from PyPI.
#   bash scripts/docs.sh                 # then open docs/_build/html/index.html
#   PYTHON=python3.12 bash scripts/docs.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}

source "$root/scripts/prerequisites.sh"
# shellcheck disable=SC2046  # the interpreter's packages are words
require_packages docs.sh "${prerequisite_compiler[@]}" $(prerequisite_python "$python")
source "$root/scripts/venv.sh"
if [ ! -x "$py" ]; then
  echo "== making the virtual environment $venv"
  "$python" -m venv "$venv"
fi

echo "== installing Sphinx and the build tools into $venv"
"$py" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.11" "numpy>=2.0" cmake ninja matplotlib \
  sphinx myst-parser furo
echo "== building pyvora for Python $version"
"$py" -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .
echo "== building the site into docs/_build/html"
"$py" -m sphinx -W --keep-going -q -b html docs docs/_build/html
echo "== done: open docs/_build/html/index.html"
