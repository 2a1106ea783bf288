#!/usr/bin/env bash
# Builds wheelhouse/: one proven binary wheel of pyvora for each CPython 3.11 or newer it can
# reach, with the binary wheels of what it needs (see scripts/wheel-for.sh), and an sdist that
# builds and passes the same proof in a clean virtual environment; `twine check` then checks
# them all. The interpreters are this machine's (scripts/interpreters.sh), a free-threaded
# CPython built from its source (scripts/free-threaded-python.sh, which takes the tarball from
# PYVORA_CPYTHON_TARBALL), then as root those newer ones that Debian's development release
# packages, through its folder (scripts/debian-folder.sh).
#   bash scripts/build-wheels.sh
#   WHEEL_SUITE= bash scripts/build-wheels.sh          # no interpreters through Debian
#   WHEEL_FREE_THREADED= bash scripts/build-wheels.sh  # no free-threaded wheel
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
suite=${WHEEL_SUITE-sid}
free_threaded=${WHEEL_FREE_THREADED-yes}
out=$root/wheelhouse
mkdir -p "$out"
rm -f "$out"/pyvora-*.whl "$out"/pyvora-*.tar.gz

source scripts/interpreters.sh
source scripts/debian-folder.sh
work=$(mktemp -d)
trap 'debian_unmount_all; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started_all=$SECONDS
built=()
host_python=
for minor in 11 12 13 14 15 16 17 18 19; do
  interpreter=$(find_interpreter "$minor")
  [ -n "$interpreter" ] || continue
  bash scripts/wheel-for.sh "$interpreter" "$out"
  built+=("3.$minor")
  host_python=${host_python:-$interpreter}
done
if [ -n "$free_threaded" ]; then
  interpreter=$(bash scripts/free-threaded-python.sh)
  bash scripts/wheel-for.sh "$interpreter" "$out"
  built+=("$("$interpreter" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}t")')")
fi

if [ -n "$suite" ] && [ "$(id -u)" -eq 0 ]; then
  debian_folder_open "$suite"
  trap 'debian_unmount_all; rm -rf "$work"' EXIT  # debian_folder_open set its own
  newer=()
  for version in $(debian_folder_pythons); do
    if [[ " ${built[*]} " != *" $version "* ]]; then newer+=("$version"); fi
  done
  if [ ${#newer[@]} -gt 0 ]; then
    echo "== Debian $suite for Python ${newer[*]}"
    debian_folder_checkout "$root"
    # Only this run's wheels go out: an interrupted run may have left others there.
    rm -rf "$debian_folder/root/wheelhouse"
    for version in "${newer[@]}"; do
      debian_inside bash /root/pyvora/scripts/wheel-for.sh "python$version" /root/wheelhouse
      built+=("$version")
    done
    cp "$debian_folder"/root/wheelhouse/*.whl "$out/"  # with what they need
    rm -rf "$debian_folder/root/wheelhouse"
  fi
  debian_unmount_all
elif [ -n "$suite" ]; then
  echo "== not root: no wheels through Debian $suite"
fi
if [ -z "$host_python" ]; then
  echo "build-wheels.sh: no CPython 3.11 or newer on this machine" >&2
  exit 1
fi

started=$SECONDS
echo "== sdist"
tools=$root/build/wheel-tools-$("$host_python" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
"$tools/bin/python" -m build --sdist --outdir "$out" . >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
sdist=$(echo "$out"/pyvora-*.tar.gz)
# Built from the sdist alone, in a clean environment, then the wheels' proof.
"$host_python" -m venv "$work/sdist-venv"
"$work/sdist-venv/bin/python" -m pip install -q --disable-pip-version-check "$sdist[numpy,plot]" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; exit 1; }
mkdir "$work/files"
(cd "$work" && "$work/sdist-venv/bin/python" "$root/tests/wheel/installed.py" "$work/files")
echo "   $(basename "$sdist") (built, installed and proven in $((SECONDS - started))s)"

echo "== twine check"
"$tools/bin/python" -m pip install -q --disable-pip-version-check twine >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; exit 1; }
"$tools/bin/python" -m twine check --strict "$out"/pyvora-*
echo "== wheelhouse/: Python ${built[*]} and the sdist, in $((SECONDS - started_all))s"
ls -1 "$out"
