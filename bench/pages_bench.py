#!/usr/bin/env python3
"""pages_bench.py -- what the pages cost quenta-monitor with a thousand
chambers polled every second (docs/performance.md, "The pages").

    bench/pages_bench.py --bin build/bin [--chambers 1000] [--listen 127.0.80.1]
        [--pages 127.0.81.250:9464] [--seconds 60] [--requests 300]

Starts two simulated fleets of half the chambers each, on the same
addresses from --listen, ports 1080 and 1081, and runs the monitor twice
against them with Aa every second and a CSV file: without --metrics (no
pages, no history) and with it. Each run polls for --seconds; then the
resident set (VmRSS) is read. With the pages, the monitor's processor
time (user and system, all threads) is taken over 10 s with no request,
then over --requests requests one after the other: the cost of one
request is the time beyond the quiet rate, divided by the requests. The
requests: /api/v1/chambers; /api/v1/series of one chamber for the last
30 s (from memory); and for the last hour, which begins before the
monitor did and so is read from the CSV file (all of it, as it is
shorter than an hour).
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def resident_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1000.0
    return float("nan")


def fleet_addresses(first, count):
    a, b, c, d = (int(x) for x in first.split("."))
    n, out = (a << 24) | (b << 16) | (c << 8) | d, []
    while len(out) < count:
        if n & 0xFF not in (0, 255):
            out.append("%d.%d.%d.%d" % (n >> 24, (n >> 16) & 255, (n >> 8) & 255, n & 255))
        n += 1
    return out


def request_cost(pid, url, requests):
    """Seconds of the monitor's processor time per request of url, and the
    bytes of one answer."""
    quiet_from, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(10)
    quiet_rate = (cpu_seconds(pid) - quiet_from) / (time.monotonic() - t0)
    busy_from, t1 = cpu_seconds(pid), time.monotonic()
    for _ in range(requests):
        with urllib.request.urlopen(url) as reply:
            size = len(reply.read())
    busy = cpu_seconds(pid) - busy_from - quiet_rate * (time.monotonic() - t1)
    return busy / requests, size


def run_monitor(args, work, with_pages):
    command = [os.path.join(args.bin, "quenta-monitor"), "--chambers", os.path.join(work, "chambers.txt"),
               "--every", "1", "--commands", "Aa", "--csv", os.path.join(work, "pages-%d.csv" % with_pages)]
    if with_pages:
        command += ["--metrics", args.pages]
    monitor = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(args.seconds)
    figures = {"rss_mb": resident_mb(monitor.pid)}
    if with_pages:
        base = "http://%s" % args.pages
        chamber = "%s:1080" % fleet_addresses(args.listen, 1)[0]
        figures["chambers"] = request_cost(monitor.pid, base + "/api/v1/chambers", args.requests)
        series = base + "/api/v1/series?chamber=" + chamber
        figures["series, memory"] = request_cost(monitor.pid, series + "&from=%d" % (time.time() * 1000 - 30000),
                                                 args.requests)
        figures["series, CSV file"] = request_cost(monitor.pid, series, max(1, args.requests // 10))
        figures["csv_mb"] = os.path.getsize(os.path.join(work, "pages-1.csv")) / 1e6
    monitor.send_signal(signal.SIGTERM)
    monitor.wait(timeout=60)
    return figures


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--bin", required=True)
    p.add_argument("--chambers", type=int, default=1000)
    p.add_argument("--listen", default="127.0.80.1")
    p.add_argument("--pages", default="127.0.81.250:9464")
    p.add_argument("--seconds", type=int, default=60)
    p.add_argument("--requests", type=int, default=300)
    args = p.parse_args()
    half = args.chambers // 2
    addresses = fleet_addresses(args.listen, half)
    with tempfile.TemporaryDirectory(dir="/var/tmp") as work:
        with open(os.path.join(work, "chambers.txt"), "w") as f:
            for port in (1080, 1081):
                f.writelines("%s:%d\n" % (a, port) for a in addresses)
        sim = os.path.join(args.bin, "quenta-sim")
        fleets = [subprocess.Popen([sim, "--chambers", str(half), "--listen", args.listen, "--port", str(port)],
                                   stdin=subprocess.PIPE, stdout=subprocess.DEVNULL) for port in (1080, 1081)]
        time.sleep(2)
        try:
            without = run_monitor(args, work, False)
            with_pages = run_monitor(args, work, True)
        finally:
            for fleet in fleets:
                fleet.terminate()
                fleet.wait()
    print("load average %s" % open("/proc/loadavg").read().split()[:3])
    print("resident without the pages %.1f MB, with them %.1f MB: %.1f MB more" %
          (without["rss_mb"], with_pages["rss_mb"], with_pages["rss_mb"] - without["rss_mb"]))
    for name in ("chambers", "series, memory", "series, CSV file"):
        cost, size = with_pages[name]
        print("/api/v1/%s: %.2f ms of processor time per request (%d bytes): %.2f %% of a core at one a second" %
              (name, cost * 1000, size, cost * 100))
    print("the CSV file: %.0f MB" % with_pages["csv_mb"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
