#!/usr/bin/env python3
"""pages_browser_test.py -- the monitor's pages in a headless browser, by what they
show: the built quenta-monitor runs a profile on a fleet of the built
quenta-sim (speed and --time-scale 60, from 127.0.82.1; pages on
127.0.86.1:8080), and Chromium (or, with --browser firefox, Firefox inside
a network namespace of its own) opens the room and a chamber.

    tests/pages_browser_test.py --bin build/bin [--browser chromium|firefox] [--shots DIR]

Each check waits for what the page shows, bounded by a time-out only for
a page that never gets there; nothing is timed. Exit status 0 when every
check passed.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))

FLEET, FIRST, HTTP = 4, "127.0.82.1", "127.0.86.1:8080"
# Names with a space, a plus, brackets and a letter beyond ASCII: each
# page passes them on in addresses (the room's links, the chamber page's
# requests), where a plus left as it is would read as a space.
NAMES = ["Kammer %d (Süd+Nord)" % k for k in range(1, FLEET + 1)]
PROFILE = """poll = "10s"
[[step]]
digital = { start = true }
[[step]]
name = "heat"
ramp = { temperature = 30.0 }
rate = 5.0
band = { temperature = 1.0 }
max = "1h"
[[step]]
name = "soak"
hold = "20h"
band = { temperature = 1.5 }
"""


def api(path, name=None):
    if name:
        path += urllib.parse.quote(name)
    with urllib.request.urlopen("http://%s%s" % (HTTP, path), timeout=10) as r:
        return json.loads(r.read())


def chamber_url(name, query=""):
    return "http://%s/chamber?name=%s%s" % (HTTP, urllib.parse.quote(name), query)


def room_lists_the_fleet(browser, sim):
    """The room's rows are the fleet's chambers, each linked to its page."""
    page = browser.open("http://%s/" % HTTP)
    page.wait("document.body.dataset.state === 'shown' && document.body.dataset.chambers === '%d'" % FLEET)
    rows = page.evaluate("[...document.querySelectorAll('#rows .row')].map("
                         "r => [r.dataset.name, r.querySelector('a').getAttribute('href')])")
    expect(sorted(r[0] for r in rows) == NAMES, "room rows %s" % rows)
    expect(all(urllib.parse.parse_qs(urllib.parse.urlsplit(href).query)["name"] == [n] and href.startswith("/chamber?")
               for n, href in rows), "links %s" % rows)
    return page


def soak_window(sim):
    """A window of 12 s inside chamber 1's soak, past: all its polls in."""
    until = time.monotonic() + 120
    while time.monotonic() < until:
        c = api("/api/v1/chambers")
        run = [x for x in c["chambers"] if x["name"] == NAMES[0]][0]["run"]
        if run and run["step"] == 3:
            steps = api("/api/v1/series?points=10&chamber=", NAMES[0])["steps"]
            start = [s["from"] for s in steps if s["step"] == 3][0]
            if c["time"] > start + 14000:
                return start, start + 12000
        time.sleep(0.2)
    raise RuntimeError("chamber 1 not 14 s into its soak after 120 s")


def chamber_follows_the_model(browser, sim):
    """Channel 0 of chamber 1 over a window of its soak: the page's last
    bucket is the API's for the same window, its set value the profile's,
    its actual within the step's band, and that band drawn around it."""
    start, end = soak_window(sim)
    page = browser.open(chamber_url(NAMES[0], "&from=%d&to=%d" % (start, end)))
    plot = "document.querySelector('section.plot[data-channel=\"0\"]')"
    shown = json.loads(page.wait("document.body.dataset.state === 'shown' && %s && JSON.stringify(%s.dataset)"
                                 % (plot, plot), what="channel 0 drawn"))
    body = page.evaluate("({...document.body.dataset})")
    series = api("/api/v1/series?from=%s&to=%s&points=%s&chamber=" % (body["from"], body["to"], body["pointsAsked"]),
                 NAMES[0])
    i = series["t"].index(int(shown["lastT"]))
    ch = series["channels"]["0"]
    api_last = [ch["min"][i], ch["max"][i], ch["set"][i]]
    expect([float(shown[k]) for k in ("lastMin", "lastMax", "lastSet")] == api_last, "page %s, API %s" % (shown, api_last))
    expect(float(shown["lastSet"]) == 30.0 and abs(float(shown["lastMax"]) - 30.0) <= 1.5, "the soak at 30: %s" % shown)
    expect(shown["band"] == "1.5" and int(shown["bandPoints"]) > 0, "the soak's band drawn: %s" % shown)
    expect(page.evaluate("document.getElementById('csv').getAttribute('href')") == series["csv"], "CSV link")
    return page


def zoom_fetches_finer_data(browser, sim):
    """Half an hour of chamber 1 up to 5 s ago (a window that does not
    follow the time, so nothing is asked again unless the page asks) comes
    in buckets of a few seconds; a drag across its last fifth shows those
    minutes, asked again in finer buckets; 'earlier' moves the window back
    by half its length."""
    now = api("/api/v1/chambers")["time"]
    page = browser.open(chamber_url(NAMES[0], "&from=%d&to=%d" % (now - 1805000, now - 5000)))
    before = json.loads(page.wait("document.body.dataset.state === 'shown' && JSON.stringify({...document.body.dataset})"))
    page.evaluate(DRAG % (0.8, 0.99, 0.99))
    after = json.loads(page.wait("document.body.dataset.state === 'shown' && +document.body.dataset.bucketMs < %s && "
                                 "JSON.stringify({...document.body.dataset})" % before["bucketMs"],
                                 what="finer buckets after the zoom"))
    span = int(after["to"]) - int(after["from"])
    expect(abs(span - 0.19 * 1800e3) < 0.02 * 1800e3, "zoomed from %s to %s" % (before, after))
    page.evaluate("document.getElementById('earlier').click()")
    page.wait("Math.abs(document.body.dataset.to - %d) <= 1 && document.body.dataset.state === 'shown' && "
              "+document.body.dataset.draws > %s" % (int(after["to"]) - span / 2, after["draws"]),
              what="the window half a window earlier")
    return page


