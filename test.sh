#!/usr/bin/env bash
# test.sh -- installs what is missing, then builds and tests:
#   build/       English program, every test (warnings are errors)
#   build-de/    German program, every test
#   build-asan/  English program with AddressSanitizer, UndefinedBehaviorSanitizer
#                and LeakSanitizer, every test
#   build-fuzz/  clang with libFuzzer: each fuzz target runs for a bounded time
# Exit code 0 only when everything passes. QUICK=1 runs the first build only.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

jobs=$(nproc)
configure() {  # build-dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DQUENTA_WERROR=ON "$@" >/dev/null
}
build_and_test() {  # build-dir, extra cmake arguments...
  local dir=$1; shift
  echo "== $dir"
  configure "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

build_and_test build -DenglishUI=ON
[ "${QUICK:-0}" = 1 ] && exit 0
build_and_test build-de -DenglishUI=OFF -DQUENTA_BENCH=OFF
build_and_test build-asan -DQUENTA_SANITIZE=ON -DQUENTA_BENCH=OFF

echo "== build-fuzz"
CC=clang CXX=clang++ configure build-fuzz -DQUENTA_FUZZ=ON -DQUENTA_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target \
  fuzz_request fuzz_answer fuzz_values fuzz_frame fuzz_panelfile fuzz_metrics
ctest --test-dir build-fuzz -L fuzz -j "$jobs" --output-on-failure
