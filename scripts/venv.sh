# Sourced by the scripts that build into or use the test command's virtual environment: which one
# it is for the interpreter $python (test.sh and docs.sh make it when it is missing).
#   $VENV when it is set; else the .venv that try.sh made, when it runs the same interpreter;
#   else .venv-<version> (3.14t for a free-threaded 3.14).
# Sets $version, $venv and $py (the environment's interpreter).

# The interpreter's version, and the real path of the executable a venv made from it runs.
# shellcheck disable=SC2154  # $python and $root are set by the sourcing script
interpreter=$("$python" -c 'import os, sys, sysconfig
t = "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
print(f"{sys.version_info[0]}.{sys.version_info[1]}{t}", os.path.realpath(sys._base_executable))')
read -r version base <<<"$interpreter"

if [ -n "${VENV:-}" ]; then
  venv=$VENV
elif [ -x "$root/.venv/bin/python" ] &&
     [ "$("$root/.venv/bin/python" -c 'import os, sys; print(os.path.realpath(sys._base_executable))' 2>/dev/null)" = "$base" ]; then
  venv=$root/.venv
else
  venv=$root/.venv-$version
fi
py=$venv/bin/python
