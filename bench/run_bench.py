#!/usr/bin/env python3
"""run_bench.py -- the figures of test runs (quenta-monitor run) against
simulated fleets: a room of chambers run at once, the guaranteed soak, the
judge of stability, and resuming after kill -9.

    bench/run_bench.py --bin build/bin [--quick] [--only room,soak,stable,resume]
        [--chambers 1000] [--kills 10] [--seed 1] [--work DIR] [--keep]

room    One `quenta-monitor run` drives a 20-step profile (ramps by the
        chamber, sets, holds with bands, waits for stability, digital
        channels; steps of seconds to a minute) on a fleet of simulated
        chambers (quenta-sim --verbose from 127.0.70.1), each polled every
        second, in real time. A step change is due when the runner decided
        it: the wall time of the journal's "step" record. It is written when
        the simulator received the step's commands (its log, same clock):
        the first of them, and the last, when the whole change is in the
        chamber. The runner's CPU time and peak resident set come from /proc
        over the run, and from its resource usage at its exit.
soak    The simulator with noise and limited heating and cooling, the door
        of some chambers opened a while in each hold. The time each chamber
        spent inside the band in each hold is computed again from the run's
        CSV rows alone, in exact tenths, and compared with the hold.
stable  Traces (noisy approaches with overshoot, flat noisy ones, some with
        unanswered polls, and those the soak run recorded) replayed through
        monitor::StableWindow (bench/stable_replay) and through a brute-force
        reference here, in exact tenths, sample by sample; and the soak run's
        wait_stable steps judged again by the reference from its CSV rows.
resume  kill -9 at random moments of a run at --speed 600 and --time-scale
        600, each followed by the same command; then every step of every
        chamber must be in the journal once, the run completed, and each
        hold served to within a poll (as the journal's "hold" records say).

Exit status 0 when every check of correctness held (every run completed,
each hold within a poll of its length, no false "stable", every step
once); 1 when not; 2 for bad arguments. The goals of the room (latency,
CPU, memory) are reported, never turned into the exit status.
"""
import argparse
import bisect
import calendar
import csv
import json
import math
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.error

sys.dont_write_bytecode = True  # leave bench/__pycache__ as it is
from monitor_bench import cpu_seconds, fleet_addresses, http_get, memory_mb, percentile  # noqa: E402

GOALS = {"latency_s": 1.0, "cpu_pct": 25.0, "rss_mb": 150.0}
ROOM_LISTEN = "127.0.70.1"       # up to 1,000 chambers: to 127.0.73.238
SOAK_LISTEN = "127.0.74.1"       # up to 200: to 127.0.74.200
RESUME_LISTEN = "127.0.74.201"   # up to 40: to 127.0.74.240
METRICS = "127.0.74.250:9464"
SOAK_SCALE = 60
RESUME_SCALE = 600
MIN_POLL_MS = 50                 # the runner polls no faster, whatever the scale
SOAK_DOORS = {2: (3, 12), 5: (4, 6)}  # hold step: every k-th chamber, opened within m run minutes
SOAK_SLACK = 0.05                # polls: the CSV's times are to the millisecond, the runner's later
RESUME_ALIVE_S = 25              # the kills fall within this much of the run's life
WRITE = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d\d\d) (\S+) \S+ << ([aduso]\d+ \S+)$", re.M)


# ---- the profiles -------------------------------------------------------

def toml(poll, steps):
    """A profile polled every poll, from steps given as (key, TOML value) lists."""
    return 'name = "run_bench"\npoll = "%s"\n' % poll + "".join(
        "\n[[step]]\n" + "".join("%s = %s\n" % kv for kv in step) for step in steps)


def ramp(channel, value, rate, band):
    return [("ramp", "{ %s = %.1f }" % (channel, value)), ("rate", str(rate)), ("band", "{ %s = %s }" % (channel, band))]


def hold(duration, band):
    return [("hold", '"%s"' % duration), ("band", band)]


def stable(band, window, drift, timeout, after=None):
    step = [("wait_stable", "{ temperature = %s }" % band), ("window", '"%s"' % window), ("drift", str(drift)),
            ("timeout", '"%s"' % timeout)]
    return step + ([("on_timeout", '"goto:%s"' % after)] if after else [])


def digital(what):
    return [("digital", "{ %s }" % what)]


def seconds(text):
    """Seconds of a profile's duration such as "1h30m" or "5.5s"."""
    units = {"d": 86400, "h": 3600, "m": 60, "s": 1}
    return sum(float(n) * units[u] for n, u in re.findall(r"([\d.]+)([dhms])", text))


