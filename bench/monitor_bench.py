#!/usr/bin/env python3
"""monitor_bench.py -- what quenta-monitor costs with a thousand chambers,
beside the asyncio poller a lab would write itself (asyncio_poller.py).

    bench/monitor_bench.py --bin build-rel/bin [--chambers 1000] [--seconds 60]
        [--listen 127.0.1.1] [--sync-intervals 0,1000] [--only monitor|asyncio]
        [--scrape-every 5] [--warmup 5] [--work DIR] [--keep] [--smoke]

Starts one simulated fleet (quenta-sim --chambers N --listen ADDRESS, its
log of every command kept), then, one after the other against it, the
monitor once per sync interval and the asyncio poller, each polling every
chamber with Aa every second and writing its CSV. Over the measured window
(after the warm-up) it takes each poller's processor time and peak
resident set from /proc, the kernel's journal threads' time (the disk
syncs cost there too), and scrapes the monitor's metrics as Prometheus
would. The round trip and the poll start delay come from the monitor's
own measurement (its summary line, its histograms) and are checked
against two other views: the CSV rows, and the times at which the
simulator received each chamber's commands.

Exit status 0 when every poll of every run was answered and every CSV
ends in a whole row; 1 when not; 2 for bad arguments. The goals (CPU,
memory, percentiles) are reported, never turned into the exit status:
--smoke is the short correctness run that ctest makes.
"""
import argparse
import csv
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TICK = os.sysconf("SC_CLK_TCK")
GOALS = {"cpu": 15.0, "rss": 80.0, "rtt": 20.0, "jitter": 50.0}


def percentile(samples, q):
    if not samples:
        return float("nan")
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, max(0, int(q * len(ordered) + 0.999999) - 1))]


def fleet_addresses(first, count):
    """The addresses of a quenta-sim fleet from first: .0 and .255 skipped."""
    a, b, c, d = (int(x) for x in first.split("."))
    n = (a << 24) | (b << 16) | (c << 8) | d
    out = []
    while len(out) < count:
        if n & 0xFF not in (0, 255):
            out.append("%d.%d.%d.%d" % (n >> 24, (n >> 16) & 255, (n >> 8) & 255, n & 255))
        n += 1
    return out


