#!/usr/bin/env bash
# Builds pyvora into a virtual environment and runs every test suite: pytest for the Python
# surface, then the C++ unit tests through CTest.
#   PYTHON=python3.12 scripts/test.sh      # another interpreter (its own venv: .venv-<version>)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}
version=$("$python" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
venv=${VENV:-$root/.venv-$version}

if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
fi
py="$venv/bin/python"
"$py" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja pytest hypothesis mypy

echo "== building pyvora for Python $version"
"$py" -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps .

echo "== pytest"
"$py" -m pytest -q tests/python

echo "== type stubs"
"$py" -m mypy.stubtest pyvora
"$py" -m mypy examples/compose_session.py

echo "== C++ unit tests"
export PATH="$venv/bin:$PATH"
cmake -S . -B build/cpp -G Ninja -DPYVORA_BUILD_MODULE=OFF -DPYVORA_BUILD_TESTS=ON >/dev/null
cmake --build build/cpp
ctest --test-dir build/cpp --output-on-failure
