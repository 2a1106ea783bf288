#!/usr/bin/env bash
# Runs benchmarks on a wheel from a wheelhouse and on the test command's g++ build side by side:
# in one run, each benchmark on one build then the other, twice over, so that both meet the same
# load of the machine. The wheel is installed offline into a virtual environment of its own.
#   bash scripts/bench-wheel.sh wheelhouse                     # bench_read_back, _arbitrary, _save
#   PYTHON=python3.12 bash scripts/bench-wheel.sh wheelhouse bench_text_form
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wheelhouse=$(cd "${1:?usage: scripts/bench-wheel.sh WHEELHOUSE [BENCHMARK ...]}" && pwd)
shift
benchmarks=("$@")
[ ${#benchmarks[@]} -gt 0 ] || benchmarks=(bench_read_back bench_arbitrary bench_save)
python=${PYTHON:-python3}
source "$root/scripts/venv.sh"
built=$venv  # made by scripts/test.sh
if [ ! -x "$built/bin/python" ]; then
  echo "bench-wheel.sh: no $built; run scripts/test.sh first" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" -m venv "$work/wheel"
PIP_CONFIG_FILE=/dev/null "$work/wheel/bin/python" -m pip install -q --disable-pip-version-check \
  --no-index --find-links "$wheelhouse" "pyvora[numpy]"
cd "$root"
for round in 1 2; do
  for benchmark in "${benchmarks[@]}"; do
    for build in "g++:$built" "wheel:$work/wheel"; do
      echo "=== round $round: $benchmark, ${build%%:*} build"
      "${build#*:}/bin/python" "benchmarks/$benchmark.py"
    done
  done
done
