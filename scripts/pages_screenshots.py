#!/usr/bin/env python3
"""pages_screenshots.py -- makes the README's pictures of the pages
(docs/screenshot-room.png, docs/screenshot-chamber.png) with the built
programs: quenta-monitor runs a profile on twelve simulated chambers
(quenta-sim --speed 60 and --time-scale 60, from 127.0.82.1; pages on
127.0.86.3:8080), chamber 3 is taken down for a while, chamber 12 stays
down, and headless Chromium shows the room and chamber 3. About 5 minutes.

    scripts/pages_screenshots.py --bin build/bin [--out docs]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import Chromium  # noqa: E402

HTTP = "127.0.86.3:8080"
NAMES = ["Climate %d" % k for k in range(1, 9)] + ["Thermal shock A", "Thermal shock B", "Walk-in 1", "Walk-in 2"]
PROFILE = """name = "Dry heat, 40 °C (example)"
poll = "10s"
alarm_delay = "2m"
[[step]]
name = "start"
digital = { start = true }
[[step]]
name = "heat"
ramp = { temperature = 40.0 }
rate = 1.0
band = { temperature = 1.0 }
max = "2h"
[[step]]
name = "soak"
hold = "2h"
band = { temperature = 2.0 }
[[step]]
name = "cool"
ramp = { temperature = 25.0 }
rate = 1.0
band = { temperature = 1.0 }
[[step]]
name = "recovery"
hold = "4h"
band = { temperature = 1.5 }
"""


def run(bindir, out, work):
    started = time.monotonic()
    with open(os.path.join(work, "chambers.txt"), "w", encoding="utf-8") as f:
        f.writelines("127.0.82.%d %s\n" % (k + 1, n) for k, n in enumerate(NAMES))
    with open(os.path.join(work, "p.toml"), "w", encoding="utf-8") as f:
        f.write(PROFILE)
    sim = subprocess.Popen([os.path.join(bindir, "quenta-sim"), "--chambers", str(len(NAMES)), "--listen", "127.0.82.1",
                            "--speed", "60", "--heat-rate", "2", "--cool-rate", "2", "--noise", "0.3"],
                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
    monitor = subprocess.Popen([os.path.join(bindir, "quenta-monitor"), "run", os.path.join(work, "p.toml"),
                                "--chambers", os.path.join(work, "chambers.txt"), "--csv", os.path.join(work, "p.csv"),
                                "--time-scale", "60", "--metrics", HTTP],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # (seconds from the start, control line): an outage of chamber 3 in
        # its soak, chamber 12 down for good; then the pictures.
        for at, line in ((45, "down 3"), (75, "up 3"), (150, "down 12")):
            time.sleep(max(0, at - (time.monotonic() - started)))
            sim.stdin.write(line + "\n")
            sim.stdin.flush()
        time.sleep(max(0, 230 - (time.monotonic() - started)))
        shoot(out)
    finally:
        for p in (monitor, sim):
            p.terminate()
            p.wait(30)


def shoot(out):
    with Chromium(width=1440, height=760) as browser:
        room = browser.open("http://%s/#sort=-actual0" % HTTP)
        room.wait("+document.body.dataset.updates >= 3")
        room.screenshot(os.path.join(out, "screenshot-room.png"))
        page = browser.open("http://%s/chamber?name=Climate%%203&span=240" % HTTP)
        page.wait("document.body.dataset.state === 'shown' && +document.body.dataset.outages >= 1")
        page.screenshot(os.path.join(out, "screenshot-chamber.png"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        run(args.bin, args.out, work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
