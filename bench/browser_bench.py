#!/usr/bin/env python3
"""browser_bench.py -- what the monitor's pages cost, in headless Chromium,
with a fleet of simulated chambers: figures for docs/performance.md.

    bench/browser_bench.py --bin build-rel/bin [--chambers 1000] [--seconds 30]
        [--pages 3] [--runs 5] [--listen 127.0.82.1] [--http 127.0.86.2:8080]

Starts quenta-sim --chambers N and quenta-monitor polling all of them every
second (--every 1, its CSV in a temporary folder), then measures:

- the room: its first render, from navigation to the table laid out, as
  the page measures it (data-first-render-ms), in --runs fresh tabs; and
  the script's time to apply each answer (data-update-ms);
- the monitor's processor time (user + system, /proc/PID/stat) over
  --seconds with 0, 1, ... --pages rooms open, each asking once a second
  (their answers counted, to show they did);
- one chamber: a day of 1 s polls of five channels, actual and set
  (864,000 values), generated in the page and drawn by the page's own
  code (window.quentaChamber.show), --runs times; then zooms to an hour and
  pans by half a window, each redrawn from the data the page holds, as the
  page measures them (data-draw-ms and data-prepare-ms, data-redraw-ms).

Prints the figures and the load average before and after; asserts nothing.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
from chromium import Chromium  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")

# A day of 1 s polls, five channels, in the shape of /api/v1/series: each
# channel's set value changes every two hours, its actual value follows it
# with a time constant of ten minutes and some noise (a seeded generator,
# so that every run draws the same curves), one outage, one step's band.
GENERATE = r"""(() => {
  let seed = 1;
  const random = () => ((seed = (seed * 16807) % 2147483647) / 2147483647);
  const n = 86400, t0 = Date.now() - n * 1000, t = new Array(n), channels = {};
  for (let i = 0; i < n; i++) t[i] = t0 + i * 1000;
  for (let c = 0; c < 5; c++) {
    const min = new Array(n), max = new Array(n), set = new Array(n);
    let v = 22, s = 22;
    for (let i = 0; i < n; i++) {
      if (i % 7200 === 0) s = Math.round(200 + 300 * Math.sin(i / 9000 + c)) / 10;
      v += (s - v) / 600 + (random() - 0.5) * 0.2;
      min[i] = max[i] = Math.round(v * 10) / 10;
      set[i] = s;
    }
    channels[c] = {min: min, max: max, set: set};
  }
  window.generatedDay = {chamber: "generated", from: t0, to: t0 + n * 1000, bucket_ms: 1000, source: "generated",
    t: t, channels: channels, outages: [[t0 + 3600e3, t0 + 3900e3]], alarms: [], csv: null,
    steps: [{step: 1, name: "hold", from: t0, to: null, band: {"0": 2}}]};
  return n;
})()"""


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def fleet_addresses(first, count):
    """quenta-sim's fleet addresses from first, .0 and .255 skipped."""
    a, b, c, d = (int(x) for x in first.split("."))
    n, out = (a << 24) | (b << 16) | (c << 8) | d, []
    while len(out) < count:
        if n & 0xFF not in (0, 255):
            out.append("%d.%d.%d.%d" % (n >> 24, (n >> 16) & 255, (n >> 8) & 255, n & 255))
        n += 1
    return out


