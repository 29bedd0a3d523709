#!/usr/bin/env bash
# screenshot.sh -- runs the built program on an X server of its own
# (scripts/with-xvfb.sh) against the simulator, waits for the first cyclic
# answers, saves a picture of its window and ends it with Esc.
# Usage: scripts/screenshot.sh [build-dir] [picture.png]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --on-this-display ]; then
  exec scripts/with-xvfb.sh "$0" --on-this-display "$@"
fi
shift
build=${1:-build-run}
out=${2:-screenshot.png}
for tool in xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh test installs it"; exit 1; }
done

app_pid=""
. scripts/sim-up.sh
# Every step runs, whatever the one before it found: the program may be gone.
cleanup() { [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true; stop_sim; }
trap cleanup EXIT

"$build/bin/quenta-ascii" &
app_pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --class quenta-ascii | head -n 1)
sleep "${SHOT_DELAY:-7}"   # the first cyclic send comes after 5 s
import -window "$window" "$out"
# Esc's press ends the program; the rest of the key may then find no window.
xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
wait "$app_pid" && app_pid=""
echo "Saved $out"