# Drags with the mouse across the first plot, from and to fractions of its
# width (uPlot listens for mousedown on its overlay, then moves and release).
DRAG = """(() => {
  const over = document.querySelector('.u-over'), r = over.getBoundingClientRect(), y = r.top + r.height / 2;
  const at = (type, x, el) => el.dispatchEvent(new MouseEvent(type,
    {clientX: x, clientY: y, movementX: 1, bubbles: true, button: 0, buttons: 1}));
  at('mousedown', r.left + r.width * %g, over);
  at('mousemove', r.left + r.width * %g, over);
  at('mouseup', r.left + r.width * %g, document);
  return true;
})()"""


def outage_is_marked(browser, sim):
    """Chamber 2 taken down and brought up: the room shows it down, then
    up; its page marks the outage."""
    room = browser.open("http://%s/" % HTTP)
    row = "document.querySelector('.row[data-name=\"%s\"]')" % NAMES[1]
    room.wait("document.body.dataset.state === 'shown' && !!%s" % row)
    sim.control("down 2")
    room.wait("%s.className.includes('down')" % row, what="chamber 2 down in the room")
    sim.control("up 2")
    room.wait("!%s.className.includes('down')" % row, what="chamber 2 up again in the room")
    page = browser.open(chamber_url(NAMES[1], "&span=600"))
    page.wait("+document.body.dataset.outages >= 1 && document.body.dataset.up === 'true'",
              what="the outage marked on chamber 2's page, chamber 2 up")
    return page


def expect(condition, what):
    if not condition:
        raise AssertionError(what)


class Fleet:
    """The simulator, and the monitor running the profile on it."""

    def __init__(self, bindir, work):
        with open(os.path.join(work, "chambers.txt"), "w", encoding="utf-8") as f:
            f.writelines("127.0.82.%d %s\n" % (k + 1, n) for k, n in enumerate(NAMES))
        with open(os.path.join(work, "p.toml"), "w") as f:
            f.write(PROFILE)
        self.sim = subprocess.Popen([os.path.join(bindir, "quenta-sim"), "--chambers", str(FLEET), "--listen", FIRST,
                                     "--speed", "60", "--heat-rate", "5", "--noise", "0.2"],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.sim.stdout.readline()  # "quenta-sim listening on ..."
        self.log = open(os.path.join(work, "monitor.log"), "w")
        self.monitor = subprocess.Popen([os.path.join(bindir, "quenta-monitor"), "run", os.path.join(work, "p.toml"),
                                         "--chambers", os.path.join(work, "chambers.txt"), "--csv",
                                         os.path.join(work, "p.csv"), "--time-scale", "60", "--metrics", HTTP],
                                        stdout=self.log, stderr=self.log)

    def control(self, line):
        """A control line to the simulator, once it said it was carried out."""
        self.sim.stdin.write(line + "\n")
        self.sim.stdin.flush()
        answer = self.sim.stdout.readline()
        expect(answer.startswith("ok "), "quenta-sim: %s" % answer)

    def close(self):
        for p in (self.monitor, self.sim):
            p.terminate()
            p.wait(30)
        self.log.close()


CHECKS = [room_lists_the_fleet, chamber_follows_the_model, zoom_fetches_finer_data, outage_is_marked]


def open_browser(name):
    if name == "firefox":
        from firefox import Firefox
        return Firefox()
    from chromium import Chromium
    return Chromium()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--browser", default="chromium", choices=["chromium", "firefox"])
    parser.add_argument("--shots", help="a screenshot of each page after its check, into this folder")
    args = parser.parse_args()
    if args.browser == "firefox" and not os.environ.get("QUENTA_NETNS"):
        # Marionette listens on 127.0.0.1 alone: the whole test in a namespace of its own.
        os.execvpe("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                               sys.executable] + sys.argv, dict(os.environ, QUENTA_NETNS="1"))
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        fleet = Fleet(args.bin, work)
        try:
            with open_browser(args.browser) as browser:
                api_up = time.monotonic()
                while time.monotonic() - api_up < 60 and not try_api():
                    time.sleep(0.2)
                for check in CHECKS:
                    failed += run(check, browser, fleet, args.shots)
        finally:
            fleet.close()
            if failed:
                sys.stderr.write(open(os.path.join(work, "monitor.log")).read()[-3000:])
    print("%d passed, %d failed" % (len(CHECKS) - failed, failed))
    return 1 if failed else 0


def try_api():
    try:
        return len(api("/api/v1/chambers")["chambers"]) == FLEET
    except OSError:
        return False


def run(check, browser, fleet, shots):
    try:
        page = check(browser, fleet)
        if shots and page:
            page.screenshot(os.path.join(shots, check.__name__ + ".png"), full=True)
        print("ok   %s" % check.__name__)
        return 0
    except (AssertionError, RuntimeError) as e:
        print("FAIL %s: %s" % (check.__name__, e))
        return 1


if __name__ == "__main__":
    sys.exit(main())
