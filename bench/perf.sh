#!/usr/bin/env bash
# perf.sh -- measures the program beside a minimal Qt Widgets window (a ring,
# a string field, two list boxes; bench/minimal_window.cpp) in the same run,
# and prints each figure as the median of several runs with its goal:
#   start-up     exec to the main window's first painted frame under Xvfb
#                (bench/mapwait --painted)
#   memory       resident set after start-up and after 1,000 cycles, a cycle
#                being Enter pressed in the command field (xdotool, in the
#                real window), sent to the simulator and its answer listed
#   latency      the chamber's write to the line in the received list, in
#                process, p50 and p99 of 1,000 answers (bench/latency_bench),
#                for a chamber that answers at once and one that answers
#                after 3 ms, beside plain Qt doing the same job
#   long answers 1,000 answers of 2,500 bytes written back to back: lines
#                listed a second, the longest the event loop was held, and
#                every byte checked (bench/latency_bench --flood)
#   idle cost    CPU time over 60 s of cyclic sending every second
#
# Everything runs here and on loopback: its own build directory, its own
# Xvfb on two free displays, the simulator on 127.0.0.201 and the latency peer
# on 127.0.0.202. The program is run from a temporary copy whose panel file
# names 127.0.0.201 (and, for the idle figure, a send cycle of 1 s).
#
# Usage: bench/perf.sh [--quick] [--build-dir DIR] [--no-build]
#   --quick      fewer runs and 15 s of idle (about 1.5 minutes instead of 7)
#   --build-dir  where to build (default build-perf)
#   --no-build   use what DIR holds
set -euo pipefail
cd "$(dirname "$0")/.."

build="build-perf"
quick=0
do_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --build-dir) build=$2; shift ;;
    --no-build) do_build=0 ;;
    *) echo "usage: bench/perf.sh [--quick] [--build-dir DIR] [--no-build]" >&2; exit 2 ;;
  esac
  shift
done

if [ "$quick" = 1 ]; then
  startup_runs=3 memory_runs=1 latency_runs=1 idle_runs=1 idle_seconds=15
else
  startup_runs=9 memory_runs=3 latency_runs=3 idle_runs=3 idle_seconds=60
fi
cycles=1000
flood_answers=1000
sim_address=127.0.0.201
latency_address=127.0.0.202
key_delay_ms=10

for tool in Xvfb xdotool cmake awk; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh test installs it" >&2; exit 1; }
done

