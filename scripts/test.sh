#!/usr/bin/env bash
# Builds pyvora into a virtual environment and runs every test suite: pytest for the Python
# surface, the type stubs, then the C++ unit tests through CTest. Passing suites print a short
# summary each; a failing one prints its whole output.
#   PYTHON=python3.12 scripts/test.sh      # another interpreter (its own venv: .venv-<version>)
#   VENV=/path/to/venv scripts/test.sh     # a venv of your choosing
#   PYTHON=$(bash scripts/free-threaded-python.sh) scripts/test.sh   # free-threaded CPython
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}

# Checked before anything is built; the packages and why each is needed are listed in
# scripts/prerequisites.sh.
source "$root/scripts/prerequisites.sh"
# shellcheck disable=SC2046  # the interpreter's packages are words
require_packages test.sh "${prerequisite_build[@]}" $(prerequisite_python "$python")

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a command with its output kept in $log; the output is shown only when the command fails.
quietly() {
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
}

# A free-threaded interpreter's version ends in "t" (3.14t), so it has a venv of its own.
version=$("$python" -c 'import sys, sysconfig
print(f"{sys.version_info[0]}.{sys.version_info[1]}" + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
venv=${VENV:-$root/.venv-$version}
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
fi
py="$venv/bin/python"
# The build and test tools the virtual environment gets from PyPI.
tools=(
  "scikit-build-core>=0.11" "numpy>=2.0" cmake ninja
  pytest hypothesis mypy msgspec jsonschema matplotlib
)
"$py" -m pip install -q --disable-pip-version-check "${tools[@]}"

echo "== building pyvora for Python $version"
"$py" -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .

echo "== pytest"
# Every package the tests use is installed above: a test finding one missing fails, not skips.
PYVORA_TEST_COMMAND=1 "$py" -m pytest -q tests/python

echo "== type stubs"
"$py" -m mypy.stubtest pyvora
"$py" -m mypy examples/compose_session.py pyvora_cli

echo "== C++ unit tests"
export PATH="$venv/bin:$PATH"
quietly cmake -S . -B build/cpp -G Ninja -DPYVORA_BUILD_MODULE=OFF -DPYVORA_BUILD_TESTS=ON
quietly cmake --build build/cpp
quietly ctest --test-dir build/cpp --output-on-failure
grep -E 'tests passed|Total Test time' "$log"
