#!/usr/bin/env bash
# Builds pyvora and the C++ unit tests with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs both suites against them; any sanitizer report fails the run.
# Needs the virtual environment scripts/test.sh makes (scripts/venv.sh), so run that first.
#   scripts/sanitize.sh                       # everything
#   PYTHON=python3.12 scripts/sanitize.sh     # another interpreter's venv
#   scripts/sanitize.sh -k save               # extra arguments go to pytest
#
# The sanitized module lives in build/sanitize and is never installed; pytest imports it through
# PYTHONPATH, with the ASan runtime preloaded (the interpreter is not built with it). Python's
# allocator is switched to malloc so that ASan guards every object, including the strings whose
# memory our code fills. Reports go to build/sanitize-logs (one file per process, subprocesses
# of the tests included); tests/sanitizer/check_reports.py prints them and fails on any.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
python=${PYTHON:-python3}
source "$root/scripts/venv.sh"
if [ ! -x "$py" ]; then
  echo "sanitize.sh: $venv does not exist; run scripts/test.sh first" >&2
  exit 2
fi
export PATH="$venv/bin:$PATH"

cxx=${CXX:-g++}
if [ -z "${CXX:-}" ]; then  # g++ and its sanitizer runtimes (scripts/prerequisites.sh)
  source "$root/scripts/prerequisites.sh"
  require_packages sanitize.sh "${prerequisite_build[@]}"
fi
runtime() {  # absolute path of a compiler runtime library, or failure
  local lib
  lib=$("$cxx" -print-file-name="$1")
  if [ "${lib#/}" = "$lib" ] || [ ! -e "$lib" ]; then
    echo "sanitize.sh: $cxx has no $1" >&2
    return 1
  fi
  echo "$lib"
}
asan_runtime=$(runtime libasan.so)
# ASan's __cxa_throw interceptor looks up the real function when the runtime starts; the
# interpreter does not link libstdc++, so without it preloaded the first C++ exception our code
# throws stops the process with a CHECK failure.
stdcxx_runtime=$(runtime libstdc++.so)

# On top of the -fsanitize flags of PYVORA_SANITIZE: float-to-integer conversions out of range
# (part of no default group in GCC), bounds checks of the standard containers and ASan's
# checks between a vector's size and capacity.
extra_flags="-fsanitize=float-cast-overflow -D_GLIBCXX_ASSERTIONS -D_GLIBCXX_SANITIZE_VECTOR=1"

logs="$root/build/sanitize-logs"
rm -rf "$logs"
mkdir -p "$logs/python" "$logs/cpp"

# Frames end with their module in <...>: which library each frame belongs to.
frame_format='stack_trace_format="    #%n %p %F %L <%m>"'
common_asan="halt_on_error=1:abort_on_error=0:handle_abort=1:detect_stack_use_after_return=1"
common_asan+=":check_initialization_order=1:$frame_format"
# UBSan next to ASan prints its message on stderr whatever log_path says, but its log_path does
# reach ASan's report file (both runtimes export the call that sets it, ASan's wins), so it is
# given ASan's. It aborts on a finding, which ASan then logs as an ABRT with the whole stack.
ubsan="print_stacktrace=1:halt_on_error=1:abort_on_error=1:$frame_format"

status=0
step() {  # runs a step; a failure is remembered, later steps still run
  if ! "$@"; then
    echo "sanitize.sh: failed: $*" >&2
    status=1
  fi
}

started=$SECONDS
echo "== sanitized pyvora for Python $version (build/sanitize)"
step cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPYVORA_SANITIZE=ON -DPYVORA_BUILD_MODULE=ON -DPYVORA_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE="$py" -DCMAKE_CXX_FLAGS="$extra_flags" >/dev/null
step cmake --build build/sanitize
suffix=$("$py" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
module="$root/build/sanitize/pyvora$suffix"

if [ "$status" -eq 0 ]; then
  echo "== pytest against $module"
  # Leaks are checked once, at the end of the session (see tests/sanitizer/pytest_sanitizer.py),
  # with lsan.supp for what the interpreter itself leaves unreachable.
  step env \
    LD_PRELOAD="$asan_runtime $stdcxx_runtime" \
    PYTHONMALLOC=malloc \
    PYTHONPATH="$root/build/sanitize:$root/tests/sanitizer" \
    PYVORA_SANITIZED_MODULE="$module" \
    ASAN_OPTIONS="$common_asan:detect_leaks=1:leak_check_at_exit=0:log_path=$logs/python/asan" \
    LSAN_OPTIONS="suppressions=$root/tests/sanitizer/lsan.supp" \
    UBSAN_OPTIONS="$ubsan:log_path=$logs/python/asan" \
    "$py" -m pytest -q -p pytest_sanitizer -p no:cacheprovider -p no:faulthandler --capture=sys \
    tests/python "$@" 2>"$logs/pytest-stderr.txt"
  if [ "$status" -ne 0 ]; then  # the reason may be on stderr; our refusal diagnostics are not
    echo "-- standard error of pytest (without pyvora's refusal diagnostics):"
    grep -v '^pyvora: check failed at ' "$logs/pytest-stderr.txt" | tail -n 60 || true
  fi
fi
python_seconds=$((SECONDS - started))

started=$SECONDS
echo "== sanitized C++ unit tests (build/cpp-sanitize)"
# Test discovery runs the test program while building, so the options apply to the build too.
cpp_env=(
  ASAN_OPTIONS="$common_asan:detect_leaks=1:log_path=$logs/cpp/asan"
  UBSAN_OPTIONS="$ubsan:log_path=$logs/cpp/asan"
)
step cmake -S . -B build/cpp-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPYVORA_SANITIZE=ON -DPYVORA_BUILD_MODULE=OFF -DPYVORA_BUILD_TESTS=ON \
  -DCMAKE_CXX_FLAGS="$extra_flags" >/dev/null
step env "${cpp_env[@]}" cmake --build build/cpp-sanitize
step env "${cpp_env[@]}" ctest --test-dir build/cpp-sanitize --output-on-failure -j "$(nproc)"
cpp_seconds=$((SECONDS - started))

echo "== sanitizer reports"
echo "-- Python suite (build and run: ${python_seconds}s):"
step "$py" tests/sanitizer/check_reports.py "$logs/python" --stderr "$logs/pytest-stderr.txt"
echo "-- C++ unit tests (build and run: ${cpp_seconds}s):"
step "$py" tests/sanitizer/check_reports.py "$logs/cpp"

if [ "$status" -ne 0 ]; then
  echo "sanitize.sh: FAILED (logs in $logs)" >&2
fi
exit "$status"
