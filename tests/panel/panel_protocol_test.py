#!/usr/bin/env python3
"""kvd4093 panel's server, spoken to as any program may: who is let in (the
token, Host and Origin), which messages are refused, the chart's frames
(at most 30 a second, at most 64 KiB) and how the panel ends (a stop signal
stops the card as acquire does and leaves a valid recording;
--exit-with-page ends with the last tab)."""
import json
import os
import signal
import struct
import sys
import time
import unittest

import panel_support as support
from panel_support import Panel, http_get, panel_socket, wait_for

FRAME_HEADER = 24


def last_ad_command(trace):
    """The data of the last packet on the AD command pipe: a stop ends with 0300."""
    lines = [line for line in trace.splitlines() if "BULK_WRITE pipe=0 " in line]
    return lines[-1].split("data=")[1][:4] if lines else ""


class AdmissionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.panel = Panel()

    @classmethod
    def tearDownClass(cls):
        cls.panel.close()

    def test_the_page_needs_the_token_a_host_naming_the_panel_and_no_foreign_origin(self):
        p = self.panel
        own = "127.0.0.1:%d" % p.port
        cases = [
            ("right token", "/?token=" + p.token, {}, 200),
            ("localhost", "/?token=" + p.token, {"Host": "localhost:%d" % p.port}, 200),
            ("own origin", "/panel.js?token=" + p.token, {"Origin": "http://" + own}, 200),
            ("no token", "/", {}, 403),
            ("wrong token", "/?token=" + "0" * 32, {}, 403),
            ("token one digit short", "/?token=" + p.token[:-1], {}, 403),
            ("token of the page, another file", "/panel.css?token=x" + p.token, {}, 403),
            ("foreign host (DNS rebinding)", "/?token=" + p.token, {"Host": "attacker.example:%d" % p.port}, 403),
            ("own host, other port", "/?token=" + p.token, {"Host": "127.0.0.1:%d" % (p.port + 1)}, 403),
            ("foreign origin", "/?token=" + p.token, {"Origin": "http://attacker.example"}, 403),
            ("origin of another port", "/?token=" + p.token, {"Origin": "http://127.0.0.1:%d" % (p.port + 1)}, 403),
            ("no such file", "/secret?token=" + p.token, {}, 404),
        ]
        for name, target, headers, status in cases:
            with self.subTest(name):
                got, body = http_get(p.port, target, headers)
                self.assertEqual(got, status, body)
                if status == 403:
                    self.assertTrue(body.startswith(b"refused: "), body)
                    self.assertNotIn(p.token.encode(), body)

    def test_only_get_is_served(self):
        status, _ = http_get(self.panel.port, "/?token=" + self.panel.token, method="POST")
        self.assertEqual(status, 405)

    def test_the_page_carries_the_token_and_a_strict_content_policy(self):
        p = self.panel
        status, body = http_get(p.port, "/?token=" + p.token)
        self.assertEqual(status, 200)
        self.assertIn(('content="%s"' % p.token).encode(), body)
        self.assertNotIn(b"{{TOKEN}}", body)
        self.assertNotIn(b"<script>", body, "no inline script: the policy forbids it")

    def test_the_websocket_needs_the_token_and_refuses_a_foreign_origin(self):
        p = self.panel
        own = "http://127.0.0.1:%d" % p.port
        cases = [
            ("right token, own origin", "/ws?token=" + p.token, {"Origin": own}, 101),
            ("right token, no origin (a program)", "/ws?token=" + p.token, {}, 101),
            ("wrong token", "/ws?token=" + "f" * 32, {"Origin": own}, 403),
            ("no token", "/ws", {"Origin": own}, 403),
            ("right token, foreign origin", "/ws?token=" + p.token, {"Origin": "http://attacker.example"}, 403),
            ("right token, null origin", "/ws?token=" + p.token, {"Origin": "null"}, 403),
            ("right token, foreign host", "/ws?token=" + p.token, {"Host": "attacker.example:%d" % p.port}, 403),
        ]
        for name, target, headers, status in cases:
            with self.subTest(name):
                client = support.WebSocket(p.port, target, headers)
                try:
                    self.assertEqual(client.status, status, client.answer)
                    if status == 101:
                        hello = client.next_json("hello")
                        self.assertEqual([f["name"] for f in hello["fields"]][:5],
                                         ["CheckStsMode", "ADMode", "FirstChannel", "LastChannel", "Frequency"])
                        self.assertEqual(client.next_json("state")["card"]["physicalId"], 7)
                finally:
                    client.close()


