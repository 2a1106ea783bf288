# Sourced by scripts/test-all-interpreters.sh and build-wheels.sh.
# find_interpreter MINOR prints this machine's CPython 3.MINOR, from PATH or installed by pyenv
# (whose shims refuse versions that are not activated), or nothing.
find_interpreter() {
  local minor=$1 candidate
  for candidate in "$(command -v "python3.$minor" || true)" \
                   "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".*/bin/python3."$minor"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] || continue
    if "$candidate" -c 'import sys' 2>/dev/null; then
      echo "$candidate"
      return
    fi
  done
}
