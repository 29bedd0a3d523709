#!/usr/bin/env bash
# load-test.sh -- runs a build's tests twice in a row (ctest -j2) while a
# CPU burner keeps every core busy, the way a busy machine would: a test
# that fails at random under load shows here. The burners (one busy shell
# loop per core, at normal priority) are stopped on the way out, also on
# failure or Ctrl-C.
#
# Usage: scripts/load-test.sh [build-dir] [ctest arguments...]
#        (default build-dir: build; it must be built already)
# Exit code: 0 when both runs pass, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
[ -f "$build/CTestTestfile.cmake" ] || { echo "$build holds no configured build: build it first"; exit 1; }

readonly runs=2
burners=()
stop_burners() {
  for pid in "${burners[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  burners=()
}
trap stop_burners EXIT

cores=$(nproc)
for _ in $(seq "$cores"); do
  bash -c 'while :; do :; done' &
  burners+=($!)
done
echo "== $cores burners running; load average $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
for run in $(seq "$runs"); do
  start=$SECONDS
  if ctest --test-dir "$build" -j2 --output-on-failure "$@"; then
    result=passed
  else
    result=FAILED
    status=1
  fi
  echo "== run $run of $runs: $result in $((SECONDS - start)) s; load average $(cut -d' ' -f1-3 /proc/loadavg)"
done
exit "$status"