class MessageTest(unittest.TestCase):
    def setUp(self):
        self.panel = Panel()
        self.client = panel_socket(self.panel)
        self.client.next_json("state")

    def tearDown(self):
        self.client.close()
        self.panel.close()

    def test_bad_messages_are_refused_with_a_reason_and_the_connection_stays(self):
        cases = [
            ("not json", "{type: start}", "not JSON"),
            ("not an object", "[1, 2]", "not an object"),
            ("no type", '{"card": 1}', "not an object with a \"type\""),
            ("unknown type", '{"type": "format-disk"}', "unknown message type \"format-disk\""),
            ("unknown member", '{"type": "start", "now": true}', "unknown member \"now\""),
            ("missing member", '{"type": "set-do"}', "\"word\" is missing"),
            ("wrong kind", '{"type": "set-do", "word": "0xff"}', "\"word\" must be a whole number"),
            ("fraction", '{"type": "set-do", "word": 1.5}', "\"word\" must be a whole number"),
            ("out of range", '{"type": "set-do", "word": 65536}', "\"word\" must be 0 to 65535"),
            ("huge number", '{"type": "set-trigger", "level": 18446744073709551615}', "must be 0 to 10000"),
            ("negative channel", '{"type": "write-da", "channel": -1, "value": 1}', "\"channel\" must be 0 to 7"),
            ("not a field", '{"type": "set-record", "record": {"Volume": 11}}', "not a field of the AD record"),
            ("rate unit", '{"type": "set-rate", "rate": 1000, "unit": "hertz"}', "\"unit\" must be samples or scans"),
            ("file with a folder", '{"type": "record", "file": "../x.csv"}', "is not a file name"),
            ("deep nesting", '{"type": "set-record", "record": ' + "[" * 1000 + "]" * 1000 + "}",
             "\"record\" must be an object"),
        ]
        for name, text, reason in cases:
            with self.subTest(name):
                self.client.send(text)
                error = self.client.next_json("error")
                self.assertIn(reason, error["message"])
                self.assertTrue(error["message"].startswith("refused: ") or name == "file with a folder", error)
        # Still connected, and a good message still works.
        self.client.send(json.dumps({"type": "set-do", "word": 0x0081}))
        state = wait_for(lambda: (lambda s: s if s["digitalInputs"] == 0x0081 else None)(
            self.client.next_json("state")), "the outputs to loop back")
        self.assertEqual(state["digitalOutputs"], 0x0081)

    def test_an_oversized_or_binary_message_closes_the_connection(self):
        cases = [("4097 bytes", b'{"type":"list-cards","x":"' + b"a" * 4071 + b'"}', 1, True, 1009),
                 ("binary", b"\x01\x02", 2, True, 1003),
                 ("in pieces", b'{"type":', 1, False, 1003)]
        for name, payload, opcode, final, code in cases:
            with self.subTest(name):
                client = panel_socket(self.panel)
                client.next_json("state")
                client.send(payload, opcode, final)
                while True:
                    got, data = client.receive()
                    if got == 8:
                        break
                self.assertEqual(struct.unpack("!H", data[:2])[0], code)
                client.close()
        # The panel goes on serving.
        self.client.send('{"type": "set-do", "word": 5}')
        self.client.next_state_where("digitalOutputs", 5)


class FrameTest(unittest.TestCase):
    def test_frames_at_1_msps_on_4_channels_come_at_most_30_a_second_and_follow_on(self):
        panel = Panel()
        client = panel_socket(panel)
        try:
            client.send(json.dumps({"type": "set-record", "record": {"FirstChannel": 0, "LastChannel": 3}}))
            client.send(json.dumps({"type": "set-rate", "rate": 1000000, "unit": "samples"}))
            client.send(json.dumps({"type": "start"}))
            state = wait_for(lambda: (lambda s: s if s["running"] else None)(client.next_json("state")), "the start")
            frames = []
            start = None
            while start is None or time.monotonic() - start < 3.0:
                opcode, payload = client.receive()
                if opcode == 2:
                    start = start or time.monotonic()
                    frames.append(payload)
            self.assertLessEqual(len(frames), 3.0 * 30 + 1)
            next_column = None
            for frame in frames:
                self.assertLessEqual(len(frame), 64 * 1024)
                kind, first, channels, run, per_column, columns, first_column = struct.unpack_from("<BBHIIIQ", frame)
                self.assertEqual((kind, first, channels, run), (1, 0, 4, state["run"]))
                self.assertEqual(per_column, state["scansPerColumn"])
                self.assertEqual(len(frame), FRAME_HEADER + columns * channels * 4)
                if next_column is not None:
                    self.assertEqual(first_column, next_column, "a column went missing")
                next_column = first_column + columns
                for c in range(channels * columns):
                    low, high = struct.unpack_from("<HH", frame, FRAME_HEADER + 4 * c)
                    self.assertLessEqual(low, high)
            self.assertGreater(next_column, struct.unpack_from("<Q", frames[0], 16)[0])
        finally:
            client.close()
            panel.close()


