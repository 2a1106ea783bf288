#!/usr/bin/env bash
# Builds pyvora into a virtual environment and runs every test suite: pytest for the Python
# surface, the type stubs, then the C++ unit tests through CTest. Each stage says what it does
# and, when done, how long it took; passing suites print a short summary each, a failing one its
# whole output.
#   PYTHON=python3.12 scripts/test.sh      # another interpreter (its own venv: .venv-<version>)
#   VENV=/path/to/venv scripts/test.sh     # a venv of your choosing
#   PYTHON=$(bash scripts/free-threaded-python.sh) scripts/test.sh   # free-threaded CPython
# The venv is the .venv that try.sh made when it runs the same interpreter (scripts/venv.sh).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/prologue.sh" test.sh build

# Announces a stage; the next one (or done) prints how long it took.
stage_started=
stage() {
  finish_stage
  echo "== $1"
  stage_started=$SECONDS
}
finish_stage() {
  [ -z "$stage_started" ] || echo "   ($((SECONDS - stage_started)) s)"
}

# The build and test tools the virtual environment gets from PyPI.
tools=(
  "scikit-build-core>=0.11" "numpy>=2.0" cmake ninja
  pytest hypothesis mypy jsonschema matplotlib
)
stage "installing the build and test tools into $venv from PyPI (a minute the first time)"
quietly "$py" -m pip install --disable-pip-version-check "${tools[@]}"

stage "building pyvora for Python $version (several minutes on a first build, seconds after)"
quietly "$py" -m pip install --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .

stage "pytest: the Python tests (a few minutes)"
# Every package the tests use is installed above: a test finding one missing fails, not skips.
PYVORA_TEST_COMMAND=1 "$py" -m pytest -q tests/python

stage "type stubs: stubtest and mypy"
"$py" -m mypy.stubtest pyvora
"$py" -m mypy examples/compose_session.py pyvora_cli

stage "C++ unit tests: configuring, building (several minutes on a first build) and running them"
export PATH="$venv/bin:$PATH"
quietly cmake -S . -B build/cpp -G Ninja -DPYVORA_BUILD_MODULE=OFF -DPYVORA_BUILD_TESTS=ON
quietly cmake --build build/cpp
quietly ctest --test-dir build/cpp --output-on-failure
grep -E 'tests passed|Total Test time' "$log"
finish_stage
echo "== all passed in $SECONDS s"
