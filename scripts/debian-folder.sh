# Sourced by scripts/test-in-debian.sh and build-wheels.sh: a minimal folder of another Debian
# release to run commands in (root only: debootstrap, chroot, mounts).
#
# debian_folder_open SUITE makes the folder with debootstrap on first use, in
# $PYVORA_DEBIAN_CACHE/SUITE (default /var/cache/pyvora-debian/SUITE), outside any checkout; what
# is installed there later stays for the next run. Delete the folder to start over. The mirror
# is the one this machine's apt sources name for its own release (DEBIAN_MIRROR overrides it).
# It then brings the host's network settings in, mounts /proc and /dev (unmounted when the
# script exits, however it exits) and fetches the package lists. One run per folder at a time.
#
# debian_inside COMMAND...       runs a command in the folder with a clean environment
# debian_folder_pythons          prints the release's own CPython (that of its python3 package)
#                                and the newer ones it packages with -dev and -venv: X.Y each
# debian_folder_checkout ROOT    copies the checkout's files into the folder's /root/pyvora

debian_cache=${PYVORA_DEBIAN_CACHE:-/var/cache/pyvora-debian}
debian_mounts=()
debian_passed=(DEBIAN_FRONTEND=noninteractive)

debian_unmount_all() {
  local i
  for ((i = ${#debian_mounts[@]} - 1; i >= 0; i--)); do
    # Lazily if a process left inside after an interrupt still holds it.
    umount -R "${debian_mounts[i]}" 2>/dev/null || umount -R -l "${debian_mounts[i]}" || true
  done
  debian_mounts=()
}

debian_bind() {  # bind-mounts a host directory (and what is mounted below it) into the folder
  mount --rbind "$1" "$debian_folder$1"
  debian_mounts+=("$debian_folder$1")
  mount --make-rslave "$debian_folder$1"
}

debian_inside() {
  chroot "$debian_folder" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${debian_passed[@]}" "$@"
}

debian_quietly() {  # runs a command, showing its output only when it fails
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || cat "$log" >&2
  rm -f "$log"
  return "$status"
}

debian_make_folder() {
  local suite=$1 mirror=${DEBIAN_MIRROR:-} partial=$debian_folder.partial started=$SECONDS sub
  if [ -z "$mirror" ]; then
    # The first source of a release itself (not its -updates, -security or -backports).
    mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
             awk '$2 !~ /-/ { print $1; exit }')
  fi
  if [ -z "$mirror" ]; then
    echo "no Debian mirror in this machine's apt sources; set DEBIAN_MIRROR" >&2
    return 1
  fi
  echo "== making a minimal Debian $suite in $debian_folder (mirror $mirror)"
  # Made aside and moved in place when complete, so an interrupted run leaves no half folder.
  if [ -d "$partial" ]; then
    for sub in proc sys dev; do umount -R -l "$partial/$sub" 2>/dev/null || true; done
    rm -rf --one-file-system "$partial"
  fi
  debian_quietly debootstrap --variant=minbase "$suite" "$partial" "$mirror" || return 1
  # A test folder follows a moving release; a mirror's copy of it may carry a Release file past
  # its Valid-Until date, which apt would otherwise refuse.
  echo 'Acquire::Check-Valid-Until "false";' >"$partial/etc/apt/apt.conf.d/90pyvora-mirror"
  mv "$partial" "$debian_folder"
  echo "   made in $((SECONDS - started))s"
}

debian_copy_in() {  # copies a host file (its content, not a link) to the same path in the folder
  [ -f "$1" ] || return 0
  mkdir -p "$debian_folder$(dirname "$1")"
  cp -L "$1" "$debian_folder$1"
  if grep -q -e '-----BEGIN CERTIFICATE-----' "$1" 2>/dev/null; then
    local trusted="$debian_folder/usr/local/share/ca-certificates/pyvora-host"
    mkdir -p "$trusted"
    cp -L "$1" "$trusted/$(tr / _ <<<"${1#/}").crt"
  fi
}

# Name resolution, and the host's way to the package index: its pip configuration files and the
# files they name (CA bundle, constraints) at the same paths, the PIP_* and CA variables passed
# in, and the CA bundles among them added to the folder's trusted certificates too, since
# installing Debian's ca-certificates there (a dependency of much) rewrites its bundle.
debian_bring_network_settings() {
  local file var value
  for file in /etc/resolv.conf /etc/hosts; do
    [ -e "$file" ] && cp -L "$file" "$debian_folder$file"
  done
  rm -rf "$debian_folder/usr/local/share/ca-certificates/pyvora-host"
  for var in $(compgen -e); do
    case $var in
      PIP_* | REQUESTS_CA_BUNDLE | SSL_CERT_FILE | SSL_CERT_DIR | CURL_CA_BUNDLE)
        debian_passed+=("$var=${!var}")
        debian_copy_in "${!var}" ;;
    esac
  done
  for file in /etc/pip.conf /etc/xdg/pip/pip.conf "$HOME/.config/pip/pip.conf" \
              "$HOME/.pip/pip.conf" "${PIP_CONFIG_FILE:-}"; do
    [ -n "$file" ] && [ -f "$file" ] || continue
    debian_copy_in "$file"
    if [ "$HOME" != /root ] && [ "${file#"$HOME"/}" != "$file" ]; then  # the folder's HOME
      mkdir -p "$(dirname "$debian_folder/root/${file#"$HOME"/}")"
      cp -L "$file" "$debian_folder/root/${file#"$HOME"/}"
    fi
    # Values that name a file (cert, constraint or requirement files) go along.
    for value in $(sed -n 's/^[^=#;]*=[[:space:]]*//p' "$file"); do
      case $value in /*) debian_copy_in "$value" ;; esac
    done
  done
  if [ -x "$debian_folder/usr/sbin/update-ca-certificates" ]; then
    debian_quietly chroot "$debian_folder" update-ca-certificates
  fi
}

debian_folder_open() {
  local suite=$1
  case $suite in */* | .* | "") echo "not a Debian suite: '$suite'" >&2; return 2 ;; esac
  if [ "$(id -u)" -ne 0 ]; then
    echo "a Debian folder needs root (debootstrap, chroot and mounts)" >&2
    return 2
  fi
  source "$(dirname "${BASH_SOURCE[0]}")/prerequisites.sh"
  require_packages "$(basename "$0")" "${prerequisite_debian[@]}"
  debian_folder=$debian_cache/$suite
  mkdir -p "$debian_cache"
  # Runs share the folder's packages and virtual environments: one at a time.
  exec {debian_lock}>"$debian_cache/$suite.lock"
  flock "$debian_lock"
  trap debian_unmount_all EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  if [ ! -d "$debian_folder" ]; then
    debian_make_folder "$suite" || return 1
  fi
  debian_bring_network_settings
  debian_bind /proc
  debian_bind /dev
  echo "== apt-get update in $suite"
  debian_quietly debian_inside apt-get -qq update
}

debian_folder_pythons() {
  local default packages venv_package minor
  default=$(debian_inside apt-cache show --no-all-versions python3 |
            sed -n 's/^Version: \([0-9]*\.[0-9]*\).*/\1/p')
  packages=$(debian_inside apt-cache pkgnames python3.)
  for venv_package in $(grep -E '^python3\.[0-9]+-venv$' <<<"$packages" | sort -t. -k2 -n); do
    minor=${venv_package%-venv}
    [ "${minor#python3.}" -ge "${default#3.}" ] || continue
    if grep -qx "$minor-dev" <<<"$packages"; then echo "${minor#python}"; fi
  done
}

# Tracked files and files git does not ignore: no build directory or virtual environment of the
# host comes along.
debian_folder_checkout() {
  local root=$1 copy=$debian_folder/root/pyvora
  rm -rf "$copy"
  mkdir -p "$copy"
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z --cached --others --exclude-standard |
       tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$copy"
  else
    tar -C "$root" --exclude='./.venv*' --exclude=./build --exclude=./dist --exclude=./wheelhouse \
      -cf - . | tar -xf - -C "$copy"
  fi
}
