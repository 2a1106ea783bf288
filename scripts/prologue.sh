# Sourced first by test.sh and docs.sh, which build pyvora into the test command's virtual
# environment:
#   source "$(dirname "${BASH_SOURCE[0]}")/prologue.sh" SCRIPT GROUP
# checks the Debian packages of GROUP (scripts/prerequisites.sh) and those of the interpreter
# $PYTHON (python3 when unset), finds or makes the virtual environment (scripts/venv.sh) and
# defines `quietly`. Sets $root (the working folder from here on), $python, $version, $venv, $py
# and $log (removed on exit).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}

# Checked before anything is built; the packages and why each is needed are listed in
# scripts/prerequisites.sh.
source "$root/scripts/prerequisites.sh"
prologue_group="prerequisite_$2[@]"
# shellcheck disable=SC2046  # the interpreter's packages are words
require_packages "$1" "${!prologue_group}" $(prerequisite_python "$python")

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a command with its output kept in $log; the output is shown only when the command fails.
quietly() {
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
}

source "$root/scripts/venv.sh"
if [ ! -x "$py" ]; then
  echo "== making the virtual environment $venv"
  "$python" -m venv "$venv"
fi
