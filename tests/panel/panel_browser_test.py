#!/usr/bin/env python3
"""kvd4093 panel in a real browser (Debian's chromium, headless, over the
DevTools protocol) on a virtual card: the page loads and connects, the
chart draws every channel in its colour, digital output 3 lights input
lamp 3 (the virtual card loops them back) and the trace shows the packet, a
rate change restarts the acquisition with the new Frequency, a 1 s
recording holds the scans of 1 s, a second tab sees the first one's change,
a wrong token and a page of another origin are refused. A screenshot goes
to the artifacts folder. Skipped, and said so, where chromium is missing."""
import http.server
import json
import os
import struct
import sys
import threading
import unittest

import panel_support as support
from panel_support import Browser, Panel, wait_for

CHANNELS = 4
RATE = 20000  # samples a second of all channels: 5000 scans a second

# How many canvas pixels have exactly each legend swatch's colour.
COUNT_COLOURS = """(() => {
  const canvas = document.getElementById('chart');
  const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  const counts = {};
  for (const swatch of document.querySelectorAll('#legend i')) {
    const [r, g, b] = getComputedStyle(swatch).backgroundColor.match(/\\d+/g).map(Number);
    let n = 0;
    for (let i = 0; i < pixels.length; i += 4)
      if (pixels[i] === r && pixels[i + 1] === g && pixels[i + 2] === b && pixels[i + 3] === 255) n++;
    counts[swatch.dataset.channel] = n;
  }
  return counts;
})()"""


def config_packets(trace):
    """The configuration packets of the trace, in order: (line index, data)."""
    return [(i, line.split("data=")[1]) for i, line in enumerate(trace.splitlines())
            if "BULK_WRITE pipe=0 " in line and "data=02" in line]


class ForeignPage(http.server.BaseHTTPRequestHandler):
    """A page of another origin: it knows the panel's token but is not the panel."""

    def do_GET(self):
        body = b"<!doctype html><title>another site</title>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


class PanelBrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.panel = Panel()
        cls.browser = Browser(support.find_chromium())
        cls.tab = cls.browser.open_tab(cls.panel.url)
        wait_for(lambda: cls.tab.evaluate("document.getElementById('connection').textContent") == "connected",
                 "the page to connect")
        # Channels 0-3 at RATE, typed and applied as a person would, then started.
        cls.tab.evaluate("""(() => {
          const set = (id, value) => { const i = document.getElementById(id); i.value = value; };
          set('first-channel', 0); set('last-channel', %d); set('rate-unit', 'samples'); set('rate', %d);
          document.getElementById('apply-rate').click();
        })()""" % (CHANNELS - 1, RATE))
        wait_for(lambda: cls.tab.evaluate("document.getElementById('legend').children.length") == CHANNELS,
                 "the record to change")
        cls.tab.evaluate("document.getElementById('start').click()")
        wait_for(lambda: "running" in cls.tab.evaluate("document.getElementById('run-status').textContent"),
                 "the acquisition to start")

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.panel.close()

    def run_number(self):
        return json.loads(self.tab.evaluate("JSON.stringify(state.run)"))

    def test_a_chart_draws_every_channel_in_its_colour(self):
        counts = wait_for(lambda: (lambda c: c if len(c) == CHANNELS and min(c.values()) >= 200 else None)(
            self.tab.evaluate(COUNT_COLOURS)), "every channel's colour in the chart")
        self.assertEqual(sorted(counts), [str(c) for c in range(CHANNELS)])

    def test_b_digital_output_3_lights_input_lamp_3_and_the_trace_shows_the_packet(self):
        self.tab.evaluate("document.getElementById('do-3').click()")
        lit = wait_for(lambda: (lambda on: on if on else None)(self.tab.evaluate(
            "[...document.querySelectorAll('#di-lamps .lamp.on')].map(l => l.id).join(',')")), "a lamp to light")
        self.assertEqual(lit, "di-3")
        self.assertEqual(self.tab.evaluate("document.getElementById('di-hex').textContent"), "0x0008")
        packet = "BULK_WRITE pipe=1 len=512 ret=512 ok=1 data=030800"
        wait_for(lambda: packet in self.tab.evaluate("document.getElementById('trace').textContent"),
                 "the DO packet in the page's trace")
        self.tab.evaluate("document.getElementById('do-3').click()")
        wait_for(lambda: self.tab.evaluate("document.querySelectorAll('#di-lamps .lamp.on').length") == 0,
                 "the lamp to go out")

    def test_c_a_rate_change_restarts_the_acquisition_with_the_new_frequency(self):
        before = self.run_number()
        new_rate = 40000
        self.tab.evaluate("""(() => {
          document.getElementById('rate').value = %d;
          document.getElementById('apply-rate').click();
        })()""" % new_rate)
        wait_for(lambda: self.run_number() > before, "a new run")
        # Configuration packet: 02, first and last channel, mode, trigger source, divider (32 bits).
        divider = int(10_000_000 / new_rate)
        expected = "02" + "00%02x" % (CHANNELS - 1) + "0000" + struct.pack("<I", divider).hex()
        trace = wait_for(lambda: (lambda t: t if any(d.startswith(expected) for _, d in config_packets(t)) else None)(
            self.panel.trace()), "the new configuration packet")
        lines = trace.splitlines()
        packets = config_packets(trace)
        new_at = next(i for i, d in packets if d.startswith(expected))
        stop_divider = struct.pack("<I", 67).hex()  # the stop's own configuration
        old_at = max(i for i, d in packets if i < new_at and d[10:18] != stop_divider)
        self.assertFalse(packets[[i for i, _ in packets].index(old_at)][1].startswith(expected))
        self.assertTrue(any("pipe=0" in line and "data=0300" in line for line in lines[old_at + 1:new_at]),
                        "the old run was stopped before the new one was set up:\n" + "\n".join(lines[old_at:new_at + 1]))
        # The page hears of the new run after the card does.
        status = wait_for(lambda: (lambda text: text if "%.0f samples/s" % new_rate in text else None)(
            self.tab.evaluate("document.getElementById('run-status').textContent")), "the new rate in the status")
        self.assertRegex(status, r"backlog \d+\.\d\d s \(largest \d+\.\d\d s\), (no gaps|\d+ gaps \(\d+ scans lost\))")

    def test_d_a_one_second_recording_holds_one_second_of_scans(self):
        scan_rate = json.loads(self.tab.evaluate("JSON.stringify(state.scanRate)"))
        for name in ("one.csv", "one.bin"):
            with self.subTest(name):
                self.tab.evaluate("""(() => {
                  document.getElementById('record-file').value = '%s';
                  document.getElementById('record-seconds').value = '1';
                  document.getElementById('record-start').click();
                })()""" % name)
                wait_for(lambda: self.tab.evaluate("document.getElementById('record-status').textContent")
                         .startswith("wrote " + name), "the recording to end", timeout=20)
                scans = round(scan_rate)
                if name.endswith(".csv"):
                    with open(self.panel.file(name)) as f:
                        lines = f.read().splitlines()
                    self.assertEqual(lines[0], "scan,time_s,ch0,ch1,ch2,ch3")
                    self.assertEqual(len(lines) - 1, scans)
                    self.assertTrue(lines[-1].startswith("%d," % (scans - 1)))
                else:
                    self.assertEqual(os.path.getsize(self.panel.file(name)), scans * CHANNELS * 2)

    def test_e_a_second_tab_sees_the_first_tabs_change(self):
        second = self.browser.open_tab(self.panel.url)
        wait_for(lambda: second.evaluate("document.getElementById('connection').textContent") == "connected",
                 "the second tab to connect")
        self.tab.evaluate("""(() => {
          const slider = document.getElementById('trigger');
          slider.value = 6250;
          slider.dispatchEvent(new Event('change'));
          document.getElementById('do-hex').value = '0x8001';
          document.getElementById('do-hex').dispatchEvent(new Event('change'));
        })()""")
        wait_for(lambda: second.evaluate("document.getElementById('trigger-value').textContent") == "6250",
                 "the trigger level in the second tab")
        wait_for(lambda: second.evaluate("document.getElementById('di-hex').textContent") == "0x8001",
                 "the inputs in the second tab")
        self.assertEqual(second.evaluate("document.getElementById('do-15').checked"), True)
        self.assertIn("data=04a0", self.panel.trace())  # level byte trunc(6250 x 0.0256) = 160
        second.call("Page.close")

    def test_f_a_wrong_token_and_a_page_of_another_origin_are_refused(self):
        other = self.browser.open_tab(self.panel.url.replace(self.panel.token, "0" * 32))
        self.assertTrue(other.evaluate("document.body.textContent").startswith("refused: the token"))
        # A page of another origin that knows the token still may not open the WebSocket.
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), ForeignPage)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            other.navigate("http://127.0.0.1:%d/" % server.server_address[1])
            outcome = other.evaluate("""new Promise((resolve) => {
              const socket = new WebSocket('ws://127.0.0.1:%d/ws?token=%s');
              socket.onopen = () => resolve('opened');
              socket.onerror = () => resolve('refused');
            })""" % (self.panel.port, self.panel.token))
            self.assertEqual(outcome, "refused")
        finally:
            server.shutdown()
            server.server_close()
        other.call("Page.close")

    def test_g_a_da_write_shows_the_reported_value_and_a_failure_shows_in_the_log(self):
        self.tab.evaluate("""(() => {
          document.getElementById('da-value-2').value = 2048;
          document.getElementById('da-write-2').click();
        })()""")
        wait_for(lambda: self.tab.evaluate("document.getElementById('da-reported-2').textContent") == "2048",
                 "the DA value the card reports")
        self.assertEqual(self.tab.evaluate("document.getElementById('da-reported-0').textContent"), "never written")
        self.tab.evaluate("send({type: 'select-card', card: 5})")  # no card there
        row = wait_for(lambda: self.tab.evaluate(
            "[...document.querySelectorAll('#log tbody tr:first-child td')].map(c => c.textContent)"), "a log entry")
        self.assertEqual(row[1:], ["KVD4093_CreateDevice", "Sorry, there are no device drivers found in your system",
                                   "Sorry, there are no device drivers found in your system"])
        self.assertIn("virtual card 5 does not exist", self.tab.evaluate("document.getElementById('error').textContent"))
        self.assertIn("running", self.tab.evaluate("document.getElementById('run-status').textContent"),
                      "the card that is open stays open and running")

    def test_h_screenshot(self):
        self.assertEqual(self.tab.evaluate("connections"), 1, "the page lost its connection")
        gaps = self.tab.evaluate("chart.gaps")
        self.assertEqual(gaps, 0, "the chart missed columns")
        # Paused, so the picture holds one whole drawing of the chart.
        self.tab.evaluate("document.getElementById('pause').click()")
        folder = support.options.artifacts or self.panel.folder
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "panel.png")
        self.tab.screenshot(path)
        with open(path, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        print("screenshot: " + path)


if __name__ == "__main__":
    sys.argv = support.take_options()
    if support.find_chromium() is None:
        print("SKIPPED: the panel's browser tests need chromium (Debian: apt-get install chromium)")
        sys.exit(support.SKIP)
    unittest.main(verbosity=2)
