"""chromium.py -- a headless Chromium (Debian's `chromium`) driven over the
DevTools protocol with Python's standard library alone, for the pages'
tests and benchmark: open a page, evaluate JavaScript in it, wait for a
condition the page shows, take a screenshot.

    with Chromium() as browser:
        page = browser.open("http://127.0.86.1:8080/")
        page.wait("document.body.dataset.state === 'shown'")
        print(page.evaluate("document.title"))

The protocol runs over a pair of pipes (--remote-debugging-pipe: JSON
messages ended by a NUL byte on the browser's descriptors 3 and 4), so the
browser listens on no port at all.
"""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-extensions", "--disable-default-apps", "--mute-audio", "--hide-scrollbars",
         # A page that is not in front keeps its timers: the benchmark's pages poll side by side.
         "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
         "--disable-backgrounding-occluded-windows", "--remote-debugging-pipe"]


# What a page shows, for the message of a wait that failed.
SHOWN = "JSON.stringify([location.href, document.body && {...document.body.dataset}])"


class Page:
    """One tab, attached to the browser's connection as a session."""

    def __init__(self, browser, target_id, session_id):
        self.browser, self.id, self.session = browser, target_id, session_id

    def call(self, method, **params):
        return self.browser.call(method, params, self.session)

    def evaluate(self, expression):
        """The value of a JavaScript expression (a promise is awaited)."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise RuntimeError("in the page: %s" % details.get("exception", {}).get("description", details.get("text")))
        return result["result"].get("value")

    def wait(self, expression, timeout=60.0, what=None):
        """Waits until expression is true in the page, asking every 100 ms;
        its last value, or RuntimeError after timeout seconds (a bound for
        a hung page, never a measurement)."""
        deadline, error = time.monotonic() + timeout, None
        while True:
            try:
                value = self.evaluate(expression)
                if value:
                    return value
            except RuntimeError as e:  # the page is still loading, or broken: said at the end
                error = e
            if time.monotonic() > deadline:
                raise RuntimeError("waited %g s for %s%s; the page: %s" % (
                    timeout, what or expression, " (%s)" % error if error else "", self.evaluate(SHOWN)))
            time.sleep(0.1)

    def navigate(self, url):
        self.call("Page.navigate", url=url)

    def screenshot(self, path, full=False):
        params = {"format": "png"}
        if full:
            size = self.call("Page.getLayoutMetrics")["cssContentSize"]
            params.update(captureBeyondViewport=True, clip={"x": 0, "y": 0, "width": size["width"],
                                                             "height": size["height"], "scale": 1})
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", **params)["data"]))

    def close(self):
        self.browser.call("Target.closeTarget", {"targetId": self.id})


class Chromium:
    """A headless Chromium of its own, with an empty profile; ended, and
    its profile removed, on close."""

    def __init__(self, width=1280, height=900, binary="chromium"):
        self.profile = tempfile.mkdtemp(prefix="quenta-chromium-")
        self.size = (width, height)
        to_browser, self.writer = os.pipe()
        self.reader, from_browser = os.pipe()
        # The child's descriptors 3 and 4, set after the fork (copied out of
        # the way first, since either end may itself be 3 or 4); the rest close.
        def pipes():
            a, b = os.dup(to_browser), os.dup(from_browser)
            os.dup2(a, 3)
            os.dup2(b, 4)
        self.proc = subprocess.Popen(
            [shutil.which(binary) or binary] + FLAGS +
            ["--user-data-dir=" + self.profile, "--window-size=%d,%d" % self.size, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(3, 4), preexec_fn=pipes)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer, self.next_id = b"", 0

    def _message(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.reader, 1 << 20)
            if not chunk:
                raise ConnectionError("chromium closed its end of the pipe (exit %s)" % self.proc.poll())
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None):
        """Sends one command and returns its result; events are dropped."""
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        os.write(self.writer, json.dumps(command).encode() + b"\0")
        while True:
            answer = self._message()
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError("%s: %s" % (method, answer["error"]))
                return answer["result"]

    def open(self, url, window=False):
        """A new tab showing url; with window, in a window of its own, so
        that the page stays visible (document.hidden false) beside others."""
        target = self.call("Target.createTarget", {"url": url, "newWindow": window})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        return Page(self, target, session)

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for fd in (self.reader, self.writer):
            os.close(fd)
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
