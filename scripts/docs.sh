#!/usr/bin/env bash
# Builds the documentation site from docs/ into docs/_build/html, with every warning an error.
# The API reference is read from the type stubs and the command's libraries, the command
# reference from the command's parser, so the module is built and installed first, into the
# virtual environment test.sh uses (scripts/venv.sh); Sphinx, MyST and the theme come from PyPI.
# Every page is read afresh each time (-E): the code the references are read from is no page.
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

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a command with its output kept in $log; the output is shown only when the command fails.
quietly() {
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
}

echo "== installing Sphinx, MyST, the theme and the build tools into $venv from PyPI"
quietly "$py" -m pip install --disable-pip-version-check \
  "scikit-build-core>=0.11" "numpy>=2.0" cmake ninja matplotlib \
  sphinx myst-parser furo
echo "== building pyvora for Python $version (several minutes on a first build, seconds after)"
quietly "$py" -m pip install --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .
echo "== building the site into docs/_build/html"
"$py" -m sphinx -E -W --keep-going -q -b html docs docs/_build/html
echo "== done: open docs/_build/html/index.html"
