"""firefox.py -- a headless Firefox (Debian's `firefox-esr`) driven over
Marionette with Python's standard library alone, with the few calls of
chromium.py's Page (evaluate, wait, screenshot), so that the pages' checks
run in both browsers.

Marionette listens on 127.0.0.1 and cannot be moved: run this in a network
namespace of its own (`unshare -n`, loopback brought up), with the server
it visits, as tests/pages_browser_test.py does with --browser firefox.
"""
import base64
import json
import shutil
import socket
import subprocess
import tempfile
import time

PREFS = {
    "marionette.port": 2828, "browser.shell.checkDefaultBrowser": False,
    "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.enabled": False,
    "app.update.disabledForTesting": True, "browser.startup.homepage_override.mstone": "ignore",
    "network.captive-portal-service.enabled": False, "network.connectivity-service.enabled": False,
    "browser.safebrowsing.update.enabled": False, "extensions.update.enabled": False,
}


SHOWN = "JSON.stringify([location.href, document.body && {...document.body.dataset}])"


class Firefox:
    """A headless Firefox of its own, one tab, with an empty profile."""

    def __init__(self, width=1280, height=900, binary="firefox-esr"):
        self.profile = tempfile.mkdtemp(prefix="quenta-firefox-")
        with open(self.profile + "/user.js", "w") as f:
            for k, v in PREFS.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(k), json.dumps(v)))
        self.proc = subprocess.Popen([shutil.which(binary) or binary, "--headless", "--marionette", "--no-remote",
                                      "--profile", self.profile, "--width", str(width), "--height", str(height)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.sock, self.buffer, self.next_id = self._connect(), b"", 0
        self._read()  # the greeting
        self.call("WebDriver:NewSession", {"capabilities": {"alwaysMatch": {"acceptInsecureCerts": True}}})
        self.call("WebDriver:SetWindowRect", {"width": width, "height": height})

    def _connect(self):
        deadline = time.monotonic() + 60
        while True:
            try:
                return socket.create_connection(("127.0.0.1", PREFS["marionette.port"]), timeout=60)
            except OSError:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    self.close()
                    raise RuntimeError("firefox did not open Marionette")
                time.sleep(0.2)

    def _read(self):
        """One message: its length in digits, a colon, then JSON."""
        while b":" not in self.buffer:
            self.buffer += self._receive()
        length, rest = self.buffer.split(b":", 1)
        while len(rest) < int(length):
            rest += self._receive()
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def _receive(self):
        chunk = self.sock.recv(1 << 20)
        if not chunk:
            raise ConnectionError("Marionette closed")
        return chunk

    def call(self, command, params=None):
        self.next_id += 1
        data = json.dumps([0, self.next_id, command, params or {}]).encode()
        self.sock.sendall(str(len(data)).encode() + b":" + data)
        while True:
            _, mid, error, result = self._read()
            if mid == self.next_id:
                if error:
                    raise RuntimeError("%s: %s" % (command, error.get("message", error)))
                return result

    def open(self, url):
        """The one tab, showing url (Chromium's open() opens a new one)."""
        self.call("WebDriver:Navigate", {"url": url})
        return self

    def evaluate(self, expression):
        result = self.call("WebDriver:ExecuteAsyncScript", {
            "script": "const done = arguments[0]; Promise.resolve(%s).then(done, (e) => done({__error: String(e)}));"
                      % expression, "args": []})["value"]
        if isinstance(result, dict) and "__error" in result:
            raise RuntimeError("in the page: " + result["__error"])
        return result

    def wait(self, expression, timeout=60.0, what=None):
        deadline, error = time.monotonic() + timeout, None
        while True:
            try:
                value = self.evaluate(expression)
                if value:
                    return value
            except RuntimeError as e:
                error = e
            if time.monotonic() > deadline:
                raise RuntimeError("waited %g s for %s%s; the page: %s" % (
                    timeout, what or expression, " (%s)" % error if error else "", self.evaluate(SHOWN)))
            time.sleep(0.1)

    def screenshot(self, path, full=False):
        data = self.call("WebDriver:TakeScreenshot", {"full": full, "hash": False})["value"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