def room_profile(quick):
    """20 steps of a few seconds to a minute; quick: holds a third as long."""
    s = lambda n: "%ds" % (max(3, n // 3) if quick else n)
    t = "{ temperature = %s }"
    steps = [digital("start = true"), ramp("temperature", 30, 30, 0.5), hold(s(20), t % 1.0),
             ramp("humidity", 60, 60, 1.0), stable(0.5, "5.5s", 0.3, "2m"), ramp("temperature", 35, 60, 0.5),
             hold(s(30), t % 1.0), digital("flag1 = true"), [("set", t % 33.0)], hold(s(10), t % 0.5),
             ramp("humidity", 70, 60, 1.0), hold(s(15), "{ temperature = 1.0, humidity = 2.0 }"),
             ramp("temperature", 25, 30, 0.5), stable(0.5, "5.5s", 0.3, "2m"), digital("flag1 = false"),
             [("set", t % 27.0)], hold(s(45), t % 1.0), ramp("temperature", 23, 60, 0.5), hold(s(10), t % 1.0),
             digital("start = false")]
    return toml("1s", steps)


def soak_profile():
    """Two guaranteed soaks (door opened meanwhile) and a wait for stability."""
    steps = [digital("start = true"), ramp("temperature", 40, 10, 1.0), hold("20m", "{ temperature = 1.0 }"),
             stable(1.0, "95s", 0.7, "20m", "cool") + [("name", '"wait"')],
             ramp("temperature", 30, 10, 1.0) + [("name", '"cool"')],
             hold("10m", "{ temperature = 1.0, humidity = 3.0 }"), digital("start = false")]
    return toml("10s", steps)


def resume_profile():
    """About 5.5 hours of run time: 34 s at 600 times."""
    t = "{ temperature = %s }"
    steps = [digital("start = true"), ramp("temperature", 40, 2, 1.0), hold("1h", t % 1.0), [("set", t % 35.0)],
             hold("30m", t % 1.0), stable(0.5, "10m", 0.3, "1h"), ramp("humidity", 70, 5, 2.0),
             hold("2h", "{ temperature = 1.0, humidity = 2.0 }"), digital("flag1 = true"),
             ramp("temperature", 25, 1, 1.0), hold("1h", t % 1.0), digital("flag1 = false"), hold("30m", t % 0.5)]
    return toml("30s", steps)


def profile_steps(text):
    """The steps of a profile made here, as {key: TOML value} dicts."""
    return [dict(re.findall(r"^(\w+) = (.*)$", part, re.M)) for part in text.split("[[step]]")[1:]]


# ---- processes ----------------------------------------------------------

class Sim:
    """A quenta-sim fleet: its standard output (with --verbose, the log of
    every command) in a file, its control input open."""

    def __init__(self, args, work, name, count, listen, options=()):
        self.log = os.path.join(work, name + "-sim.log")
        self.out = open(self.log, "wb")
        self.process = subprocess.Popen(
            [os.path.join(args.bin, "quenta-sim"), "--chambers", str(count), "--listen", listen, *options],
            stdout=self.out, stdin=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while "listening" not in open(self.log, errors="replace").read(400):
            if self.process.poll() is not None or time.monotonic() > deadline:
                sys.exit("run_bench: quenta-sim did not start (%s)" % self.log)
            time.sleep(0.1)

    def control(self, line):
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.out.close()


class Run:
    """One `quenta-monitor run` command, started again after each kill:
    its CPU time and peak resident set sampled from /proc, its resource
    usage at its exit."""

    def __init__(self, args, work, name, profile, names, options=()):
        chambers = os.path.join(work, name + "-chambers.txt")
        with open(chambers, "w") as f:
            f.writelines("%s %s\n" % (a, n) for n, a in names.items())
        self.csv = os.path.join(work, name + ".csv")
        self.journal = self.csv + ".journal"
        self.command = [os.path.join(args.bin, "quenta-monitor"), "run", profile, "--chambers", chambers,
                        "--csv", self.csv, *options]
        self.err = open(os.path.join(work, name + ".err"), "ab")
        self.samples = []
        self.start()

    def start(self):
        self.started, self.code, self.usage = time.time(), None, None
        self.process = subprocess.Popen(self.command, stdin=subprocess.DEVNULL, stdout=self.err, stderr=self.err)

    def sample(self):
        """Keeps (wall, CPU seconds, VmHWM in MB) of now, while it runs."""
        try:
            self.samples.append((time.time(), cpu_seconds(self.process.pid), memory_mb(self.process.pid)[1]))
        except (OSError, KeyError):  # ended: a zombie has no VmRSS
            pass

    def ended(self, block=False):
        """True once the process ended; reaps it with its resource usage."""
        if self.code is not None:
            return True
        pid, status, usage = os.wait4(self.process.pid, 0 if block else os.WNOHANG)
        if pid == 0:
            return False
        self.code = self.process.returncode = os.waitstatus_to_exitcode(status)
        self.usage, self.exited = usage, time.time()
        return True

    def wait(self, seconds):
        """Waits seconds or until the process ends; True if it ended."""
        end = time.monotonic() + seconds
        while not self.ended() and time.monotonic() < end:
            time.sleep(min(0.02, max(0.0, end - time.monotonic())))
        return self.ended()

    def kill(self):
        os.kill(self.process.pid, signal.SIGKILL)
        self.ended(block=True)


class Tail:
    """The new whole lines of a growing file, at each call."""

    def __init__(self, path):
        self.path, self.offset, self.rest = path, 0, b""

    def lines(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                chunk = f.read()
        except FileNotFoundError:
            return []
        self.offset += len(chunk)
        *whole, self.rest = (self.rest + chunk).split(b"\n")
        return whole


def read_journal(path, kinds):
    """The journal's records of the kinds given, oldest first."""
    wanted = [b'"e":"%s"' % k.encode() for k in kinds]
    with open(path, "rb") as f:
        return [json.loads(line) for line in f if line.endswith(b"\n") and any(w in line for w in wanted)]


def chamber_names(first, count):
    """{"c0001": address, ...} for a fleet from first."""
    return {"c%04d" % (i + 1): a for i, a in enumerate(fleet_addresses(first, count))}


def write_file(path, text):
    with open(path, "w") as f:
        f.write(text)
    return path


# ---- room: 1,000 chambers at once --------------------------------------

def sim_writes(log, anchor):
    """The writes each chamber received, {address: [(epoch s, command)]},
    from the simulator's log (local time of day, the day of anchor)."""
    midnight = time.mktime(time.localtime(anchor)[:3] + (0, 0, 0, 0, 0, -1))
    out = {}
    with open(log, "rb") as f:
        text = f.read().decode("latin-1")
    for h, m, s, address, command in WRITE.findall(text):
        t = midnight + int(h) * 3600 + int(m) * 60 + float(s)
        out.setdefault(address, []).append((t + 86400 if t < anchor - 3600 else t, command))
    return out


def step_changes(records, received, names):
    """For each step entered that writes: seconds from its due time (the
    "step" record) to its first command received, to its last, and to the
    first "write" record, and its number of commands; and how many changes
    never reached the chamber."""
    entered, journaled = {}, {}
    for r in records:
        if r["e"] == "step":
            entered.setdefault(r["chamber"], []).append((r["wall"] / 1000, r["step"]))
        elif r["e"] == "write":
            journaled.setdefault((r["chamber"], r["step"]), []).append((r["wall"] / 1000, r["command"]))
    out, missing = [], 0
    for chamber, steps in entered.items():
        got = received.get(names[chamber], [])
        times = [t for t, _ in got]
        for k, (due, step) in enumerate(steps):
            writes = journaled.get((chamber, step))
            if not writes:
                continue  # a hold or a wait: nothing to write
            until = steps[k + 1][0] if k + 1 < len(steps) else float("inf")
            commands, first = {c for _, c in writes}, {}
            for t, c in got[bisect.bisect_left(times, due - 0.001):]:
                if t >= until:
                    break
                if c in commands:
                    first.setdefault(c, t)
            if len(first) < len(commands):
                missing += 1
                continue
            out.append((min(first.values()) - due, max(first.values()) - due, writes[0][0] - due, len(commands)))
    return out, missing


def watch(run, scrape_url=None, every=15):
    """Samples the run every half second and scrapes its metrics every
    `every` s until it ends; returns the longest scrape in ms."""
    longest, next_scrape = 0.0, time.monotonic() + every
    while not run.ended():
        run.sample()
        if scrape_url and time.monotonic() >= next_scrape:
            t = time.monotonic()
            try:
                http_get(scrape_url)
                longest = max(longest, (time.monotonic() - t) * 1000)
            except (OSError, urllib.error.URLError):
                pass  # the run was ending
            next_scrape += every
        run.wait(0.5)
    return longest


def window_cost(run, start, end):
    """CPU % of one core and VmHWM (MB) over the samples within [start, end]."""
    inside = [s for s in run.samples if start <= s[0] <= end] or run.samples[-2:]
    (t0, c0, _), (t1, c1, hwm) = inside[0], inside[-1]
    return 100 * (c1 - c0) / max(t1 - t0, 1e-9), hwm, t1 - t0


def room(args, work):
    """A room at once: the latency of step changes, CPU and memory."""
    names = chamber_names(ROOM_LISTEN, args.chambers)
    profile = write_file(os.path.join(work, "room.toml"), room_profile(args.quick))
    sim = Sim(args, work, "room", len(names), ROOM_LISTEN, ["--verbose"])
    try:
        run = Run(args, work, "room", profile, names, ["--metrics", METRICS])
        sim_cpu = cpu_seconds(sim.process.pid)
        scrape_ms = watch(run, "http://%s/metrics" % METRICS)
        sim_cpu = cpu_seconds(sim.process.pid) - sim_cpu
    finally:
        sim.stop()
    records = read_journal(run.journal, ("step", "write", "end"))
    changes, missing = step_changes(records, sim_writes(sim.log, run.started), names)
    steps = [r["wall"] / 1000 for r in records if r["e"] == "step"]
    ends = [r for r in records if r["e"] == "end"]
    cpu, hwm, window = window_cost(run, min(steps), max(r["wall"] / 1000 for r in ends))
    usage = run.usage
    return {"chambers": len(names), "exit": run.code, "completed": sum(r["status"] == "completed" for r in ends),
            "changes": len(changes), "missing": missing, "scrape_ms": scrape_ms,
            "sim_cpu_pct": 100 * sim_cpu / (run.exited - run.started),
            "first": [c[0] for c in changes], "last": [c[1] for c in changes], "read_back": [c[2] for c in changes],
            "last_one": [c[1] for c in changes if c[3] == 1], "last_more": [c[1] for c in changes if c[3] > 1],
            "cpu_pct": cpu, "window_s": window, "hwm_mb": hwm, "life_s": run.exited - run.started,
            "life_cpu_pct": 100 * (usage.ru_utime + usage.ru_stime) / (run.exited - run.started),
            "maxrss_mb": usage.ru_maxrss / 1024, "summary_s": run.exited - max(r["wall"] / 1000 for r in ends)}


# ---- soak: the time inside the band, from the CSV file -----------------

def tenths(text):
    return round(float(text) * 10)


def csv_polls(path):
    """From a run's CSV file, per chamber in file order: the polls of Aa
    as [ms, step, {channel: (actual, set)} or None when not answered], and
    the time of the last row of each step, {step: ms}. A row's time is
    when its answer came (sent, and the round trip), as the runner's is."""
    seconds_of = {}
    polls, last = {}, {}
    with open(path, newline="") as f:
        rows = csv.reader(f)
        next(rows)
        key = None
        for time_, chamber, _, command, outcome, trip, _, name, channel, number, _, _, step in rows:
            if outcome == "skipped":
                continue  # not polled: no sample
            if time_[:19] not in seconds_of:
                seconds_of[time_[:19]] = calendar.timegm(time.strptime(time_[:19], "%Y-%m-%dT%H:%M:%S"))
            ms = seconds_of[time_[:19]] * 1000 + int(time_[20:23]) + float(trip or 0)
            step = int(step or 0)
            steps = last.setdefault(chamber, {})
            steps[step] = max(steps.get(step, 0), ms)
            if command != "Aa":
                continue
            if key != (time_, chamber):
                key = (time_, chamber)
                polls.setdefault(chamber, []).append([ms, step, {} if outcome == "answered" else None])
            values = polls[chamber][-1][2]
            if values is not None and name in ("actual", "set") and channel in ("0", "1"):
                pair = values.setdefault(int(channel), [None, None])
                pair[name == "set"] = tenths(number)
    return polls, last


def in_band(values, bands):
    """Answered, and every banded channel within its band of the set value."""
    return values is not None and all(
        values.get(k, [None])[0] is not None and abs(values[k][0] - values[k][1]) <= b for k, b in bands.items())


def step_polls(polls, last, step):
    """The polls of 1-based step, the one before first, timed from the
    step's start (the last row of the step before it)."""
    inside = [p for p in polls if p[1] == step]
    if not inside:
        return None, []
    before = [p for p in polls if p[0] <= inside[0][0] and p[1] < step]
    start = max(last.get(step - 1, inside[0][0]), before[-1][0] if before else 0)
    return start, ([before[-1]] if before else []) + inside


def served(polls, last, step, bands):
    """Real ms inside every band in step: each interval from one poll to
    the next counted as the first was; the step's start as the poll before."""
    start, seq = step_polls(polls, last, step)
    if not seq:
        return 0, [0, 0]
    times = [start] + [p[0] for p in seq[1:]]
    return sum((times[k + 1] - times[k]) for k in range(len(seq) - 1) if in_band(seq[k][2], bands)), times


def band_of(step):
    """{channel: band in tenths} of a profile step."""
    names = {"temperature": 0, "humidity": 1}
    return {names[k]: tenths(v) for k, v in re.findall(r"(\w+) = ([\d.]+)", step.get("band", ""))}


def open_doors(run, sim, names, rng):
    """While the run goes on, opens the door of every k-th chamber a random
    while into each hold of SOAK_DOORS, for one to four run minutes;
    returns {(chamber, step)} of the doors opened."""
    tail, due, opened = Tail(run.journal), [], set()
    while not run.ended():
        for line in tail.lines():
            r = json.loads(line) if b'"e":"step"' in line else {}
            every, latest = SOAK_DOORS.get(r.get("step"), (0, 0))
            if every and int(r["chamber"][1:]) % every == 0:
                at = time.monotonic() + rng.uniform(1, latest) * 60 / SOAK_SCALE
                due += [(at, r["chamber"], r["step"], "open"),
                        (at + rng.uniform(1, 4) * 60 / SOAK_SCALE, r["chamber"], r["step"], "closed")]
        for d in [d for d in due if d[0] <= time.monotonic()]:
            sim.control("door %s %s" % (names[d[1]], d[3]))
            opened.add((d[1], d[2] + 1))
            due.remove(d)
        run.wait(0.05)
    return opened


def soak(args, work):
    """Guaranteed soak: each hold's time inside the band from the CSV file."""
    names = chamber_names(SOAK_LISTEN, args.soak_chambers)
    text = soak_profile()
    profile = write_file(os.path.join(work, "soak.toml"), text)
    sim = Sim(args, work, "soak", len(names), SOAK_LISTEN,
              ["--speed", str(SOAK_SCALE), "--noise", "0.4", "--heat-rate", "4", "--cool-rate", "3", "--seed", str(args.seed)])
    try:
        run = Run(args, work, "soak", profile, names, ["--time-scale", str(SOAK_SCALE)])
        doors = open_doors(run, sim, names, random.Random(args.seed))
    finally:
        sim.stop()
    steps = profile_steps(text)
    poll_ms = max(MIN_POLL_MS, 10000 // SOAK_SCALE) * SOAK_SCALE
    polls, last = csv_polls(run.csv)
    held = {(r["chamber"], r["step"] + 1): r["held"] for r in read_journal(run.journal, ("hold",))}
    diffs, own, stretch = [], [], {True: [], False: []}
    for chamber in names:
        for k, step in enumerate(steps):
            if "hold" not in step:
                continue
            real_ms, times = served(polls.get(chamber, []), last.get(chamber, {}), k + 1, band_of(step))
            hold_ms = seconds(step["hold"]) * 1000
            last_gap = (times[-1] - times[-2]) * SOAK_SCALE / poll_ms
            diffs.append(((real_ms * SOAK_SCALE - hold_ms) / poll_ms, last_gap))
            own.append((held.get((chamber, k + 1), 0) - hold_ms) / poll_ms)
            if not -SOAK_SLACK <= diffs[-1][0] <= max(1, last_gap) + SOAK_SLACK:
                print("run_bench: soak: %s step %d: in band %.2f polls over its hold by the CSV, %.2f by the "
                      "journal, the last poll %.2f polls after the one before" % (chamber, k + 1, diffs[-1][0], own[-1], last_gap))
            stretch[(chamber, k + 1) in doors].append((times[-1] - times[0]) * SOAK_SCALE / hold_ms)
    ends = read_journal(run.journal, ("end",))
    return {"chambers": len(names), "exit": run.code, "completed": sum(r["status"] == "completed" for r in ends),
            "holds": len(diffs), "doors": len(doors), "diffs": diffs, "own": own, "stretch": stretch, "poll_ms": poll_ms,
            "csv": run.csv, "steps": steps, "polls": polls, "last": last}


# ---- stable: StableWindow against a brute-force reference -------------

def reference(samples, band, window, drift):
    """After each sample [(ms, actual, set)], actual None when not
    answered, all in tenths: stable when the answered polls since the
    latest one at or before the window's start are all in band and drift
    no more than drift. Brute force, exact."""
    out = []
    for j, (t, a, _) in enumerate(samples):
        low = high = a
        verdict = False
        for i in range(j, -1, -1) if a is not None else ():
            ti, ai, si = samples[i]
            if ai is None or abs(ai - si) > band:
                break
            low, high = min(low, ai), max(high, ai)
            if high - low > drift:
                break
            if t - ti >= window:
                verdict = True
                break
        out.append(verdict)
    return out


def generated(rng, kind, count=1800):
    """A trace of kind "overshoot", "flat" or "misses" polled every 1 s
    (+-30 ms), in tenths, set value 40.0."""
    samples, t = [], 0
    tau, period, noise = rng.uniform(60, 180), rng.uniform(200, 400), rng.uniform(0.5, 3)
    offset = rng.uniform(-3, 3)
    for k in range(count):
        t = k * 1000 + rng.randint(-30, 30)
        if kind == "overshoot":
            x = 400 - 150 * math.exp(-k / tau) * math.cos(2 * math.pi * k / period)
        else:
            x = 400 + offset + (rng.uniform(5, 15) if rng.random() < 0.005 else 0)
        miss = kind == "misses" and rng.random() < 0.01
        samples.append((t, None if miss else round(x + rng.uniform(-noise, noise)), 400))
    return samples


def replay(args, traces, band, window, drift):
    """StableWindow's verdicts on traces (each [(ms, actual, set)] in tenths)."""
    lines = []
    for samples in traces:
        lines.append("new")
        lines += ["%d -" % t if a is None else "%d %.1f %.1f" % (t, a / 10, s / 10) for t, a, s in samples]
    done = subprocess.run([os.path.join(args.bin, "stable_replay"), "%.1f" % (band / 10), str(window), "%.1f" % (drift / 10)],
                          input="\n".join(lines) + "\n", capture_output=True, text=True, check=True)
    verdicts = [v == "1" for v in done.stdout.split()]
    out = []
    for samples in traces:
        out.append(verdicts[:len(samples)])
        verdicts = verdicts[len(samples):]
    return out


def compare(ref, got):
    """(false "stable" samples, onsets of the reference's stability, the
    delays in polls from each onset to StableWindow's "stable", onsets it
    never followed)."""
    false = sum(g and not r for r, g in zip(ref, got))
    onsets, delays, missed = 0, [], 0
    for j in range(len(ref)):
        if not ref[j] or (j > 0 and ref[j - 1]):
            continue
        onsets += 1
        k = j
        while k < len(ref) and ref[k] and not got[k]:
            k += 1
        if k < len(ref) and got[k] and ref[k]:
            delays.append(k - j)
        else:
            missed += 1
    return false, onsets, delays, missed


def temperature(poll):
    """(actual, set) of channel 0 in a poll, (None, None) when not answered."""
    return tuple(poll[2][0]) if poll[2] and 0 in poll[2] else (None, None)


def recorded(soaked):
    """The soak run's temperature traces, in run ms and tenths."""
    return [[((p[0] - polls[0][0]) * SOAK_SCALE, *temperature(p)) for p in polls] for polls in soaked["polls"].values()]


def run_waits(soaked):
    """The soak run's wait_stable steps judged again from its CSV rows: for
    each, the reference's first stable poll against the poll that ended
    the step. Returns (false stable, delays in polls, missed)."""
    k = next(i for i, s in enumerate(soaked["steps"]) if "wait_stable" in s)
    step = soaked["steps"][k]
    band, drift, window = tenths(re.search(r"= ([\d.]+)", step["wait_stable"]).group(1)), tenths(step["drift"]), \
        seconds(step["window"]) * 1000
    timeout = seconds(step["timeout"]) * 1000
    false, delays, missed = 0, [], 0
    for chamber, polls in soaked["polls"].items():
        start, seq = step_polls(polls, soaked["last"][chamber], k + 1)
        samples = [((start if n == 0 else p[0]) * SOAK_SCALE, *temperature(p)) for n, p in enumerate(seq)]
        ref = reference(samples, band, window, drift)
        first = ref.index(True) if True in ref else None
        if samples[-1][0] - samples[0][0] >= timeout - 1000:  # ended by its timeout
            missed += first is not None
        elif first is None:
            false += 1
        else:
            delays.append(len(ref) - 1 - first)
    return false, delays, missed


def stability(args, soaked):
    """Replays the traces; returns {kind: (samples, false, onsets, delays, missed)}."""
    rng = random.Random(args.seed)
    count = 10 if args.quick else 30
    out = {}
    for kind in ("overshoot", "flat", "misses"):
        traces = [generated(rng, kind) for _ in range(count)]
        out[kind] = judge(args, traces, 5, 60000, 3 if kind == "overshoot" else 5)
    if soaked:
        out["recorded"] = judge(args, recorded(soaked), 10, 95000, 7)
        out["run"] = run_waits(soaked)
    return out


def judge(args, traces, band, window, drift):
    total = [0, 0, 0, [], 0]
    for samples, got in zip(traces, replay(args, traces, band, window, drift)):
        false, onsets, delays, missed = compare(reference(samples, band, window, drift), got)
        total = [total[0] + len(samples), total[1] + false, total[2] + onsets, total[3] + delays, total[4] + missed]
    return total


# ---- resume: kill -9 and the same command -----------------------------

def resume(args, work):
    """Kills the run at random moments, restarts it, checks the journal."""
    names = chamber_names(RESUME_LISTEN, args.resume_chambers)
    text = resume_profile()
    profile = write_file(os.path.join(work, "resume.toml"), text)
    sim = Sim(args, work, "resume", len(names), RESUME_LISTEN, ["--speed", str(RESUME_SCALE)])
    rng = random.Random(args.seed)
    moments = sorted(rng.uniform(0, RESUME_ALIVE_S) for _ in range(args.kills))
    kills, started = [], time.time()
    try:
        run = Run(args, work, "resume", profile, names, ["--time-scale", str(RESUME_SCALE)])
        for k, moment in enumerate(moments):
            if run.wait(moment - (moments[k - 1] if k else 0)) or ended_everywhere(run.journal, len(names)):
                break
            run.kill()
            if run.code != -signal.SIGKILL:
                break  # it had ended by itself
            kills.append(time.time() - started)
            run.start()
        run.ended(block=True)
    finally:
        sim.stop()
    checked = check_journal(read_journal(run.journal, ("step", "hold", "outage", "end")), profile_steps(text), names)
    return dict(checked, kills=len(kills), exit=run.code, chambers=len(names), seconds=time.time() - started)


def ended_everywhere(journal, count):
    return os.path.exists(journal) and len(read_journal(journal, ("end",))) >= count


def check_journal(records, steps, names):
    """Each step once per chamber, every run completed, each hold's "held"
    at its end against its length, within the last interval it added (a
    poll of the run, or longer where the journal shows a longer gap)."""
    poll_ms = max(MIN_POLL_MS, 30000 // RESUME_SCALE) * RESUME_SCALE
    entered = {n: [] for n in names}
    holds, outages, status = {}, {n: 0 for n in names}, {}
    for r in records:
        if r["e"] == "step":
            entered[r["chamber"]].append(r["step"])
        elif r["e"] == "hold":
            holds.setdefault((r["chamber"], r["step"]), []).append((r["t"], r["held"]))
        elif r["e"] == "outage":
            outages[r["chamber"]] += 1
        else:
            status[r["chamber"]] = r["status"]
    diffs, wide, bad = [], 0, 0
    for (chamber, step), seen in holds.items():
        (t0, _), (t1, held) = seen[-2] if len(seen) > 1 else seen[-1], seen[-1]
        excess = held - seconds(steps[step]["hold"]) * 1000
        diffs.append(excess / poll_ms)
        wide += t1 - t0 > poll_ms * 1.5
        bad += not 0 <= excess <= max(poll_ms, t1 - t0)
    return {"steps_once": sum(sorted(e) == list(range(len(steps))) for e in entered.values()),
            "completed": sum(s == "completed" for s in status.values()), "holds": len(diffs), "diffs": diffs,
            "holds_bad": bad, "wide": wide, "outages": sorted(outages.values())}


# ---- the report ---------------------------------------------------------

def ms(values, q):
    return "%.0f" % (1000 * percentile(values, q)) if values else "-"


def room_rows(r):
    ok = lambda v, goal: "met" if v < goal else "missed"
    worst = percentile(r["last"], 0.99) if r["last"] else float("inf")
    return [
        ("room", "chambers completed / run's exit", "%d of %d / %s" % (r["completed"], r["chambers"], r["exit"]), "all / 0",
         "met" if r["completed"] == r["chambers"] and r["exit"] == 0 else "missed"),
        ("room", "step changes measured (never received)", "%d (%d)" % (r["changes"], r["missing"]), "", ""),
        ("room", "due to first command received, p50 / p99 / max ms",
         "%s / %s / %s" % (ms(r["first"], 0.5), ms(r["first"], 0.99), ms(r["first"], 1)), "", ""),
        ("room", "due to whole change received, one write (set, digital), p50 / p99 / max ms",
         "%s / %s / %s" % (ms(r["last_one"], 0.5), ms(r["last_one"], 0.99), ms(r["last_one"], 1)), "", ""),
        ("room", "due to whole change received, three writes (ramp), p50 / p99 / max ms",
         "%s / %s / %s" % (ms(r["last_more"], 0.5), ms(r["last_more"], 0.99), ms(r["last_more"], 1)), "", ""),
        ("room", "due to whole change received, all, p99 / max ms", "%s / %s" % (ms(r["last"], 0.99), ms(r["last"], 1)),
         "p99 < 1000 ms", ok(worst, GOALS["latency_s"]) if not r["missing"] else "missed"),
        ("room", "due to first write read back (journal), p50 / p99 ms",
         "%s / %s" % (ms(r["read_back"], 0.5), ms(r["read_back"], 0.99)), "", ""),
        ("room", "CPU of one core, during the run (%.0f s)" % r["window_s"], "%.1f %%" % r["cpu_pct"], "< 25 %",
         ok(r["cpu_pct"], GOALS["cpu_pct"])),
        ("room", "CPU of one core, whole process (%.0f s, summary %.1f s)" % (r["life_s"], r["summary_s"]),
         "%.1f %%" % r["life_cpu_pct"], "", ""),
        ("room", "peak resident, during the run / whole process", "%.1f / %.1f MB" % (r["hwm_mb"], r["maxrss_mb"]),
         "< 150 MB", ok(max(r["hwm_mb"], r["maxrss_mb"]), GOALS["rss_mb"])),
        ("room", "longest metrics scrape (every 15 s); simulator's CPU", "%.0f ms; %.1f %%" % (r["scrape_ms"], r["sim_cpu_pct"]),
         "", ""),
    ]


def soak_rows(r):
    worst = max((d for d, _ in r["diffs"]), default=float("nan"))
    least = min((d for d, _ in r["diffs"]), default=float("nan"))
    off = sum(not -SOAK_SLACK <= d <= max(1, gap) + SOAK_SLACK for d, gap in r["diffs"])
    spread = lambda v: "%.2f to %.2f" % (min(v), max(v)) if v else "-"
    return [
        ("soak", "chambers completed / run's exit", "%d of %d / %s" % (r["completed"], r["chambers"], r["exit"]), "all / 0",
         "met" if r["completed"] == r["chambers"] and r["exit"] == 0 else "missed"),
        ("soak", "holds; doors opened in them", "%d; %d" % (r["holds"], r["doors"]), "", ""),
        ("soak", "hold's length, door opened / not (times the hold)",
         "%s / %s" % (spread(r["stretch"][True]), spread(r["stretch"][False])), "", ""),
        ("soak", "time in band (CSV) - hold: most, least (polls of %.2f s); last poll late; off" % (r["poll_ms"] / 1000),
         "%.2f, %.2f; %d; %d of %d" % (worst, least, sum(gap > 1.05 for _, gap in r["diffs"]), off, len(r["diffs"])),
         "0 to 1 (or the last poll's gap); 0", "met" if not off else "missed"),
        ("soak", "the runner's own held - hold (journal): most, least (polls)",
         "%.2f, %.2f" % (max(r["own"], default=float("nan")), min(r["own"], default=float("nan"))), "", ""),
    ]


def stable_rows(s):
    rows = []
    for kind, figures in s.items():
        if kind == "run":
            continue
        samples, false, onsets, delays, missed = figures
        rows.append(("stable", "%s: samples, onsets; false stable; delay max (polls); never" % kind,
                     "%d, %d; %d; %s; %d" % (samples, onsets, false, max(delays, default=0), missed),
                     "0; <= 1; 0", "met" if not false and max(delays, default=0) <= 1 and not missed else "missed"))
    if "run" in s:
        false, delays, missed = s["run"]
        rows.append(("stable", "soak run's wait_stable steps: ended early; delay max (polls); missed",
                     "%d; %s; %d of %d" % (false, max(delays, default=0), missed, len(delays) + false + missed),
                     "0; <= 1; 0", "met" if not false and max(delays, default=0) <= 1 and not missed else "missed"))
    return rows


def resume_rows(r):
    worst = max(r["diffs"], default=float("nan"))
    return [
        ("resume", "kill -9 / outages journaled per chamber", "%d / %d to %d" % (r["kills"], r["outages"][0], r["outages"][-1]),
         "10", "met" if r["kills"] >= 10 else "fewer"),
        ("resume", "chambers completed / each step once / last exit",
         "%d, %d of %d / %s" % (r["completed"], r["steps_once"], r["chambers"], r["exit"]), "all / 0",
         "met" if r["completed"] == r["steps_once"] == r["chambers"] and r["exit"] == 0 else "missed"),
        ("resume", "held - hold at its end: worst, least (polls of 30 s); off",
         "%.2f, %.2f; %d of %d" % (worst, min(r["diffs"], default=float("nan")), r["holds_bad"], r["holds"]),
         "0 to 1; 0", "met" if not r["holds_bad"] else "missed"),
    ]


def table(rows):
    lines = ["| Part | Figure | Measured | Goal | Result |", "|---|---|---:|---|---|"]
    return "\n".join(lines + ["| %s |" % " | ".join(str(c) for c in row) for row in rows])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory of quenta-monitor, quenta-sim and stable_replay")
    parser.add_argument("--quick", action="store_true", help="200 chambers, shorter holds, fewer of everything")
    parser.add_argument("--only", default="room,soak,stable,resume", help="parts to run, comma-separated")
    parser.add_argument("--chambers", type=int, help="chambers of the room (default 1000, quick 200)")
    parser.add_argument("--kills", type=int, default=10)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--work", help="directory for the files (default: a new one in /var/tmp, "
                        "removed at the end unless --keep)")
    parser.add_argument("--keep", action="store_true", help="keep the CSV files, journals and logs")
    args = parser.parse_args()
    parts = args.only.split(",")
    if not set(parts) <= {"room", "soak", "stable", "resume"} or not 1 <= (args.chambers or 1) <= 1000:
        parser.error("--only takes room, soak, stable, resume; --chambers 1 to 1000")
    args.chambers = args.chambers or (200 if args.quick else 1000)
    args.soak_chambers, args.resume_chambers = (50, 10) if args.quick else (200, 40)
    work = args.work or tempfile.mkdtemp(prefix="run-bench-", dir="/var/tmp")
    os.makedirs(work, exist_ok=True)
    print("run_bench: %s, nproc %d, load %.2f %.2f %.2f, files in %s"
          % (",".join(parts), os.cpu_count(), *os.getloadavg(), work), flush=True)
    rows, soaked, started = [], None, time.monotonic()
    try:
        for part in parts:
            t = time.monotonic()
            if part == "room":
                rows += room_rows(room(args, work))
            elif part == "soak":
                soaked = soak(args, work)
                rows += soak_rows(soaked)
            elif part == "stable":
                rows += stable_rows(stability(args, soaked))
            else:
                rows += resume_rows(resume(args, work))
            print("run_bench: %s took %.0f s, load %.2f %.2f %.2f" % (part, time.monotonic() - t, *os.getloadavg()), flush=True)
    finally:
        if not args.work and not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(table(rows))
    print("run_bench: %.0f s in all" % (time.monotonic() - started))
    faults = [r for r in rows if r[4] == "missed" and (r[0] != "room" or r[1].startswith("chambers completed"))]
    for r in faults:
        print("run_bench: check failed: %s: %s" % (r[0], r[1]))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
