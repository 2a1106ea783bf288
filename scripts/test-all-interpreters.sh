#!/usr/bin/env bash
# Runs the whole test command once for every CPython 3.11+ this machine provides: those on PATH
# and those installed by pyenv (whose shims refuse versions that are not activated).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/interpreters.sh

status=0
for minor in 11 12 13 14 15; do
  interpreter=$(find_interpreter "$minor")
  [ -n "$interpreter" ] || continue
  echo "=== Python 3.$minor ($interpreter)"
  PYTHON="$interpreter" bash scripts/test.sh || status=1
done
exit $status
