#!/usr/bin/env bash
# screenshot.sh -- runs the built program under Xvfb against the simulator,
# waits for the first cyclic answers, saves a picture of its window and ends
# it with Esc.  Usage: scripts/screenshot.sh [build-dir] [picture.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-run}
out=${2:-screenshot.png}
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh test installs it"; exit 1; }
done

display=":$((100 + RANDOM % 400))"
Xvfb "$display" -screen 0 1280x960x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=""
. scripts/sim-up.sh
# Every step runs, whatever the one before it found: the program may be gone.
cleanup() { [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true; stop_sim; kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1

DISPLAY=$display "$build/bin/quenta-ascii" &
app_pid=$!
window=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --class quenta-ascii | head -n 1)
sleep "${SHOT_DELAY:-7}"   # the first cyclic send comes after 5 s
DISPLAY=$display import -window "$window" "$out"
# Esc's press ends the program; sending the release may then find no window.
DISPLAY=$display xdotool key --window "$window" Escape 2>/dev/null || true
wait "$app_pid" && app_pid=""
echo "Saved $out"
