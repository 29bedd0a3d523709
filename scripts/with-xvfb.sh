#!/usr/bin/env bash
# with-xvfb.sh -- runs a command on an X server of its own. Xvfb picks a
# free display itself (-displayfd), so two runs at the same time never take
# the same one; the command starts with DISPLAY set once a client can
# connect (xdpyinfo answers), not merely once a socket file exists. The
# server does not reset when its last client leaves (-noreset): while it
# resets it refuses connections, and a test starts programs one after the
# other. At the end the server is stopped with SIGTERM and waited for, so that it leaves
# no lock file or socket in /tmp; should this script be killed, the server
# gets SIGTERM from the kernel (parent-death signal).
#
# Usage: scripts/with-xvfb.sh [--screen WxHxD] command [argument...]
# Exit code: the command's; 1 when no server could be started.
set -euo pipefail

screen=1280x960x24
if [ "${1:-}" = --screen ]; then
  screen=$2
  shift 2
fi
[ $# -gt 0 ] || { echo "usage: $0 [--screen WxHxD] command [argument...]" >&2; exit 1; }
for tool in Xvfb xdpyinfo setpriv; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh test installs it" >&2; exit 1; }
done

readonly start_attempts=3
readonly ready_wait_s=60   # a loaded machine may take long; a dead server ends the wait at once
work=$(mktemp -d)
unset DISPLAY
xvfb_pid=""

stop_xvfb() {
  [ -n "$xvfb_pid" ] || return 0
  kill -TERM "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}
trap 'stop_xvfb; rm -rf "$work"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# Starts one Xvfb and waits until it has written its display number (the
# whole line: it writes the newline separately) and a client connects.
# Sets DISPLAY and returns 0; returns 1 when the server died or never answered.
start_xvfb() {
  local file=$work/display log=$work/xvfb.log
  : >"$file"
  setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$file" >"$log" 2>&1 &
  xvfb_pid=$!
  local deadline=$((SECONDS + ready_wait_s))
  while [ $SECONDS -lt $deadline ] && kill -0 "$xvfb_pid" 2>/dev/null; do
    if [ "$(wc -l <"$file")" -ge 1 ]; then
      DISPLAY=":$(head -n 1 "$file")"
      export DISPLAY
      xdpyinfo >/dev/null 2>&1 && return 0
    fi
    sleep 0.05
  done
  echo "Xvfb did not answer on ${DISPLAY:-a display}: $(tail -n 3 "$log" | tr '\n' ' ')" >&2
  stop_xvfb
  return 1
}

for attempt in $(seq "$start_attempts"); do
  start_xvfb && break
  [ "$attempt" -lt "$start_attempts" ] || exit 1
done

status=0
"$@" || status=$?
exit "$status"