def cpu_seconds(pid):
    """User plus system time of a process, all its threads, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def journal_seconds():
    """Processor time of the kernel's ext4 journal threads (jbd2/...); NaN
    where they cannot be seen (a container's own process namespace)."""
    total = float("nan")
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if f.read().startswith("jbd2/"):
                    total = (0.0 if total != total else total) + cpu_seconds(int(pid))
        except OSError:
            pass
    return total


def memory_mb(pid):
    """(resident now, peak resident) in MB, from /proc/PID/status."""
    status = open("/proc/%d/status" % pid).read()
    kb = {k: int(v) for k, v in re.findall(r"^(VmRSS|VmHWM):\s+(\d+) kB", status, re.M)}
    return kb["VmRSS"] / 1024, kb["VmHWM"] / 1024


def http_get(url):
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(url, timeout=30) as reply:
        return reply.read().decode("utf-8")


def histogram(text, name):
    """Buckets {le: count} of a histogram summed over all its series."""
    buckets = {}
    for le, value in re.findall(r'^%s_bucket\{(?:[^}]*,)?le="([^"]+)"\} (\S+)$' % name, text, re.M):
        bound = float("inf") if le == "+Inf" else float(le)
        buckets[bound] = buckets.get(bound, 0) + float(value)
    return buckets


def counter(text, name):
    return sum(float(v) for v in re.findall(r"^%s(?:\{[^}]*\})? (\S+)$" % name, text, re.M))


def bucket_p99(before, after):
    """The upper bound of the bucket that holds the 99th percentile of what
    a histogram gained between two scrapes, and the share at or below it."""
    grown = sorted((b, after.get(b, 0) - before.get(b, 0)) for b in after)
    total = grown[-1][1] if grown else 0
    for bound, count in grown:
        if total and count >= 0.99 * total:
            return bound * 1000, count / total
    return float("nan"), 0.0


def grid_jitter(times_by_chamber, every):
    """Per chamber, how much later than its earliest-kept grid each poll came
    (times in s): the jitter of the poll starts, as a list of ms."""
    out = []
    for times in times_by_chamber.values():
        times.sort()
        offsets = [t - times[0] - round((t - times[0]) / every) * every for t in times]
        base = min(offsets)
        out.extend((o - base) * 1000 for o in offsets)
    return out


def read_csv(path, wall0, wall1):
    """Whole file?, results by outcome, round trips (ms) and poll times by
    chamber of the results written within [wall0, wall1]."""
    data = open(path, "rb").read()
    outcomes, round_trips, times, seen = {}, [], {}, set()
    for row in csv.DictReader(data.decode("utf-8").splitlines()):
        key = (row["time"], row["chamber"], row["command"])
        if key in seen:
            continue
        seen.add(key)
        outcomes[row["outcome"]] = outcomes.get(row["outcome"], 0) + 1
        wall = time.mktime(time.strptime(row["time"][:19], "%Y-%m-%dT%H:%M:%S")) - time.timezone
        wall += int(row["time"][20:23]) / 1000
        if wall0 <= wall <= wall1:
            if row["round_trip_ms"]:
                round_trips.append(float(row["round_trip_ms"]))
            times.setdefault(row["chamber"], []).append(wall)
    return data.endswith(b"\n"), outcomes, round_trips, times


def sim_arrivals(log, offset0, offset1):
    """Times (s of the day) at which each chamber received a command, from
    the simulator's log between two offsets."""
    times = {}
    with open(log, "rb") as f:
        f.seek(offset0)
        chunk = f.read(offset1 - offset0).decode("latin-1")
    for h, m, s, chamber in re.findall(r"^(\d\d):(\d\d):(\d\d\.\d\d\d) (\S+) \S+ << ", chunk, re.M):
        times.setdefault(chamber, []).append(int(h) * 3600 + int(m) * 60 + float(s))
    for chamber, t in times.items():  # a window across midnight
        times[chamber] = [x + 86400 if x < t[0] - 43200 else x for x in t]
    return times


class Fleet:
    def __init__(self, args, work):
        self.log = os.path.join(work, "sim.log")
        self.process = subprocess.Popen(
            [os.path.join(args.bin, "quenta-sim"), "--verbose", "--chambers", str(args.chambers),
             "--listen", args.listen], stdout=open(self.log, "wb"), stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while "listening" not in open(self.log, errors="replace").read(400):
            if self.process.poll() is not None or time.monotonic() > deadline:
                sys.exit("monitor_bench: quenta-sim did not start")
            time.sleep(0.1)

    def offset(self):
        return os.path.getsize(self.log)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def run_one(args, work, fleet, label, command, metrics_url):
    """Runs one poller through warm-up and window; returns its figures."""
    csv_path = os.path.join(work, label + ".csv")
    err = open(os.path.join(work, label + ".err"), "wb")
    process = subprocess.Popen(command + ["--csv", csv_path], stdout=subprocess.PIPE, stderr=err)
    time.sleep(args.warmup)
    before = metrics_url and http_get(metrics_url)
    cpu0, journal0, sim0, wall0, log0 = (cpu_seconds(process.pid), journal_seconds(),
                                         cpu_seconds(fleet.process.pid), time.time(), fleet.offset())
    scrapes = []
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        time.sleep(min(args.scrape_every, max(0.0, end - time.monotonic())))
        if metrics_url and time.monotonic() < end - 0.5:
            t = time.monotonic()
            size = len(http_get(metrics_url))
            scrapes.append(((time.monotonic() - t) * 1000, size))
    cpu1, journal1, sim1, wall1, log1 = (cpu_seconds(process.pid), journal_seconds(),
                                         cpu_seconds(fleet.process.pid), time.time(), fleet.offset())
    rss, peak = memory_mb(process.pid)
    after = metrics_url and http_get(metrics_url)
    if metrics_url:
        process.send_signal(signal.SIGTERM)
    out = process.communicate(timeout=120)[0].decode()
    err.close()
    whole, outcomes, round_trips, times = read_csv(csv_path, wall0, wall1)
    window = wall1 - wall0
    r = {"label": label, "window_s": window, "cpu_pct": 100 * (cpu1 - cpu0) / window,
         "journal_cpu_pct": 100 * (journal1 - journal0) / window, "sim_cpu_pct": 100 * (sim1 - sim0) / window,
         "rss_mb": rss, "peak_rss_mb": peak, "csv_whole": whole, "outcomes": outcomes,
         "exit": process.returncode,
         "csv_rtt_p99_ms": percentile(round_trips, 0.99), "csv_jitter_p99_ms": percentile(grid_jitter(times, 1.0), 0.99),
         "sim_jitter_p99_ms": percentile(grid_jitter(sim_arrivals(fleet.log, log0, log1), 1.0), 0.99),
         "load": os.getloadavg()}
    if metrics_url:
        summary = open(os.path.join(work, label + ".err")).read()
        m = re.search(r"(\d+) commands, (\d+) answered.*round trip p50 (\S+) ms, p99 (\S+) ms.*"
                      r"poll start delay p50 (\S+) ms, p99 (\S+) ms", summary)
        r.update(polls=int(m.group(1)), answered=int(m.group(2)), rtt_p99_ms=float(m.group(4)),
                 delay_p99_ms=float(m.group(6)),
                 window_polls=counter(after, "quenta_chamber_commands_total") - counter(before, "quenta_chamber_commands_total"),
                 window_answers=counter(after, "quenta_chamber_answers_total") - counter(before, "quenta_chamber_answers_total"),
                 hist_rtt_p99_ms=bucket_p99(histogram(before, "quenta_chamber_round_trip_seconds"),
                                            histogram(after, "quenta_chamber_round_trip_seconds")),
                 hist_delay_p99_ms=bucket_p99(histogram(before, "quenta_monitor_poll_start_delay_seconds"),
                                              histogram(after, "quenta_monitor_poll_start_delay_seconds")),
                 syncs_per_s=(counter(after, "quenta_monitor_csv_syncs_total")
                              - counter(before, "quenta_monitor_csv_syncs_total")) / window,
                 scrape_ms_max=max((s[0] for s in scrapes), default=0),
                 scrape_kb=max((s[1] for s in scrapes), default=0) / 1024)
    else:
        own = json.loads(out.strip().splitlines()[-1])
        r.update(polls=own["polls"], answered=own["answered"], rtt_p99_ms=own["round_trip_p99_ms"],
                 delay_p99_ms=own["start_delay_p99_ms"])
    r["all_answered"] = (r["polls"] == r["answered"] and r["exit"] == 0 and r["csv_whole"]
                         and set(outcomes) == {"answered"} and sum(outcomes.values()) == r["polls"])
    return r


def table(results):
    lines = ["| Poller | CPU of one core | syncs/s | RSS (peak) | polls answered | RTT p99 (own / CSV) "
             "| start delay p99 (own / CSV / simulator) | load average |",
             "|---|---:|---:|---:|---:|---:|---:|---|"]
    for r in results:
        lines.append("| %s | %.1f %% | %s | %.1f MB (%.1f) | %d / %d | %.1f / %.1f ms | %.1f / %.0f / %.0f ms | %.2f %.2f %.2f |" % (
            r["label"], r["cpu_pct"], "%.0f" % r["syncs_per_s"] if "syncs_per_s" in r else "",
            r["rss_mb"], r["peak_rss_mb"], r["answered"], r["polls"],
            r["rtt_p99_ms"], r["csv_rtt_p99_ms"], r["delay_p99_ms"], r["csv_jitter_p99_ms"], r["sim_jitter_p99_ms"],
            *r["load"]))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory of quenta-monitor and quenta-sim")
    parser.add_argument("--chambers", type=int, default=1000)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--warmup", type=float, default=5)
    parser.add_argument("--listen", default="127.0.1.1")
    parser.add_argument("--sync-intervals", default="0,1000")
    parser.add_argument("--only", choices=["monitor", "asyncio"])
    parser.add_argument("--scrape-every", type=float, default=5)
    parser.add_argument("--work", help="directory for the CSV files and logs (default: a new one in /var/tmp, "
                        "removed at the end unless --keep)")
    parser.add_argument("--keep", action="store_true", help="keep the CSV files and logs")
    parser.add_argument("--smoke", action="store_true", help="check correctness only, print no goals")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="monitor-bench-", dir="/var/tmp")
    os.makedirs(work, exist_ok=True)
    chambers_file = os.path.join(work, "chambers.txt")
    with open(chambers_file, "w") as f:
        f.writelines("%s chamber-%04d\n" % (a, i + 1) for i, a in enumerate(fleet_addresses(args.listen, args.chambers)))
    print("monitor_bench: %d chambers, %g s measured after %g s, files in %s, load %.2f %.2f %.2f"
          % (args.chambers, args.seconds, args.warmup, work, *os.getloadavg()), flush=True)
    fleet = Fleet(args, work)
    results = []
    try:
        metrics = "%s:9464" % args.listen
        for interval in ([] if args.only == "asyncio" else args.sync_intervals.split(",")):
            command = [os.path.join(args.bin, "quenta-monitor"), "--chambers", chambers_file, "--every", "1",
                       "--metrics", metrics, "--sync-interval", interval]
            results.append(run_one(args, work, fleet, "monitor-sync-%s" % interval, command,
                                   "http://%s/metrics" % metrics))
            print(json.dumps(results[-1]), flush=True)
        if args.only != "monitor":
            command = [sys.executable, os.path.join(HERE, "asyncio_poller.py"), "--chambers", chambers_file,
                       "--every", "1", "--seconds", str(args.warmup + args.seconds + 2)]
            results.append(run_one(args, work, fleet, "asyncio", command, None))
            print(json.dumps(results[-1]), flush=True)
    finally:
        fleet.stop()
        if not args.work and not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(table(results))
    if not args.smoke:
        for r in results:
            met = [name for name, ok in (("CPU", r["cpu_pct"] < GOALS["cpu"]), ("RSS", r["peak_rss_mb"] < GOALS["rss"]),
                                         ("RTT p99", r["rtt_p99_ms"] < GOALS["rtt"]),
                                         ("jitter p99", r["delay_p99_ms"] < GOALS["jitter"])) if not ok]
            print("%s: %s" % (r["label"], "every goal met" if not met else "missed: " + ", ".join(met)))
        mon = [r for r in results if r["label"].startswith("monitor")]
        py = [r for r in results if r["label"] == "asyncio"]
        for r in mon:
            for p in py:
                print("asyncio / %s: CPU %.1fx, peak RSS %.1fx" % (r["label"], p["cpu_pct"] / max(r["cpu_pct"], 0.01),
                                                                  p["peak_rss_mb"] / r["peak_rss_mb"]))
    lost = [r["label"] for r in results if not r["all_answered"]]
    if lost:
        print("monitor_bench: polls lost or CSV torn in: " + ", ".join(lost))
        return 1
    print("monitor_bench: every poll answered, every CSV whole")
    return 0


if __name__ == "__main__":
    sys.exit(main())