def median(values):
    return statistics.median(values) if values else float("nan")


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Fleet:
    """The simulated fleet and the monitor polling it every second."""

    def __init__(self, args, work):
        chambers = os.path.join(work, "chambers.txt")
        with open(chambers, "w") as f:
            for k, a in enumerate(fleet_addresses(args.listen, args.chambers)):
                f.write("%s SIM-%04d\n" % (a, k + 1))
        self.sim = subprocess.Popen([os.path.join(args.bin, "quenta-sim"), "--chambers", str(args.chambers),
                                     "--listen", args.listen, "--noise", "0.2"],
                                    stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        self.log = open(os.path.join(work, "monitor.log"), "w")
        self.monitor = subprocess.Popen([os.path.join(args.bin, "quenta-monitor"), "--chambers", chambers,
                                         "--every", "1", "--csv", os.path.join(work, "m.csv"),
                                         "--metrics", args.http], stdout=self.log, stderr=self.log)

    def close(self):
        for p in (self.monitor, self.sim):
            p.terminate()
            p.wait(30)
        self.log.close()


def room_first_render(browser, base, runs):
    firsts, updates = [], []
    for _ in range(runs):
        page = browser.open(base + "/")
        firsts.append(float(page.wait("document.body.dataset.firstRenderMs", timeout=120)))
        page.wait("+document.body.dataset.updates >= 6", timeout=120)
        updates.append(float(page.evaluate("document.body.dataset.updateMs")))
        page.close()
    return firsts, updates


BROWSER_METRICS = ("ScriptDuration", "RecalcStyleDuration", "LayoutDuration", "TaskDuration")


def browser_metrics(page):
    """The renderer's main-thread times so far (s), from the DevTools Performance domain."""
    return {m["name"]: m["value"] for m in page.call("Performance.getMetrics")["metrics"] if m["name"] in BROWSER_METRICS}


def monitor_cpu(fleet, browser, base, pages, seconds):
    """The monitor's CPU share of one core with 0..pages rooms open, the
    answers the open rooms applied meanwhile, and what the first room's
    renderer spent on each (ms)."""
    rows, open_pages = [], []
    for k in range(pages + 1):
        if k:
            page = browser.open(base + "/", window=True)  # each visible, so each keeps asking
            page.wait("document.body.dataset.state === 'shown'", timeout=120)
            page.call("Performance.enable")
            open_pages.append(page)
        time.sleep(2)
        counts = [int(p.evaluate("document.body.dataset.updates")) for p in open_pages]
        m0 = browser_metrics(open_pages[0]) if open_pages else {}
        c0, t0 = cpu_seconds(fleet.monitor.pid), time.monotonic()
        time.sleep(seconds)
        c1, t1 = cpu_seconds(fleet.monitor.pid), time.monotonic()
        applied = [int(p.evaluate("document.body.dataset.updates")) - c for p, c in zip(open_pages, counts)]
        m1 = browser_metrics(open_pages[0]) if open_pages else {}
        renderer = {k[:-8]: 1000 * (m1[k] - m0[k]) / applied[0] for k in m0} if applied else {}
        rows.append((k, 100 * (c1 - c0) / (t1 - t0), applied, renderer))
    for p in open_pages:
        p.close()
    return rows


def day_of_polls(browser, base, name, runs):
    page = browser.open(base + "/chamber?name=" + name)
    page.wait("document.body.dataset.state === 'shown'", timeout=120)
    page.evaluate(GENERATE)
    draws, zooms, pans = [], [], []
    for _ in range(runs):
        page.evaluate("quentaChamber.show(window.generatedDay), 0")
        d = page.evaluate("({...document.body.dataset})")
        draws.append((float(d["prepareMs"]), float(d["drawMs"]), int(d["points"]), int(d["plotted"])))
        for h in range(0, 20, 4):
            page.evaluate("quentaChamber.zoom(generatedDay.from + %d * 3600e3, generatedDay.from + %d * 3600e3)" % (h, h + 1))
            zooms.append(float(page.evaluate("document.body.dataset.redrawMs")))
            page.evaluate("quentaChamber.pan(0.5)")
            pans.append(float(page.evaluate("document.body.dataset.redrawMs")))
    page.screenshot(os.path.join(tempfile.gettempdir(), "browser_bench_day.png"), full=True)
    page.close()
    return draws, zooms, pans


def report(firsts, updates, cpu, draws, zooms, pans, args):
    print("room, %d chambers: first render median %.0f ms (runs: %s); applying an answer median %.1f ms (%s)"
          % (args.chambers, median(firsts), ", ".join("%.0f" % f for f in firsts), median(updates),
             ", ".join("%.1f" % u for u in updates)))
    base = cpu[0][1]
    for k, share, applied, renderer in cpu:
        per_page = (share - base) / k if k else 0.0
        print("monitor CPU with %d rooms open: %.2f %% of a core (%+.2f %% a room); answers applied: %s%s"
              % (k, share, per_page, applied, "; the first room's renderer per answer: " +
                 ", ".join("%s %.1f ms" % kv for kv in renderer.items()) if renderer else ""))
    totals = [p + d for p, d, _, _ in draws]
    print("a day of 1 s polls, %d values drawn as %d points: median %.1f ms (prepare %.1f, uPlot %.1f); runs: %s"
          % (draws[0][2], draws[0][3], median(totals), median([p for p, _, _, _ in draws]),
             median([d for _, d, _, _ in draws]), ", ".join("%.1f" % t for t in totals)))
    print("zoom to an hour of it: median %.1f ms, max %.1f ms (%d); pan by half: median %.1f ms, max %.1f ms (%d)"
          % (median(zooms), max(zooms), len(zooms), median(pans), max(pans), len(pans)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--chambers", type=int, default=1000)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--pages", type=int, default=3)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--listen", default="127.0.82.1")
    parser.add_argument("--http", default="127.0.86.2:8080")
    args = parser.parse_args()
    base = "http://" + args.http
    print("load average before: " + loadavg())
    with tempfile.TemporaryDirectory() as work:
        fleet = Fleet(args, work)
        try:
            with Chromium() as browser:
                browser.open("about:blank").close()  # the browser's own start is not the page's
                time.sleep(5)  # the fleet connected, the first polls answered
                firsts, updates = room_first_render(browser, base, args.runs)
                cpu = monitor_cpu(fleet, browser, base, args.pages, args.seconds)
                draws, zooms, pans = day_of_polls(browser, base, "SIM-0001", args.runs)
        finally:
            fleet.close()
    report(firsts, updates, cpu, draws, zooms, pans, args)
    print("load average after: " + loadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
