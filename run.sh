#!/usr/bin/env bash
# run.sh -- installs what is missing, builds, starts the chamber simulator on
# 127.0.0.1:1080 (unless something listens there) and the program; stops the
# simulator when the program ends. Extra arguments go to CMake, e.g.
# ./run.sh -DenglishUI=OFF for the German build.
set -euo pipefail
cd "$(dirname "$0")"
build=build-run
scripts/install-deps.sh build
cmake -S . -B "$build" -G Ninja -DQUENTA_BENCH=OFF -DQUENTA_TESTS=OFF -DQUENTA_MAN_PAGES=OFF "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" --target quenta-ascii quenta-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "There is no display (DISPLAY and WAYLAND_DISPLAY are unset), so the program's window cannot open."
  echo "To run it under a virtual X server and save a picture of its window:"
  echo "    scripts/screenshot.sh $build screenshot.png"
  exit 1
fi

. scripts/sim-up.sh
trap stop_sim EXIT
status=0
"$build/bin/quenta-ascii" || status=$?
exit "$status"
