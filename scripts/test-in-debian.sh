#!/usr/bin/env bash
# Runs the test command (scripts/test.sh) inside a minimal folder of another Debian release, for
# each CPython that release packages (python3.X-dev, python3.X-venv) from its own python3 up, or
# for the versions named after the suite. Needs root; the folder is made once and kept outside
# the checkout (see scripts/debian-folder.sh), the checkout's files are copied in afresh.
#   bash scripts/test-in-debian.sh sid            # Debian's development release
#   bash scripts/test-in-debian.sh trixie 3.13    # Debian 13, one interpreter named
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
suite=${1:?usage: scripts/test-in-debian.sh SUITE [3.X ...]   (SUITE e.g. trixie, sid)}
shift
source "$root/scripts/debian-folder.sh"
debian_folder_open "$suite"

versions=("$@")
if [ ${#versions[@]} -eq 0 ]; then
  mapfile -t versions < <(debian_folder_pythons)
fi
if [ ${#versions[@]} -eq 0 ]; then
  echo "test-in-debian.sh: Debian $suite packages no CPython with -dev and -venv" >&2
  exit 1
fi
echo "== CPython ${versions[*]}; copying the checkout into $suite:/root/pyvora"
debian_folder_checkout "$root"

status=0
for version in "${versions[@]}"; do
  started=$SECONDS
  echo "=== Debian $suite, Python $version"
  # The virtual environment lives beside the copy, so the next run reuses its tools.
  if debian_inside env PYTHON="python$version" VENV="/root/venv-$version" \
       bash /root/pyvora/scripts/test.sh; then
    echo "=== Debian $suite, Python $version: passed in $((SECONDS - started))s"
  else
    echo "=== Debian $suite, Python $version: FAILED after $((SECONDS - started))s" >&2
    status=1
  fi
done
exit "$status"