# ---- Build. ----
if [ "$do_build" = 1 ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  [ -f "$build/CMakeCache.txt" ] && generator=()
  cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQUENTA_BENCH=ON >/dev/null
  cmake --build "$build" -j2 --target quenta-ascii quenta-sim minimal_window mapwait latency_bench >/dev/null
fi
bin=$build/bin
for f in quenta-ascii quenta-sim minimal_window mapwait latency_bench ascii_e.uir; do
  [ -e "$bin/$f" ] || { echo "$bin/$f is missing (mapwait needs the libxcb development files)" >&2; exit 1; }
done

# ---- Processes started here, and their end. ----
work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-perf.XXXXXX")
started=()
xvfb_pids=()
sim_pid=""

# Ends process $1 (not a child of this shell) and waits until it is gone.
stop_pid() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do
    [ -e "/proc/$1" ] && [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ] || return 0
    sleep 0.1
  done
  kill -9 "$1" 2>/dev/null || true
}
cleanup() {
  for p in "${started[@]}"; do stop_pid "$p"; done
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  for p in "${xvfb_pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# True when something accepts connections on $1 port 1080.
listening() { (exec 3<>"/dev/tcp/$1/1080") 2>/dev/null; }

# ---- Two Xvfb on free displays, the simulator, the program's copies. ----
# Starts an Xvfb on the first free display; sets $new_display to its name.
# The server must not reset when its last client leaves (-noreset): while
# it resets it refuses or stalls the next client, and the runs here start
# one program after the other.
start_xvfb() {
  local file=$work/display.${#xvfb_pids[@]}
  Xvfb -displayfd 3 -screen 0 1280x960x24 -nolisten tcp -noreset 3>"$file" >/dev/null 2>&1 &
  xvfb_pids+=($!)
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.05; done
  [ -s "$file" ] || { echo "Xvfb did not start" >&2; exit 1; }
  new_display=":$(head -n 1 "$file")"
}
start_xvfb
DISPLAY=$new_display
export DISPLAY
# The idle runs keep both windows at once, each on a display of its own, so
# that each has the input focus and blinks its text cursor as it would alone.
start_xvfb
second_display=$new_display

for a in "$sim_address" "$latency_address"; do
  if listening "$a"; then echo "Something listens on $a:1080 already; stop it first." >&2; exit 1; fi
done
"$bin/quenta-sim" --listen "$sim_address" --port 1080 --verbose >"$work/sim.log" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do listening "$sim_address" && break; sleep 0.1; done
listening "$sim_address" || { echo "the simulator did not start" >&2; exit 1; }

# Copies the program into directory $1 with a panel file whose address is
# the simulator's and whose send cycle is $2 seconds.
program_copy() {
  mkdir -p "$1"
  cp "$bin/quenta-ascii" "$1/"
  sed -E -e "/\"constant\": \"IP\"/s/\"value\": \"[^\"]*\"/\"value\": \"$sim_address\"/" \
         -e "/\"constant\": \"SCANNING\"/s/\"value\": [0-9.]+/\"value\": $2/" \
         "$bin/ascii_e.uir" >"$1/ascii_e.uir"
  if ! grep -q "\"constant\": \"IP\".*\"value\": \"$sim_address\"" "$1/ascii_e.uir" ||
     ! grep -q "\"constant\": \"SCANNING\".*\"value\": $2," "$1/ascii_e.uir"; then
    echo "cannot make the panel file of $1" >&2
    exit 1
  fi
}
program_copy "$work/program" 5.0
program_copy "$work/program-1s" 1.0
program=$work/program/quenta-ascii
reference=$bin/minimal_window

# ---- Helpers. ----
# Starts a program under mapwait with its options $1 (none, or --painted);
# sets $pid and $ms (from exec to mapped, or to the first frame painted).
start_under_mapwait() {
  local how=$1; shift
  "$bin/mapwait" $how -- "$@" >"$work/mapped" 2>>"$work/programs.err" || { echo "$1 showed no window" >&2; exit 1; }
  read -r pid ms <"$work/mapped"
  started+=("$pid")
}
start_mapped() { start_under_mapwait "" "$@"; }
start_painted() { start_under_mapwait --painted "$@"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
# CPU time of process $1 so far, in milliseconds: the scheduler's own sum
# over the process's threads where the kernel shows it (to the nanosecond;
# the idle runs' threads live throughout), else user and system time from
# /proc/$1/stat, in clock ticks of 10 ms, too coarse to tell 0.17 % from
# 0.20 % in a minute. The name in parentheses may hold blanks: fields are
# counted after it.
cpu_ms() {
  if [ -r "/proc/$1/sched" ]; then
    { cat "/proc/$1"/task/*/sched 2>/dev/null || true; } |
      awk '/^se.sum_exec_runtime/ {t += $3; n++} END {if (!n) exit 1; printf "%.3f\n", t}' ||
      { echo "no run time in /proc/$1/task/*/sched" >&2; exit 1; }
  else
    local s f; s=$(cat "/proc/$1/stat"); read -r -a f <<<"${s##*) }"
    awk -v t=$(( f[11] + f[12] )) -v hz="$hz" 'BEGIN {printf "%.3f\n", 1000 * t / hz}'
  fi
}
answers() { grep -c ' >> ' "$work/sim.log" || true; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Prints the lines of standard input as one line, for the record of each run.
runs() { tr '\n' ' '; }
# Clicks into the field at (400, 105) of the window of process $1 and
# presses Enter $cycles times.
press_enter() {
  local win
  win=$(timeout 10 xdotool search --sync --onlyvisible --pid "$1" | head -n 1)
  xdotool mousemove --window "$win" 400 105 click 1
  xdotool key --delay "$key_delay_ms" --repeat "$cycles" Return
  echo "$win"
}

echo "Measuring on $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), display $DISPLAY (Xvfb)."
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# ---- Start-up: one unmeasured run each to warm the caches, then turns. ----
echo "start-up: $startup_runs runs each..."
: >"$work/start.program"; : >"$work/start.reference"
for i in $(seq 0 "$startup_runs"); do
  order="program reference"
  [ $((i % 2)) = 1 ] && order="reference program"
  for who in $order; do
    if [ "$who" = program ]; then start_painted "$program"; else start_painted "$reference"; fi
    stop_pid "$pid"
    if [ "$i" -gt 0 ]; then echo "$ms" >>"$work/start.$who"; fi
    sleep 0.2
  done
done

# ---- Memory: after start-up and after $cycles cycles, by Enter in the window. ----
echo "memory: $memory_runs runs each of $cycles cycles..."
: >"$work/rss0.program"; : >"$work/rss1.program"; : >"$work/rss0.reference"; : >"$work/rss1.reference"
memory_ok=1
for i in $(seq "$memory_runs"); do
  start_mapped "$program"
  sleep 1; rss_kib "$pid" >>"$work/rss0.program"
  before=$(answers)
  press_enter "$pid" >/dev/null
  sleep 1; rss_kib "$pid" >>"$work/rss1.program"
  got=$(( $(answers) - before ))
  [ "$got" -ge "$cycles" ] || { echo "  run $i: only $got answers for $cycles presses" >&2; memory_ok=0; }
  stop_pid "$pid"

  start_mapped "$reference"
  sleep 1; rss_kib "$pid" >>"$work/rss0.reference"
  win=$(press_enter "$pid")
  sleep 1; rss_kib "$pid" >>"$work/rss1.reference"
  title=$(xdotool getwindowname "$win")
  [ "$title" = "minimal window $cycles" ] || { echo "  run $i: the minimal window counted \"$title\"" >&2; memory_ok=0; }
  stop_pid "$pid"
done

# ---- Answer latency, in process, on this display. ----
echo "latency: $latency_runs runs of $cycles answers, at once and after 3 ms..."
: >"$work/latency.0"; : >"$work/latency.3000"
for i in $(seq "$latency_runs"); do
  for delay in 0 3000; do
    "$bin/latency_bench" --address "$latency_address" --count "$cycles" --answer-delay-us "$delay" \
        >>"$work/latency.$delay" 2>>"$work/programs.err" ||
      { echo "latency_bench failed:" >&2; tail -n 3 "$work/programs.err" >&2; exit 1; }
  done
done

# ---- Long answers back to back, in process, on this display. ----
echo "long answers: $latency_runs runs of $flood_answers answers of 2,500 bytes..."
: >"$work/flood"
for i in $(seq "$latency_runs"); do
  "$bin/latency_bench" --address "$latency_address" --flood "$flood_answers" >>"$work/flood" 2>>"$work/programs.err" ||
    { echo "latency_bench --flood failed:" >&2; tail -n 3 "$work/programs.err" >&2; exit 1; }
done

# ---- Idle cost: both at once, on two displays, a cycle of 1 s, after 3 s to settle. ----
echo "idle: $idle_runs runs of $idle_seconds s..."
: >"$work/idle.program"; : >"$work/idle.reference"
hz=$(getconf CLK_TCK)
idle_ok=1
for i in $(seq "$idle_runs"); do
  start_mapped "$work/program-1s/quenta-ascii"; p=$pid
  DISPLAY=$second_display start_mapped "$reference" --cycle-ms 1000; r=$pid
  sleep 3
  p0=$(cpu_ms "$p"); r0=$(cpu_ms "$r"); n0=$(answers); threads0=$(ls "/proc/$p/task" "/proc/$r/task")
  sleep "$idle_seconds"
  p1=$(cpu_ms "$p"); r1=$(cpu_ms "$r"); n1=$(answers); threads1=$(ls "/proc/$p/task" "/proc/$r/task")
  # A thread gone meanwhile would take its time out of the second sum.
  [ "$threads0" = "$threads1" ] || { echo "  run $i: the threads changed; its CPU times do not count" >&2; idle_ok=0; }
  awk -v a="$p0" -v b="$p1" -v s="$idle_seconds" 'BEGIN {printf "%.4f\n", (b - a) / 10 / s}' >>"$work/idle.program"
  awk -v a="$r0" -v b="$r1" -v s="$idle_seconds" 'BEGIN {printf "%.4f\n", (b - a) / 10 / s}' >>"$work/idle.reference"
  [ $((n1 - n0)) -ge $((idle_seconds - 1)) ] || { echo "  run $i: only $((n1 - n0)) answers in $idle_seconds s" >&2; idle_ok=0; }
  stop_pid "$p"; stop_pid "$r"
done

# ---- Report. ----
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
# row <figure> <unit> <program file> <reference file> <goal ratio or ""> <goal bound or "">
# A figure with both goals meets them when it meets each.
row() {
  local prog ref
  prog=$(median <"$3"); ref=$(median <"$4")
  awk -v f="$1" -v u="$2" -v p="$prog" -v r="$ref" -v gr="$5" -v gb="$6" 'BEGIN {
    ratio = (r > 0) ? p / r : 0
    goal = ""; ok = 1
    if (gb != "") { goal = "< " gb " " u; ok = ok && p < gb }
    if (gr != "") { goal = goal (goal != "" ? ", " : "") "ratio <= " gr; ok = ok && ratio <= gr }
    verdict = (goal == "") ? "" : (ok ? "met" : "MISSED")
    if (goal == "") goal = "-"
    printf "%-38s %10.2f %-3s %10.2f %-3s %6.2f   %-24s %s\n", f, p, u, r, u, ratio, goal, verdict }'
}
# alone <figure> <unit> <program file> <"at least" or "under"> <bound>: a figure with no reference.
alone() {
  local prog
  prog=$(median <"$3")
  awk -v f="$1" -v u="$2" -v p="$prog" -v how="$4" -v b="$5" 'BEGIN {
    ok = (how == "at least") ? p >= b : p < b
    printf "%-38s %10.2f %-3s %10s     %6s   %-24s %s\n", f, p, u, "-", "-", how " " b " " u, ok ? "met" : "MISSED" }'
}
kib_to_mib() { awk '{printf "%.2f\n", $1 / 1024}' "$1" >"$1.mib"; echo "$1.mib"; }
# Lines of latency_bench: latency <path> <count> p50 <us> p99 <us> max <us>
for delay in 0 3000; do
  for path in module-raw:raw module-interpreted:int plain-qt:qt; do
    awk -v p="${path%%:*}" '$2 == p {print $5}' "$work/latency.$delay" >"$work/p50.${path##*:}.$delay"
    awk -v p="${path%%:*}" '$2 == p {print $7}' "$work/latency.$delay" >"$work/p99.${path##*:}.$delay"
  done
done

printf "%-38s %10s     %10s     %6s   %-24s %s\n" "figure (median)" "program" "reference" "ratio" "goal" "result"
row "start-up, exec to first painted frame" ms "$work/start.program" "$work/start.reference" 1.3 ""
row "resident set after start-up" MiB "$(kib_to_mib "$work/rss0.program")" "$(kib_to_mib "$work/rss0.reference")" 1.2 ""
row "resident set after $cycles cycles" MiB "$(kib_to_mib "$work/rss1.program")" "$(kib_to_mib "$work/rss1.reference")" 1.2 ""
p99_ratio=1.2  # answers at once; after 3 ms the bound alone
for delay in 0 3000; do
  when="at once"
  [ "$delay" = 0 ] || when="after 3 ms"
  row "latency p50, raw, answer $when" us "$work/p50.raw.$delay" "$work/p50.qt.$delay" "" ""
  row "latency p99, raw, answer $when" us "$work/p99.raw.$delay" "$work/p99.qt.$delay" "$p99_ratio" 1000
  row "latency p50, interpreted, $when" us "$work/p50.int.$delay" "$work/p50.qt.$delay" "" ""
  row "latency p99, interpreted, $when" us "$work/p99.int.$delay" "$work/p99.qt.$delay" "$p99_ratio" 1000
  p99_ratio=""
done
# Lines of latency_bench --flood: flood <path> <answers> lines <n> bytes <n> ms <ms> lines/s <n> held-ms <ms>
awk '{print $11}' "$work/flood" >"$work/flood.rate"
awk '{print $13}' "$work/flood" >"$work/flood.held"
alone "2,500-byte answers: lines listed a s" "/s" "$work/flood.rate" "at least" 500
alone "2,500-byte answers: loop held at most" ms "$work/flood.held" under 20
row "idle CPU, 1 s cycle, ${idle_seconds} s" "%" "$work/idle.program" "$work/idle.reference" 1.1 0.5
[ "$memory_ok" = 1 ] || echo "WARNING: not every cycle of the memory runs arrived (see above)."
[ "$idle_ok" = 1 ] || echo "WARNING: an idle run missed answers or lost a thread (see above)."

echo
echo "Every run (program | reference):"
echo "  start-up ms:        $(runs <"$work/start.program")| $(runs <"$work/start.reference")"
echo "  RSS start KiB:      $(runs <"$work/rss0.program")| $(runs <"$work/rss0.reference")"
echo "  RSS $cycles cyc KiB:  $(runs <"$work/rss1.program")| $(runs <"$work/rss1.reference")"
for delay in 0 3000; do
  echo "  latency p50/p99 us, answer delay $delay us:"
  echo "    raw $(paste -d/ "$work/p50.raw.$delay" "$work/p99.raw.$delay" | runs)| plain Qt $(paste -d/ "$work/p50.qt.$delay" "$work/p99.qt.$delay" | runs)"
  echo "    interpreted $(paste -d/ "$work/p50.int.$delay" "$work/p99.int.$delay" | runs)"
done
echo "  2,500-byte answers, lines/s and loop held ms: $(paste -d/ "$work/flood.rate" "$work/flood.held" | runs)"
echo "  idle % core:        $(runs <"$work/idle.program")| $(runs <"$work/idle.reference")"
echo "The reference of the latency rows is plain Qt doing the same job: the command written on a plain"
echo "socket and listed in one QListWidget, the answer read on a QSocketNotifier and listed in another;"
echo "the memory cycles were Enter pressed $cycles times in each real window with xdotool."
