#!/usr/bin/env python3
"""kvd4093 panel's clients never hold up one another: simultaneous
connects admit exactly 8 tabs, idle connections without a token leave the
page and the token's holders served, a frame is refused by the length it
declares, and a tab that stops reading neither slows another tab's frames
nor delays its answers, and is closed."""
import json
import os
import socket
import struct
import sys
import threading
import time
import unittest

import panel_support as support
from panel_support import Panel, http_get, panel_socket, wait_for

MOST_TABS = 8
# A tab that had something waiting this long is closed (docs/panel.md).
MOST_BEHIND_SECONDS = 5.0
# Beside a stalled tab, another keeps at least this share of the frames it gets alone.
KEPT_FRAME_SHARE = 0.8
MOST_ANSWER_SECONDS = 0.100


def upgrade_request(panel):
    return ("GET /ws?token=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
            % (panel.token, panel.port)).encode()


def answer_status(connection):
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = connection.recv(1)
        if not chunk:
            return 0
        head += chunk
    return int(head.split()[1])


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def server_end_open(panel, client_port):
    """Whether the panel's end of the connection from client_port is still established (/proc/net/tcp)."""
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            local, remote, state = line.split()[1:4]
            if int(local.split(":")[1], 16) == panel.port and int(remote.split(":")[1], 16) == client_port:
                return state == "01"
    return False


def start_fast_acquisition(client):
    """1 MS/s on 4 channels, with a view so short that the frames are as big as they may be."""
    client.send(json.dumps({"type": "set-view", "seconds": 0.01}))
    client.send(json.dumps({"type": "set-record", "record": {"FirstChannel": 0, "LastChannel": 3}}))
    client.send(json.dumps({"type": "set-rate", "rate": 1000000, "unit": "samples"}))
    client.send(json.dumps({"type": "start"}))
    client.next_state_where("running", True)


def drain(client):
    """Reads a tab's messages until its connection ends."""
    try:
        while client.socket.recv(1 << 16):
            pass
    except OSError:
        pass


def frames_a_second(client, seconds):
    count, end = 0, time.monotonic() + seconds
    while time.monotonic() < end:
        opcode, _ = client.receive()
        count += opcode == 2
    return count / seconds


def answer_seconds(client, word):
    start = time.monotonic()
    client.send(json.dumps({"type": "set-do", "word": word}))
    client.next_state_where("digitalOutputs", word)
    return time.monotonic() - start


class ClientTest(unittest.TestCase):
    def simultaneous_connects_admit_exactly_eight(self, panel):
        # A busy panel, as where tabs crowd in.
        first = panel_socket(panel)
        start_fast_acquisition(first)
        reader = threading.Thread(target=drain, args=(first,))
        reader.start()
        for _ in range(30):
            sockets = [socket.create_connection(("127.0.0.1", panel.port), timeout=10) for _ in range(20)]
            request = upgrade_request(panel)
            for s in sockets:
                s.sendall(request)
            statuses = [answer_status(s) for s in sockets]
            for s in sockets:
                s.close()
            self.assertEqual(statuses.count(101), MOST_TABS - 1, statuses)
            self.assertEqual(statuses.count(403), len(sockets) - MOST_TABS + 1, statuses)
            time.sleep(0.5)  # the closed tabs leave
        first.socket.shutdown(socket.SHUT_RDWR)
        reader.join()
        first.close()

    def idle_connections_without_a_token_leave_the_page_served(self, panel):
        idle = [socket.create_connection(("127.0.0.1", panel.port), timeout=10) for _ in range(16)]
        try:
            time.sleep(0.3)
            for _ in range(3):
                start = time.monotonic()
                status, _ = http_get(panel.port, "/?token=" + panel.token)
                self.assertEqual(status, 200)
                self.assertLess(time.monotonic() - start, 1.0)
            start = time.monotonic()
            client = panel_socket(panel)
            client.next_json("state", timeout=1.0)
            client.close()
            self.assertLess(time.monotonic() - start, 1.0)
        finally:
            for s in idle:
                s.close()

    def a_frame_is_refused_by_its_declared_length(self, panel):
        client = panel_socket(panel)
        client.next_json("state")
        before = resident_kib(panel.process.pid)
        # A text frame declaring 1 GiB; none of its payload is sent before the answer.
        client.socket.sendall(struct.pack("!BBQ", 0x81, 0x80 | 127, 1 << 30) + os.urandom(4))
        deadline = time.monotonic() + 2.0
        opcode, payload = 0, b""
        while opcode != 8:
            opcode, payload = client.receive(timeout=max(0.01, deadline - time.monotonic()))
        self.assertEqual(struct.unpack("!H", payload[:2])[0], 1009)
        try:
            for _ in range(64):
                client.socket.sendall(b"\0" * (1 << 20))
        except OSError:
            pass  # the panel has closed the connection
        client.close()
        self.assertLess(resident_kib(panel.process.pid) - before, 8 * 1024)

    def a_stalled_tab_holds_up_no_other(self, panel):
        client = panel_socket(panel)
        start_fast_acquisition(client)
        alone = frames_a_second(client, 3.0)
        stalled = socket.socket()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.connect(("127.0.0.1", panel.port))
        stalled.sendall(upgrade_request(panel))
        self.assertEqual(answer_status(stalled), 101)
        time.sleep(1.0)  # its buffers fill
        beside = frames_a_second(client, 3.0)
        self.assertGreaterEqual(beside, KEPT_FRAME_SHARE * alone, (alone, beside))
        for word in (1, 2, 4, 8, 16):
            self.assertLess(answer_seconds(client, word), MOST_ANSWER_SECONDS)
        # Closed once its buffers are full and something has waited for it that long.
        port = stalled.getsockname()[1]
        wait_for(lambda: not server_end_open(panel, port), "the stalled tab to be closed",
                 timeout=MOST_BEHIND_SECONDS + 15.0)
        stalled.close()
        client.close()

    def test_a_client_never_holds_up_the_others(self):
        cases = [self.simultaneous_connects_admit_exactly_eight,
                 self.idle_connections_without_a_token_leave_the_page_served,
                 self.a_frame_is_refused_by_its_declared_length,
                 self.a_stalled_tab_holds_up_no_other]
        for case in cases:
            with self.subTest(case.__name__):
                panel = Panel()
                try:
                    case(panel)
                finally:
                    panel.close()


if __name__ == "__main__":
    sys.argv = support.take_options()
    unittest.main(verbosity=2)
