# Sourced by the scripts in scripts/ that build or test: the Debian packages they need beyond an
# interpreter (this is the one list of them) and the check each runs before it builds anything.
# Run as root, the check installs the missing ones with apt-get; otherwise the script stops and
# prints the one command that installs them.
#
#   build     g++ (C++20, 12 or newer) for the module and the C++ tests, with the AddressSanitizer
#             and UndefinedBehaviorSanitizer runtimes sanitize.sh uses (g++ brings them; try.sh
#             needs only g++); libgtest-dev (GoogleTest) for the C++ tests. The wheels
#             (wheel-for.sh) need no compiler here: zig's toolchain comes from PyPI
#   python    a Debian interpreter keeps venv and its C headers in packages of their own:
#             python3.X-dev and python3.X-venv (python3-dev, python3-venv for python3)
#   fuzzer    clang-N with libFuzzer and its runtimes libclang-rt-N-dev, for the decoder fuzzer:
#             the newest N of at least 16 that this distribution's package lists have
#   debian    debootstrap, which makes the folders of other Debian releases that
#             test-in-debian.sh and build-wheels.sh run in
#   cpython   a C compiler and make, with the headers of OpenSSL, zlib and libffi, for the
#             free-threaded CPython that free-threaded-python.sh builds from its source
prerequisite_compiler=(g++)
prerequisite_build=("${prerequisite_compiler[@]}" libgtest-dev)
prerequisite_fuzzer_min_clang=16
prerequisite_debian=(debootstrap)
prerequisite_cpython=(build-essential libssl-dev zlib1g-dev libffi-dev)

# Prints the Debian packages a Python interpreter (a name or a path) needs, if it is Debian's.
prerequisite_python() {
  local interpreter name
  interpreter=$(command -v "$1" || true)
  if [ -z "$interpreter" ]; then
    # Not installed yet: Debian's interpreters are installed by their name.
    case $1 in
      python3 | python3.[0-9] | python3.[0-9][0-9]) echo "$1-dev $1-venv" ;;
    esac
    return 0
  fi
  case $(readlink -f "$interpreter") in
    /usr/bin/python3.*) name=$(basename "$(readlink -f "$interpreter")")
                        echo "$name-dev $name-venv" ;;
  esac
}

# Prints the packages of the given names that the package lists can install.
prerequisite_available() {
  apt-cache policy "$@" 2>/dev/null |
    awk '/^[^ ]/ { name = $1; sub(/:$/, "", name) } /Candidate:/ && $2 != "(none)" { print name }'
}

# Prints the newest clang version of at least 16 whose clang-N and libclang-rt-N-dev the
# package lists have; nothing when they have none.
prerequisite_clang_version() {
  local names=() n
  for n in $(apt-cache pkgnames clang- 2>/dev/null | sed -n 's/^clang-\([0-9][0-9]*\)$/\1/p' | sort -rn); do
    [ "$n" -ge "$prerequisite_fuzzer_min_clang" ] && names+=("clang-$n" "libclang-rt-$n-dev")
  done
  [ ${#names[@]} -gt 0 ] || return 0
  local available
  available=$(prerequisite_available "${names[@]}")
  for n in $(printf '%s\n' "${names[@]}" | sed -n 's/^clang-//p'); do
    if grep -qx "clang-$n" <<<"$available" && grep -qx "libclang-rt-$n-dev" <<<"$available"; then
      echo "$n"
      return 0
    fi
  done
}

# Another apt run (unattended upgrades, another build) may hold the lock for a while.
prerequisite_apt=(env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=300)

# Fetches the package lists once per run (as root), so that what is installed is current.
prerequisite_lists_updated=0
prerequisite_update_lists() {
  [ "$prerequisite_lists_updated" -eq 0 ] && [ "$(id -u)" -eq 0 ] || return 0
  prerequisite_lists_updated=1
  local log
  log=$(mktemp)
  if ! "${prerequisite_apt[@]}" update >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# Sets clang_version to the fuzzer's clang (see above), updating the package lists if needed.
prerequisite_pick_clang() {
  clang_version=$(prerequisite_clang_version)
  if [ -z "$clang_version" ]; then
    prerequisite_update_lists || return 1
    clang_version=$(prerequisite_clang_version)
  fi
  if [ -z "$clang_version" ]; then
    echo "$1: the package lists have no clang-N with libclang-rt-N-dev for N >= $prerequisite_fuzzer_min_clang" \
         "(run apt-get update, or set FUZZ_CXX to a clang++ with libFuzzer)" >&2
    return 1
  fi
}

# require_packages SCRIPT PACKAGE...: installs (as root) or names the missing ones and stops.
require_packages() {
  local script=$1 package log
  shift
  if ! command -v dpkg-query >/dev/null; then
    echo "== not a Debian system: make sure these (Debian names) are installed: $*"
    return 0
  fi
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii' || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$script: missing system packages: ${missing[*]}" >&2
    echo "Install them with this command, then run it again:" >&2
    echo "    sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "== installing ${missing[*]}"
  prerequisite_update_lists || exit 1
  log=$(mktemp)
  if ! "${prerequisite_apt[@]}" install -y --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}
