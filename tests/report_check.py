#!/usr/bin/env python3
"""report_check.py -- computes a run's figures again from its CSV file,
with nothing but the standard library and the rules of docs/runs.md, and
compares them with those its report carries (the JSON element "figures").

    report_check.py RUN.csv REPORT.html

The journal is RUN.csv.journal, the profile the one its "run" record
names. One chamber, no outages (the run was never away). Exit status 0
when every figure agrees, 1 with each difference when not, or when no step
was ever out of band (the comparison would not try the rule).
"""
import csv
import hashlib
import json
import re
import sys
import tomllib
from datetime import datetime

CHANNELS = {"temperature": 0, "humidity": 1}


def ms(text):
    return round(datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp() * 1000)


def polls(path, run):
    """The run's row count and SHA-256, and its polls of Aa in file order."""
    h, rows, out, key = hashlib.sha256(), 0, [], None
    with open(path, "rb") as f:
        next(f)
        for line in f:
            r = next(csv.reader([line.decode()]))
            if r[11] != run:
                continue
            h.update(line)
            rows += 1
            if r[4] == "skipped":
                continue
            if (r[0], r[1], r[3]) != key:
                key = (r[0], r[1], r[3])
                poll = {"t": ms(r[0]), "step": int(r[12] or 0), "answered": r[4] == "answered", "actual": {}, "set": {}}
                if r[3] == "Aa":
                    out.append(poll)
            if r[7] in ("actual", "set") and r[9]:
                poll[r[7]][int(r[8])] = float(r[9])
    for p in out:
        p["answered"] = p["answered"] and len(p["actual"]) == 5 and len(p["set"]) == 5
    return rows, h.hexdigest(), out


def bands(profile):
    """Per step: its band {channel: band} when the step keeps one, else None."""
    out = []
    for s in tomllib.load(open(profile, "rb"))["step"]:
        kept = ("hold" in s or "wait_stable" in s) and s.get("band")
        out.append({CHANNELS.get(k, k): v for k, v in s["band"].items()} if kept else None)
    return out


def figures(samples, band, scale):
    steps = []
    for i, p in enumerate(samples):
        if not 1 <= p["step"] <= len(band):
            continue
        if not steps or steps[-1]["step"] != p["step"]:
            steps.append({"step": p["step"], "start": p["t"], "values": {c: [] for c in range(5)}, "out": 0.0})
        s, b = steps[-1], band[p["step"] - 1]
        s["end"] = p["t"]
        for c, v in p["actual"].items() if p["answered"] else ():
            s["values"][c].append(v)
        nxt = samples[i + 1] if i + 1 < len(samples) else None
        inside = p["answered"] and all(abs(p["actual"][c] - p["set"][c]) <= w for c, w in (b or {}).items())
        if b and nxt and nxt["step"] == p["step"] and not inside:
            s["out"] += (nxt["t"] - p["t"]) * scale / 1000
    return steps


def compare(mine, shown, wrong):
    for s, r in zip(mine, shown):
        where = "step %d" % s["step"]
        if (s["step"], s["start"], s["end"]) != (r["step"], ms(r["start"]), ms(r["end"])):
            wrong.append("%s: step, start, end %s, the report's %s" % (where, (s["step"], s["start"], s["end"]), (r["step"], r["start"], r["end"])))
        if abs(s["out"] - r["seconds_out_of_band"]) > 0.0015:
            wrong.append("%s: %.3f s out of band, the report's %s" % (where, s["out"], r["seconds_out_of_band"]))
        for c, v in s["values"].items():
            got = r["channels"].get(str(c))
            want = {"min": min(v), "max": max(v), "mean": sum(v) / len(v), "samples": len(v)} if v else None
            if (want is None) != (got is None) or (want and any(abs(want[k] - got[k]) > 1e-9 for k in want)):
                wrong.append("%s, channel %d: %s, the report's %s" % (where, c, want, got))
    if len(mine) != len(shown):
        wrong.append("%d steps, the report's %d" % (len(mine), len(shown)))


def main():
    csv_path, html_path = sys.argv[1:3]
    shown = json.loads(re.search(r'<script type="application/json" id="figures">(.*?)</script>',
                                 open(html_path, encoding="utf-8").read(), re.S).group(1))
    run = next(r for r in map(json.loads, open(csv_path + ".journal")) if r["e"] == "run")
    rows, sha, samples = polls(csv_path, run["id"])
    mine = figures(samples, bands(run["profile"]), run["scale"])
    wrong = []
    if (rows, sha) != (shown["rows"], shown["rows_sha256"]):
        wrong.append("%d rows, SHA-256 %s; the report's %d, %s" % (rows, sha, shown["rows"], shown["rows_sha256"]))
    compare(mine, shown["chambers"][0]["steps"], wrong)
    if not any(s["out"] > 0 for s in mine):
        wrong.append("no step was out of band: the rule was not tried")
    print("\n".join(wrong) or "the report's figures agree with the CSV file: %d rows, %s s out of band"
          % (rows, [round(s["out"], 3) for s in mine]))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
