#!/usr/bin/env bash
# test.sh -- installs what is missing, builds the English and the German
# program and runs every test of both. Exit code 0 only when all pass.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

jobs=$(nproc)
build_and_test() {  # build-dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DQUENTA_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

build_and_test build -DenglishUI=ON
build_and_test build-de -DenglishUI=OFF -DQUENTA_BENCH=OFF
