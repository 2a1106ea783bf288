#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time: the
# protocol file decoder over its seed corpus and the kept findings, then the JSON sample-list
# reader, checked against a plain reading of the same text, for a third of that time, and the
# JSON reader, against its laws (tests/fuzz/json_form_law.hpp), for half of it. Each input is decoded by every way of
# reading samples this processor runs (scalar, SSSE3, AVX2, AVX-512), which must agree. Any
# crash, sanitizer report, disagreement or broken round trip fails the run and leaves the
# input in build/fuzz/artifacts/; copy it into tests/fuzz/findings/ to keep it as a regression
# test.
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh
#   FUZZ_CXX=clang++-19 bash scripts/fuzz.sh     # another clang
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${FUZZ_SECONDS:-60}
# The test command's virtual environment brings cmake and ninja; use it when it is there.
python=${PYTHON:-python3}
source "$root/scripts/venv.sh"
if [ -x "$venv/bin/cmake" ]; then export PATH="$venv/bin:$PATH"; fi
# The newest clang the distribution has (scripts/prerequisites.sh), unless FUZZ_CXX names one.
if [ -n "${FUZZ_CXX:-}" ]; then
  cxx=$FUZZ_CXX
else
  source "$root/scripts/prerequisites.sh"
  prerequisite_pick_clang fuzz.sh
  require_packages fuzz.sh "clang-$clang_version" "libclang-rt-$clang_version-dev"
  cxx=clang++-$clang_version
fi
if ! command -v "$cxx" >/dev/null; then
  echo "fuzz.sh: $cxx not found" >&2
  exit 1
fi
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi

# A build made with another compiler is configured anew (its findings stay).
if [ -f build/fuzz/CMakeCache.txt ] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$(command -v "$cxx")" build/fuzz/CMakeCache.txt &&
   ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$cxx" build/fuzz/CMakeCache.txt; then
  rm -rf build/fuzz/CMakeCache.txt build/fuzz/CMakeFiles
fi
cmake -S . -B build/fuzz "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPYVORA_BUILD_MODULE=OFF -DPYVORA_BUILD_FUZZER=ON >/dev/null
cmake --build build/fuzz --target fuzz_decoder fuzz_sample_list fuzz_json_form -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/artifacts
# fuzz TARGET WHAT SECONDS MAX_LEN SEED_DIR...: a fresh corpus in $work, seeded from the folders.
fuzz() {
  local target=$1 what=$2 time=$3 max_len=$4
  shift 4
  mkdir -p "$work/$target"
  echo "== fuzzing the $what for ${time}s"
  set +e
  "build/fuzz/$target" -max_total_time="$time" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ "$work/$target" "$@" >"$work/log" 2>&1
  local status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    cat "$work/log"
    echo "fuzz.sh: the $what fuzzer found a problem (exit $status); input in build/fuzz/artifacts/" >&2
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$work/log" | sed 's/^stat::/  /'
}
fuzz fuzz_decoder "decoder" "$seconds" 65536 tests/fuzz/corpus tests/fuzz/findings
fuzz fuzz_sample_list "JSON sample-list reader" "$(( (seconds + 2) / 3 ))" 4096 tests/fuzz/sample_lists
fuzz fuzz_json_form "JSON reader" "$(( (seconds + 1) / 2 ))" 65536 tests/fuzz/json_forms
echo "fuzz: 0 findings"
