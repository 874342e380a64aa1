"""The acquisitions `kvd4093 acquire --publish` sends to an MQTT broker, as
the blocks of a local Stream are (docs/mqtt.md):

    for source, block in kvd4093.subscribe("mqtt://broker.lab/daq/#"):
        print(source, block.first_scan, block.shape)   # "bench1/7", a ScanArray

The MQTT client is paho-mqtt (Debian: python3-paho-mqtt), imported only
when subscribe() is called, so that the rest of the package works without
it. The password of mqtt://USER@HOST/... comes from the environment
variable KVD4093_MQTT_PASSWORD unless one is given.
"""

import datetime
import json
import os
import queue
import struct
import urllib.parse

import numpy

from .stream import Gap, Timing, _scan_array

PASSWORD_VARIABLE = "KVD4093_MQTT_PASSWORD"
# The ai message's header (docs/mqtt.md): magic, version, header size, run
# identifier, first scan, scans lost before, scans, channels, reserved.
HEADER = struct.Struct("<4sHHQQQIHH")
MAGIC = b"KVDB"
BLOCK_FORMAT = 1
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def _address(url):
    parts = urllib.parse.urlsplit(url, allow_fragments=False)  # "#" is the wildcard here
    if parts.scheme not in ("mqtt", "mqtts") or not parts.hostname:
        raise ValueError("%r is not mqtt://HOST[:PORT]/PREFIX/# or mqtts://..." % url)
    if parts.password is not None:
        raise ValueError("give the password in %s, not in the address" % PASSWORD_VARIABLE)
    topic = parts.path.lstrip("/")
    prefix = topic[:-2] if topic.endswith("/#") else topic
    if not prefix:
        raise ValueError("%r names no topic prefix" % url)
    return parts, prefix


def _timing(meta):
    return Timing(_EPOCH + datetime.timedelta(microseconds=meta["start_utc_ns"] // 1000),
                  meta["start_monotonic_ns"] / 1e9, meta["scan_rate_hz"], meta["first_scan_after_start_s"])


class _Source:
    """One publisher's run: its meta message and the scan its next block should start at."""

    def __init__(self, meta):
        self.run_id = int(meta["run_id"], 16)
        self.channels = len(meta["channels"])
        self.timing = _timing(meta)
        self.next_scan = 0

    def block(self, payload):
        magic, version, header_size, run_id, first, lost, scans, channels, _ = HEADER.unpack_from(payload)
        if magic != MAGIC or version != BLOCK_FORMAT or run_id != self.run_id or channels != self.channels:
            return None
        data = numpy.frombuffer(payload, dtype="<u2", offset=header_size).reshape(scans, channels)
        skip = min(scans, max(self.next_scan - first, 0))  # sent again after a reconnection
        first += skip
        jump = first - self.next_scan
        gaps = ((0, Gap(self.next_scan, jump)),) if jump > 0 else ()
        self.next_scan = first + scans - skip
        if scans - skip == 0 and jump <= 0:
            return None
        # A block of no scans carries the scans dropped after the last one.
        return _scan_array(data[skip:].astype(numpy.uint16), first, gaps, self.timing)


def subscribe(url, password=None, ca_file=None, timeout=None):
    """Yields (source, ScanArray) for every block published under the
    address's prefix, source being "HOST/ID"; each array's first_scan, gaps,
    scan_rate and start times are those a local Stream gives. Ends after
    `timeout` seconds without a block (None: never); leaving the loop
    disconnects."""
    import paho.mqtt.client as mqtt  # noqa: PLC0415 - only here: the package works without it

    parts, prefix = _address(url)
    messages = queue.Queue()
    client = mqtt.Client()
    if parts.username:
        client.username_pw_set(parts.username, password if password is not None else os.environ.get(PASSWORD_VARIABLE))
    if parts.scheme == "mqtts":
        client.tls_set(ca_certs=ca_file)
    client.on_connect = lambda c, userdata, flags, rc: c.subscribe(prefix + "/#", qos=1) if rc == 0 else None
    client.on_message = lambda c, userdata, message: messages.put((message.topic, message.payload))
    client.connect(parts.hostname, parts.port or (8883 if parts.scheme == "mqtts" else 1883))
    client.loop_start()
    sources = {}
    try:
        while True:
            try:
                topic, payload = messages.get(timeout=timeout)
            except queue.Empty:
                return
            levels = topic[len(prefix) + 1:].split("/")
            if len(levels) != 3:
                continue
            source = "/".join(levels[:2])
            if levels[2] == "meta":
                meta = json.loads(payload)
                if source not in sources or sources[source].run_id != int(meta["run_id"], 16):
                    sources[source] = _Source(meta)
            elif levels[2] == "ai" and source in sources:
                block = sources[source].block(payload)
                if block is not None:
                    yield source, block
    finally:
        client.loop_stop()
        client.disconnect()
