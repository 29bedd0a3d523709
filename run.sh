#!/usr/bin/env bash
# run.sh -- installs what is missing, builds and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DQUENTA_BENCH=OFF
cmake --build build -j "$(nproc)" --target quenta-ascii
exec build/bin/quenta-ascii
