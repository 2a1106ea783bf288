#!/usr/bin/env bash
# Builds a free-threaded CPython (configure --disable-gil) from a CPython source tarball once,
# into a cache outside the checkout, and prints the interpreter's path; later runs only print it.
# The tarball is the first argument, else $PYVORA_CPYTHON_TARBALL, else
# ../shared/cpython/cpython-3.14.7.tar.xz beside the checkout. The cache is
# $PYVORA_PYTHON_CACHE, else /var/cache/pyvora-python as root and
# ${XDG_CACHE_HOME:-~/.cache}/pyvora-python otherwise; each version has a folder there (3.14t).
#   PYTHON=$(bash scripts/free-threaded-python.sh) bash scripts/test.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tarball=${1:-${PYVORA_CPYTHON_TARBALL:-$root/../shared/cpython/cpython-3.14.7.tar.xz}}
if [ ! -f "$tarball" ]; then
  echo "free-threaded-python.sh: no CPython source tarball at $tarball" \
       "(give its path as the argument or in PYVORA_CPYTHON_TARBALL)" >&2
  exit 1
fi
tarball=$(cd "$(dirname "$tarball")" && pwd)/$(basename "$tarball")
name=$(basename "$tarball")
full=${name#cpython-}
full=${full%.tar.*}              # 3.14.7
minor=${full%.*}                 # 3.14
if ! [[ $full =~ ^3\.[0-9]+\.[0-9]+$ ]]; then
  echo "free-threaded-python.sh: $name is not named cpython-3.X.Y.tar.*" >&2
  exit 1
fi
if [ "$(id -u)" -eq 0 ]; then default_cache=/var/cache/pyvora-python
else default_cache=${XDG_CACHE_HOME:-$HOME/.cache}/pyvora-python; fi
prefix=${PYVORA_PYTHON_CACHE:-$default_cache}/${minor}t
python=$prefix/bin/python${minor}t

# The stamp names the source it was built from; it is written last, so a build cut short is
# made again rather than used.
stamp=$prefix/built-from
if [ -x "$python" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$name" ]; then
  echo "$python"
  exit 0
fi

source "$root/scripts/prerequisites.sh"
require_packages free-threaded-python.sh "${prerequisite_cpython[@]}" >&2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS
echo "== building free-threaded CPython $full into $prefix (a few minutes, once)" >&2
rm -rf "$prefix"
mkdir -p "$prefix"
tar xf "$tarball" -C "$work"
build() {
  cd "$work/cpython-$full" &&
    ./configure --disable-gil --prefix="$prefix" &&
    make -j"$(nproc)" &&
    make install
}
if ! build >"$work/log" 2>&1; then
  tail -n 60 "$work/log" >&2
  exit 1
fi
if ! "$python" -c 'import sys; sys.exit(sys._is_gil_enabled())'; then
  echo "free-threaded-python.sh: $python is not a free-threaded interpreter" >&2
  exit 1
fi
echo "$name" >"$stamp"
echo "   built in $((SECONDS - started))s" >&2
echo "$python"
