#!/usr/bin/env bash
# Runs the test command (scripts/test.sh) inside a minimal folder of another Debian release, once
# for each CPython that release packages (python3.X-dev and python3.X-venv) from its own default
# python3 up, or for the versions named after the suite. Needs root (debootstrap, chroot, mounts).
#   bash scripts/test-in-debian.sh sid            # Debian's development release
#   bash scripts/test-in-debian.sh trixie 3.13    # Debian 13, one interpreter named
#
# The folder is made with debootstrap on the first run and kept outside the checkout, in
# $PYVORA_DEBIAN_CACHE/SUITE (default /var/cache/pyvora-debian/SUITE); the packages test.sh
# installs there and the virtual environments stay for later runs. Delete the folder to start
# over. The mirror is the one this machine's apt sources name for its own release (override
# with DEBIAN_MIRROR). The checkout's files (tracked and not ignored, so no build directory or
# virtual environment of the host) are copied in afresh on every run.
set -euo pipefail

usage="usage: scripts/test-in-debian.sh SUITE [3.X ...]   (SUITE e.g. trixie, sid)"
suite=${1:?$usage}
shift
case $suite in */* | .* | "") echo "$usage" >&2; exit 2 ;; esac
if [ "$(id -u)" -ne 0 ]; then
  echo "test-in-debian.sh: needs root (debootstrap, chroot and mounts)" >&2
  exit 2
fi
for tool in debootstrap chroot flock; do
  if ! command -v "$tool" >/dev/null; then
    echo "test-in-debian.sh: $tool not found; install it with: apt-get install debootstrap" >&2
    exit 2
  fi
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${PYVORA_DEBIAN_CACHE:-/var/cache/pyvora-debian}
folder=$cache/$suite
mkdir -p "$cache"
# One run per folder at a time: runs share its packages and virtual environments.
exec 9>"$cache/$suite.lock"
flock 9

mounts=()
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    # Lazily if a process left inside after an interrupt still holds it.
    umount -R "${mounts[i]}" 2>/dev/null || umount -R -l "${mounts[i]}" || true
  done
  mounts=()
}
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
bind() {  # bind-mounts a host directory (and what is mounted below it) into the folder
  mount --rbind "$1" "$2$1"
  mounts+=("$2$1")
  mount --make-rslave "$2$1"
}
inside() {  # runs a command in the folder with a clean environment
  chroot "$folder" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${passed[@]}" "$@"
}
passed=(DEBIAN_FRONTEND=noninteractive)

if [ ! -e "$folder/.pyvora-ready" ]; then
  mirror=${DEBIAN_MIRROR:-}
  if [ -z "$mirror" ]; then
    # The first source of a release itself (not its -updates, -security or -backports).
    mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
             awk '$2 !~ /-/ { print $1; exit }')
  fi
  if [ -z "$mirror" ]; then
    echo "test-in-debian.sh: no Debian mirror in this machine's apt sources; set DEBIAN_MIRROR" >&2
    exit 2
  fi
  started=$SECONDS
  echo "== making a minimal Debian $suite in $folder (mirror $mirror)"
  # Made aside and moved in place when complete, so an interrupted run leaves no half folder.
  partial=$folder.partial
  if [ -d "$partial" ]; then
    findmnt -R -n -l -o TARGET "$partial" >/dev/null 2>&1 && umount -R -l "$partial" 2>/dev/null || true
    for sub in proc sys dev; do umount -R -l "$partial/$sub" 2>/dev/null || true; done
    rm -rf --one-file-system "$partial"
  fi
  log=$(mktemp)
  if ! debootstrap --variant=minbase "$suite" "$partial" "$mirror" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    rm -f "$log"
    echo "test-in-debian.sh: debootstrap of $suite failed" >&2
    exit 1
  fi
  rm -f "$log"
  # Test folders follow a moving release; a mirror's copy of it may carry a Release file past
  # its Valid-Until date, which apt would otherwise refuse.
  echo 'Acquire::Check-Valid-Until "false";' >"$partial/etc/apt/apt.conf.d/90pyvora-mirror"
  touch "$partial/.pyvora-ready"
  mv "$partial" "$folder"
  echo "   made in $((SECONDS - started))s"
fi

# Name resolution, and the host's way to the package index: its pip configuration files and
# the files they name (CA bundle, constraints) at the same paths, the PIP_* and CA variables
# passed in, and the CA bundles among them also added to the folder's trusted certificates,
# since installing Debian's ca-certificates there (a dependency of much) rewrites its bundle.
for file in /etc/resolv.conf /etc/hosts; do
  [ -e "$file" ] && cp -L "$file" "$folder$file"
done
copy_in() {  # copies a host file (its content, not a link) to the same path in the folder
  [ -f "$1" ] || return 0
  mkdir -p "$folder$(dirname "$1")"
  cp -L "$1" "$folder$1"
  if grep -q -e '-----BEGIN CERTIFICATE-----' "$1" 2>/dev/null; then
    local trusted="$folder/usr/local/share/ca-certificates/pyvora-host"
    mkdir -p "$trusted"
    cp -L "$1" "$trusted/$(tr / _ <<<"${1#/}").crt"
  fi
}
rm -rf "$folder/usr/local/share/ca-certificates/pyvora-host"
for var in $(compgen -e); do
  case $var in
    PIP_* | REQUESTS_CA_BUNDLE | SSL_CERT_FILE | SSL_CERT_DIR | CURL_CA_BUNDLE)
      passed+=("$var=${!var}")
      copy_in "${!var}" ;;
  esac
done
for file in /etc/pip.conf /etc/xdg/pip/pip.conf "$HOME/.config/pip/pip.conf" "$HOME/.pip/pip.conf" \
            "${PIP_CONFIG_FILE:-}"; do
  [ -n "$file" ] && [ -f "$file" ] || continue
  copy_in "$file"
  if [ "$HOME" != /root ] && [ "${file#"$HOME"/}" != "$file" ]; then  # the folder's HOME is /root
    mkdir -p "$(dirname "$folder/root/${file#"$HOME"/}")"
    cp -L "$file" "$folder/root/${file#"$HOME"/}"
  fi
  # Values that name a file (cert, constraint or requirement files) go along.
  sed -n 's/^[^=#;]*=[[:space:]]*//p' "$file" | tr ' ' '\n' | while read -r value; do
    case $value in /*) copy_in "$value" ;; esac
  done
done
if [ -x "$folder/usr/sbin/update-ca-certificates" ]; then
  chroot "$folder" update-ca-certificates >/dev/null 2>&1
fi

bind /proc "$folder"
bind /dev "$folder"

echo "== apt-get update in $suite"
quiet_log=$(mktemp)
if ! inside apt-get -qq update >"$quiet_log" 2>&1; then
  cat "$quiet_log" >&2
  rm -f "$quiet_log"
  exit 1
fi
rm -f "$quiet_log"

versions=("$@")
if [ ${#versions[@]} -eq 0 ]; then
  # The release's own CPython (that of its python3 package) and the newer ones it packages with
  # their -dev and -venv; older ones it still carries are another release's own.
  default=$(inside apt-cache show --no-all-versions python3 | sed -n 's/^Version: \([0-9]*\.[0-9]*\).*/\1/p')
  packages=$(inside apt-cache pkgnames python3.)
  for venv_package in $(grep -E '^python3\.[0-9]+-venv$' <<<"$packages" | sort -t. -k2 -n); do
    minor=${venv_package%-venv}
    [ "${minor#python3.}" -ge "${default#3.}" ] || continue
    grep -qx "$minor-dev" <<<"$packages" && versions+=("${minor#python}")
  done
fi
if [ ${#versions[@]} -eq 0 ]; then
  echo "test-in-debian.sh: Debian $suite packages no CPython with -dev and -venv" >&2
  exit 1
fi
echo "== CPython ${versions[*]}"

echo "== copying the checkout into $suite:/root/pyvora"
rm -rf "$folder/root/pyvora"
mkdir -p "$folder/root/pyvora"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
     tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$folder/root/pyvora"
else
  tar -C "$root" --exclude='./.venv*' --exclude=./build --exclude=./dist --exclude=./wheelhouse \
    -cf - . | tar -xf - -C "$folder/root/pyvora"
fi

status=0
for version in "${versions[@]}"; do
  started=$SECONDS
  echo "=== Debian $suite, Python $version"
  # The virtual environment lives beside the copy, so the next run reuses its tools.
  if inside env PYTHON="python$version" VENV="/root/venv-$version" bash /root/pyvora/scripts/test.sh; then
    echo "=== Debian $suite, Python $version: passed in $((SECONDS - started))s"
  else
    echo "=== Debian $suite, Python $version: FAILED after $((SECONDS - started))s" >&2
    status=1
  fi
done
exit "$status"
