#!/usr/bin/env bash
# From a fresh checkout, the main job in one command: makes the virtual environment .venv (or
# $VENV), installs pyvora with its extras (NumPy, matplotlib) into it from this checkout and runs
# examples/compose_session.py, which prints what it composed and writes session.vora here.
# Run as root, it first installs the Debian packages the build needs (scripts/prerequisites.sh);
# otherwise it stops and prints the one command that installs them.
#   bash scripts/try.sh                  # then: . .venv/bin/activate
#   PYTHON=python3.12 bash scripts/try.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}
venv=${VENV:-$root/.venv}

source "$root/scripts/prerequisites.sh"
# shellcheck disable=SC2046  # the interpreter's packages are words
require_packages try.sh "${prerequisite_compiler[@]}" $(prerequisite_python "$python")

if [ ! -x "$venv/bin/python" ]; then
  echo "== making the virtual environment $venv"
  "$python" -m venv "$venv"
fi
echo "== installing pyvora with NumPy and matplotlib into $venv (a minute or two)"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "$venv/bin/python" -m pip install --disable-pip-version-check ".[numpy,plot]" >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
echo "== python examples/compose_session.py"
"$venv/bin/python" examples/compose_session.py
echo "== done: '. $venv/bin/activate' gives the module and the pyvora command (try: pyvora show session.vora)"