class RecordingTest(unittest.TestCase):
    def test_a_recording_stopped_before_its_first_scan_says_it_left_no_file(self):
        panel = Panel()
        client = panel_socket(panel)
        try:
            client.send(json.dumps({"type": "set-rate", "rate": 1000, "unit": "samples"}))
            client.send(json.dumps({"type": "start"}))
            client.next_state_where("running", True)
            # Both at once: the recording's first block, 50 ms away, never comes.
            client.send(json.dumps({"type": "record", "file": "early.csv"}))
            client.send(json.dumps({"type": "stop-recording"}))
            state = wait_for(lambda: (lambda s: s if s["recording"]["state"] not in ("idle", "recording") else None)(
                client.next_json("state")), "the recording's end")
            self.assertEqual(state["recording"]["state"], "empty", state["recording"])
            self.assertIn("no file", state["recording"]["message"])
            self.assertFalse(os.path.exists(panel.file("early.csv")))
        finally:
            client.close()
            panel.close()


@unittest.skipUnless("--usb-sim" in sys.argv, "needs kvd4093-usb-sim (--usb-sim)")
class ReconnectionTest(unittest.TestCase):
    def test_a_card_pulled_out_shows_as_lost_and_the_run_goes_on_once_it_is_back(self):
        # Out 4 s after the simulator starts (the panel and its run are up by then), back 1.5 s later.
        panel = Panel(simulator=["--ids", "7", "--unplug-after", "4s", "--replug-after", "5500ms"])
        client = panel_socket(panel)
        try:
            client.send(json.dumps({"type": "set-rate", "rate": 20000, "unit": "samples"}))
            client.send(json.dumps({"type": "start"}))
            wait_for(lambda: client.next_json("state")["running"], "the start")
            lost = wait_for(lambda: (lambda s: s if s["stream"]["cardLost"] else None)(client.next_json("state")),
                            "the card lost")
            self.assertTrue(lost["running"], "the run waits for the card, it does not end")
            wait_for(lambda: not client.next_json("state")["stream"]["cardLost"], "the card back")
            # The scans it owed are one gap, counted with the first block after it.
            back = wait_for(lambda: (lambda s: s if s["stream"]["gaps"] else None)(client.next_json("state")),
                            "the gap")
            self.assertTrue(back["running"])
            self.assertEqual(back["stream"]["gaps"], 1)
            self.assertGreater(back["stream"]["scansLost"], 0)
            # Two set-ups, each reading its 512 samples; then the run stops as usual.
            self.assertEqual(panel.trace().count("BULK_READ pipe=2 len=1024 ret=1024"), 2)
            self.assertEqual(panel.stop(signal.SIGTERM)[0], 143)
            self.assertEqual(last_ad_command(panel.trace()), "0300")
        finally:
            client.close()
            panel.close()


class EndTest(unittest.TestCase):
    def test_a_stop_signal_stops_the_card_and_finishes_the_recording(self):
        # The last case is a group: every card's channels, named as the CSV header names them.
        one_card = (), ["ch0", "ch1"], None
        group = ("--id", "9,7"), ["ID9:ch0", "ID9:ch1", "ID7:ch0", "ID7:ch1"], [9, 7]
        for number, status, (arguments, channels, group_ids) in (
                (signal.SIGTERM, 143, one_card), (signal.SIGINT, 130, one_card), (signal.SIGHUP, 129, one_card),
                (signal.SIGTERM, 143, group)):
            with self.subTest(signal=number, arguments=arguments):
                panel = Panel(*arguments, cards="7,9")
                client = panel_socket(panel)
                try:
                    client.send(json.dumps({"type": "set-rate", "rate": 20000, "unit": "samples"}))
                    client.send(json.dumps({"type": "start"}))
                    state = wait_for(lambda: (lambda s: s if s["running"] else None)(client.next_json("state")),
                                     "the start")
                    self.assertEqual(state["channels"], channels)
                    client.send(json.dumps({"type": "record", "file": "run.bin"}))
                    wait_for(lambda: client.next_json("state")["recording"]["scans"] > 0, "the recording")
                    code, err = panel.stop(number)
                    self.assertEqual(code, status, err)
                    self.assertEqual(last_ad_command(panel.trace()), "0300")
                    with open(panel.file("run.bin.json")) as f:
                        sidecar = json.load(f)
                    with open(panel.file("run.bin"), "rb") as f:
                        size = len(f.read())
                    self.assertEqual(size, sidecar["scans"] * len(channels) * 2)
                    self.assertGreater(sidecar["scans"], 0)
                    self.assertEqual([card["physical_id"] for card in sidecar.get("group_cards", [])] or None,
                                     group_ids)
                finally:
                    client.close()
                    panel.close()

    def test_exit_with_page_ends_when_the_last_tab_has_gone(self):
        panel = Panel("--exit-with-page")
        try:
            client = panel_socket(panel)
            client.next_json("state")
            client.send(json.dumps({"type": "start"}))
            wait_for(lambda: client.next_json("state")["running"], "the start")
            time.sleep(4)  # longer than the grace period, with the tab still there
            self.assertIsNone(panel.process.poll())
            client.close()
            panel.process.wait(15)
            self.assertEqual(panel.process.returncode, 0)
            self.assertEqual(last_ad_command(panel.trace()), "0300")
        finally:
            panel.close()


if __name__ == "__main__":
    sys.argv = support.take_options()
    unittest.main(verbosity=2)
