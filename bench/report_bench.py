#!/usr/bin/env python3
"""report_bench.py -- how long "quenta-monitor report" takes on the record
of a long run: writes a run's files as a 1,000-hour run would have left
them (one chamber polled with Aa and S every 10 s, the rows in the run
layout of monitor/rows.h, a journal with the step, alarm and end records,
the profile), then times the report of it.

    bench/report_bench.py --bin build/bin [--hours 1000] [--every 10]
                          [--work DIR] [--keep] [--runs 3] [--cold]

The values follow a ramp to 85 degrees and a damp-heat hold with noise, a
door opened for 10 minutes every 50 hours (out of band) and one poll in
5,000 not answered, so that every figure of the report has work to do.
Prints the file's size and rows, each run's wall and processor time and
peak resident set, and the load average before and after. With --cold
the CSV file's pages are dropped from the page cache before each run
(posix_fadvise DONTNEED: that file only), so that it is read from the
disk. Nothing but files is touched: no chamber, no network.
"""
import argparse
import hashlib
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

CHAMBER = "127.0.0.1:1080"
PROFILE = """name = "bench: 1,000 hours of damp heat"
poll = "10s"
[[step]]
name = "start"
digital = { start = true }
[[step]]
name = "heat"
ramp = { temperature = 85.0, humidity = 85.0 }
rate = 1.0
band = { temperature = 1.0, humidity = 3.0 }
[[step]]
name = "damp heat"
hold = "1000h"
band = { temperature = 2.0, humidity = 3.0 }
[[step]]
name = "cool"
set = { temperature = 25.0, humidity = 50.0 }
"""


def iso(ms):
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(ms // 1000)) + ".%03dZ" % (ms % 1000)


def field(v):
    return "%05.1f" % v if v >= 0 else "-%04.1f" % -v


def values(k, polls):
    """The actual and set values of temperature and humidity at poll k."""
    ramp = min(k, 360)
    temp_set, hum_set = 25 + ramp / 6, 50 + ramp * 35 / 360
    if k >= polls - 30:
        temp_set, hum_set = 25.0, 50.0
    noise = ((k * 7919) % 13 - 6) / 20
    door = k > 400 and k % 18000 < 60
    return (temp_set - (6 if door else 0) + noise, temp_set, hum_set + noise * 2 - (10 if door else 0), hum_set)


def num(v):
    """A number as the monitor writes it: "25", "25.3"."""
    text = repr(float(v))
    return text[:-2] if text.endswith(".0") else text


LABELS = ["start", "heat", "damp heat", "cool"]


def step_of(k, polls):
    return 1 if k == 0 else 2 if k <= 360 else 3 if k < polls - 30 else 4


def write_run(work, hours, every, run):
    polls = int(hours * 3600 / every)
    start = 1796752800000
    tail = "," + run + ","
    journal = [{"e": "run", "id": run, "profile": "bench.toml", "scale": 1, "t": 0, "wall": start,
                "sha256": hashlib.sha256(PROFILE.encode()).hexdigest()}]
    with open(os.path.join(work, "bench.csv"), "w", newline="\n") as out:
        out.write("time,chamber,address,command,outcome,round_trip_ms,answer,"
                  "value_name,value_channel,value_number,value_text,run,step\n")
        step = 0
        for k in range(polls):
            wall = start + k * every * 1000 + (k * 37) % 11
            if step_of(k, polls) != step:
                step = step_of(k, polls)
                journal.append({"e": "step", "chamber": CHAMBER, "step": step - 1, "label": LABELS[step - 1], "t": wall - start, "wall": wall})
            t, st = iso(wall), str(step)
            if k % 18000 == 430:
                journal.append({"e": "alarm", "chamber": CHAMBER, "alarm": "out_of_band", "raised": True, "text": "out of band",
                                "step": step - 1, "wall": wall})
            if k % 5000 == 4999:
                out.write("%s,%s,%s,Aa,timeout,,,,,,%s%s\n%s,%s,%s,S,skipped,,,,,,%s%s\n" % (t, CHAMBER, CHAMBER, tail, st, t, CHAMBER, CHAMBER, tail, st))
                continue
            ta, ts, ha, hs = values(k, polls)
            pairs = [(ta, ts), (ha, hs), (0.1, 0), (0.2, 0), (-0.1, 0)]
            answer = " ".join("A%d %s %s" % (c, field(a), field(s)) for c, (a, s) in enumerate(pairs))
            head = "%s,%s,%s,Aa,answered,0.214,%s," % (t, CHAMBER, CHAMBER, answer)
            rows = []
            for c, (a, s) in enumerate(pairs):
                rows.append("%sactual,%d,%s,%s%s\n%sset,%d,%s,%s%s\n" % (head, c, num(field(a)), tail, st, head, c, num(field(s)), tail, st))
            head = "%s,%s,%s,S,answered,0.135,S101100000," % (t, CHAMBER, CHAMBER)
            for name, v in (("start", 1), ("error", 0), ("temperature_control", 1), ("humidity_control", 1), ("add_function_1", 0),
                            ("add_function_2", 0), ("add_function_3", 0), ("add_function_4", 0), ("error_number", 0)):
                rows.append("%s%s,,%d,%s%s\n" % (head, name, v, tail, st))
            out.write("".join(rows))
    journal.append({"e": "end", "chamber": CHAMBER, "status": "completed", "why": "every step done", "wall": start + polls * every * 1000})
    with open(os.path.join(work, "bench.csv.journal"), "w") as out:
        out.write("".join(json.dumps(r) + "\n" for r in journal))
    with open(os.path.join(work, "bench.toml"), "w") as out:
        out.write(PROFILE)


def drop_cached(path):
    fd = os.open(path, os.O_RDONLY)
    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    os.close(fd)


def time_report(binary, work, run):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    began = time.monotonic()
    done = subprocess.run([binary, "report", "bench.csv", "--run", run, "--out", "bench.html"], cwd=work)
    wall = time.monotonic() - began
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.exit("report ended with %d" % done.returncode)
    return wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime, after.ru_maxrss / 1024


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--bin", required=True)
    p.add_argument("--hours", type=float, default=1000)
    p.add_argument("--every", type=float, default=10)
    p.add_argument("--work")
    p.add_argument("--keep", action="store_true")
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--cold", action="store_true")
    a = p.parse_args()
    work = a.work or tempfile.mkdtemp(prefix="report-bench-")
    os.makedirs(work, exist_ok=True)
    run = "bench-20261208T000000Z"
    began = time.monotonic()
    if not os.path.exists(os.path.join(work, "bench.csv.journal")):
        write_run(work, a.hours, a.every, run)
    size = os.path.getsize(os.path.join(work, "bench.csv"))
    print("run files in %s written in %.0f s: %.0f MB of CSV" % (work, time.monotonic() - began, size / 1e6))
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    for k in range(a.runs):
        if a.cold:
            drop_cached(os.path.join(work, "bench.csv"))
        wall, cpu, rss = time_report(os.path.abspath(os.path.join(a.bin, "quenta-monitor")), work, run)
        print("report %d: %.2f s wall, %.2f s processor, %.0f MiB peak resident, %.1f MB/s; HTML %.0f kB"
              % (k + 1, wall, cpu, rss, size / 1e6 / wall, os.path.getsize(os.path.join(work, "bench.html")) / 1e3))
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    if not a.keep and not a.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
