"""What the panel's tests share: the tool's panel in a folder of its own, a
small WebSocket client (the standard library has none) and headless
Chromium driven over the DevTools protocol on a pipe (no browser download,
no npm).

The tool and the folders come from the command line:
    panel_*_test.py --tool build/linux/bin/kvd4093 --artifacts DIR [--usb-sim PATH]
"""
import argparse
import base64
import json
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests

options = argparse.Namespace(tool=None, artifacts=None, usb_sim=None)


def take_options():
    """Reads --tool and --artifacts, leaving the rest to unittest."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--artifacts", default=None)
    parser.add_argument("--usb-sim", default=None)
    known, rest = parser.parse_known_args()
    options.tool, options.artifacts, options.usb_sim = os.path.abspath(known.tool), known.artifacts, known.usb_sim
    return [sys.argv[0]] + rest


def wait_for(condition, what, timeout=15.0, period=0.05):
    """Calls condition until it returns something true; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(period)


class Panel:
    """kvd4093 panel on virtual cards, in a temporary folder with its own
    settings, trace file and recordings; port 0, so tests run side by side.
    With `simulator` (kvd4093-usb-sim's options) the cards are emulated USB
    cards instead, and the panel runs as the simulator's command."""

    def __init__(self, *arguments, cards="7", simulator=None):
        self.folder = tempfile.mkdtemp(prefix="kvd4093-panel-")
        self.trace_path = os.path.join(self.folder, "trace.txt")
        environment = {k: v for k, v in os.environ.items() if not k.startswith("KVD4093")}
        environment.update(HOME=self.folder, XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                           LANG="C.UTF-8", LC_ALL="C.UTF-8", KVD4093_TRACE=self.trace_path)
        command = [options.tool, "panel", "--virtual=" + cards, "--port", "0", *arguments]
        if simulator is not None:
            command = [options.usb_sim, *simulator, "--", options.tool, "panel", "--port", "0", *arguments]
        self.simulated = simulator is not None
        self.process = subprocess.Popen(
            command,
            cwd=self.folder, env=environment, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        match = re.match(r"kvd4093 panel: (http://([\d.]+):(\d+)/\?token=([0-9a-f]+))$", line.strip())
        if not match:
            self.process.kill()
            raise AssertionError("no address printed: %r %r" % (line, self.process.stderr.read()))
        self.url, self.host, self.port, self.token = match.group(1), match.group(2), int(match.group(3)), match.group(4)

    def trace(self):
        with open(self.trace_path, encoding="ascii", errors="replace") as f:
            return f.read()

    def file(self, name):
        return os.path.join(self.folder, name)

    def stop(self, number=signal.SIGTERM, timeout=20):
        """Signals the panel and returns (exit status, standard error). Under
        the simulator the panel is its child, and the simulator passes on its
        exit status."""
        if self.process.poll() is None:
            target = self.process.pid
            if self.simulated:
                with open("/proc/%d/task/%d/children" % (target, target)) as f:
                    target = int(f.read().split()[0])
            os.kill(target, number)
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.process.returncode, self.process.stderr.read()

    def close(self):
        self.stop()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def http_get(port, target, headers=None, method="GET"):
    """(status, body) of one request, with exactly the headers given (plus Host unless given)."""
    headers = dict(headers or {})
    headers.setdefault("Host", "127.0.0.1:%d" % port)
    request = "%s %s HTTP/1.1\r\n%s\r\n" % (method, target, "".join("%s: %s\r\n" % h for h in headers.items()))
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        connection.sendall(request.encode())
        answer = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    return int(head.split()[1]), body


class WebSocket:
    """A WebSocket client of RFC 6455, as much as the tests need."""

    def __init__(self, port, target, headers=None):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        key = base64.b64encode(os.urandom(16)).decode()
        headers = dict(headers or {})
        headers.setdefault("Host", "127.0.0.1:%d" % port)
        lines = ["GET %s HTTP/1.1" % target, "Upgrade: websocket", "Connection: Upgrade",
                 "Sec-WebSocket-Key: " + key, "Sec-WebSocket-Version: 13"]
        lines += ["%s: %s" % h for h in headers.items()]
        self.socket.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            chunk = self.socket.recv(4096)
            if not chunk:
                break
            self.buffer += chunk
        head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        self.status = int(head.split()[1]) if head else 0
        self.answer = head.decode(errors="replace")

    def send(self, payload, opcode=1, final=True):
        if isinstance(payload, str):
            payload = payload.encode()
        mask = os.urandom(4)
        first = (0x80 if final else 0) | opcode
        size = len(payload)
        if size < 126:
            header = struct.pack("!BB", first, 0x80 | size)
        elif size < 65536:
            header = struct.pack("!BBH", first, 0x80 | 126, size)
        else:
            header = struct.pack("!BBQ", first, 0x80 | 127, size)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.socket.sendall(header + mask + masked)

    def _take(self, count, deadline):
        while len(self.buffer) < count:
            self.socket.settimeout(max(0.01, deadline - time.monotonic()))
            chunk = self.socket.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def receive(self, timeout=10.0):
        """(opcode, payload) of the next frame."""
        deadline = time.monotonic() + timeout
        first, second = self._take(2, deadline)
        size = second & 0x7F
        if size == 126:
            size = struct.unpack("!H", self._take(2, deadline))[0]
        elif size == 127:
            size = struct.unpack("!Q", self._take(8, deadline))[0]
        return first & 0x0F, self._take(size, deadline)

    def next_json(self, kind, timeout=10.0):
        """The next text message of this type, skipping others."""
        deadline = time.monotonic() + timeout
        while True:
            opcode, payload = self.receive(max(0.01, deadline - time.monotonic()))
            if opcode == 1:
                message = json.loads(payload)
                if message["type"] == kind:
                    return message
            elif opcode == 8:
                raise ConnectionError("closed with %r" % payload)

    def next_state_where(self, key, value, timeout=10.0):
        """The first state message whose key holds value: states sent for
        earlier changes (another tab's, a closed connection's) may come first."""
        deadline = time.monotonic() + timeout
        while True:
            state = self.next_json("state", max(0.01, deadline - time.monotonic()))
            if state[key] == value:
                return state

    def close(self):
        self.socket.close()


def panel_socket(panel, **headers):
    return WebSocket(panel.port, "/ws?token=" + panel.token, headers)


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    """Headless Chromium over the DevTools protocol on a pipe: fd 3 carries
    commands to the browser, fd 4 its answers, each a JSON text ending in a
    zero byte."""

    def __init__(self, executable):
        self.profile = tempfile.mkdtemp(prefix="kvd4093-chromium-")
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()

        def give_pipes():
            # Through copies: either end may itself be fd 3 or 4.
            reading, writing = os.dup(to_browser_read), os.dup(from_browser_write)
            os.dup2(reading, 3)
            os.dup2(writing, 4)
            os.set_inheritable(3, True)
            os.set_inheritable(4, True)

        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run", "--no-default-browser-check",
                 "--user-data-dir=" + self.profile, "--remote-debugging-pipe", "--window-size=1280,1500",
                 "--hide-scrollbars", "about:blank"]
        self.process = subprocess.Popen([executable] + flags, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, close_fds=False, preexec_fn=give_pipes)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.pending = b""
        self.next_id = 0
        self.events = []

    def _read_message(self, deadline):
        while b"\0" not in self.pending:
            ready, _, _ = select.select([self.from_browser], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise AssertionError("the browser did not answer in time")
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise AssertionError("the browser closed its pipe")
            self.pending += chunk
        message, _, self.pending = self.pending.partition(b"\0")
        return json.loads(message)

    def call(self, method, session=None, timeout=30.0, **params):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params}
        if session:
            command["sessionId"] = session
        os.write(self.to_browser, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            message = self._read_message(deadline)
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError("%s failed: %s" % (method, message["error"]))
                return message["result"]
            self.events.append(message)

    def open_tab(self, url):
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        tab = Tab(self, session)
        tab.call("Page.enable")
        tab.call("Runtime.enable")
        tab.navigate(url)
        return tab

    def close(self):
        try:
            self.call("Browser.close", timeout=5)
        except AssertionError:
            pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)
        shutil.rmtree(self.profile, ignore_errors=True)


class Tab:
    def __init__(self, browser, session):
        self.browser, self.session = browser, session

    def call(self, method, **params):
        return self.browser.call(method, session=self.session, **params)

    def navigate(self, url):
        self.call("Page.navigate", url=url)
        wait_for(lambda: self.evaluate("document.readyState") == "complete", "the page to load")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise AssertionError("script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))
