#!/usr/bin/env bash
# Builds pyvora into a virtual environment and runs every test suite: pytest for the Python
# surface, the type stubs, then the C++ unit tests through CTest. Passing suites print a short
# summary each; a failing one prints its whole output.
#   PYTHON=python3.12 scripts/test.sh      # another interpreter (its own venv: .venv-<version>)
#   VENV=/path/to/venv scripts/test.sh     # a venv of your choosing
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}

# The Debian packages the suites need beyond an interpreter; this is the one list of them.
#   g++                  C++20 compiler (12 or newer) for the module and the C++ tests
#   libgtest-dev         GoogleTest, for the C++ unit tests
#   clang-16             clang with libFuzzer, for the decoder fuzzer
#   libclang-rt-16-dev   its fuzzer and sanitizer runtimes
prerequisites=(g++ libgtest-dev clang-16 libclang-rt-16-dev)
# Debian's own interpreter keeps venv and its C headers in packages of their own.
interpreter=$(command -v "$python" || true)
if [ -z "$interpreter" ] && [ "$python" = python3 ]; then
  prerequisites+=(python3-dev python3-venv)
elif [ -n "$interpreter" ]; then
  case $(readlink -f "$interpreter") in
    /usr/bin/python3.*) minor=$(basename "$(readlink -f "$interpreter")")
                        prerequisites+=("$minor-dev" "$minor-venv") ;;
  esac
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

# Checked before anything is built: as root the missing ones are installed, otherwise the run
# stops and names the command that installs them.
missing=()
if command -v dpkg-query >/dev/null; then
  for package in "${prerequisites[@]}"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii' || missing+=("$package")
  done
else
  echo "== not a Debian system: make sure these (Debian names) are installed: ${prerequisites[*]}"
fi
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "test.sh: missing system packages: ${missing[*]}" >&2
    echo "Install them with this command, then run the tests again:" >&2
    echo "    sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "== installing ${missing[*]}"
  # Another apt run (unattended upgrades, another build) may hold the lock for a while.
  apt=(env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=300)
  quietly "${apt[@]}" update
  quietly "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
fi

version=$("$python" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
venv=${VENV:-$root/.venv-$version}
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
fi
py="$venv/bin/python"
"$py" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja pytest hypothesis mypy msgspec jsonschema matplotlib

echo "== building pyvora for Python $version"
"$py" -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .

echo "== pytest"
"$py" -m pytest -q tests/python

echo "== type stubs"
"$py" -m mypy.stubtest pyvora
"$py" -m mypy examples/compose_session.py pyvora_cli

echo "== C++ unit tests"
export PATH="$venv/bin:$PATH"
quietly cmake -S . -B build/cpp -G Ninja -DPYVORA_BUILD_MODULE=OFF -DPYVORA_BUILD_TESTS=ON
quietly cmake --build build/cpp
quietly ctest --test-dir build/cpp --output-on-failure
grep -E 'tests passed|Total Test time' "$log"
