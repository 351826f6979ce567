"""A paced run of the program with --metrics, its file read over and over while the program
replaces it, each time by Prometheus' own text parser: every read parses whole, with every
metric named, typed and described, counters that never go back, and at the end a byte counter
that equals what the device got.

Usage: MetricsParse.py PROGRAM FAKE_LIBRARY_DIR. Exits 77 (skipped) without prometheus_client.
"""

import os
import subprocess
import sys
import tempfile
import time

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("Skipped: no prometheus_client (Debian: python3-prometheus-client)")
    sys.exit(77)

# Family name (as the parser gives it: counters without _total) and its type.
EXPECTED = {
    "iqfeeder_build_info": "gauge",
    "iqfeeder_start_time_seconds": "gauge",
    "iqfeeder_running": "gauge",
    "iqfeeder_device_bytes": "counter",
    "iqfeeder_device_write_failures": "counter",
    "iqfeeder_device_short_writes": "counter",
    "iqfeeder_device_reconnects": "counter",
    "iqfeeder_device_open": "gauge",
    "iqfeeder_input_bytes": "counter",
    "iqfeeder_live_backlog_seconds": "gauge",
    "iqfeeder_live_steps_back": "counter",
    "iqfeeder_live_jumps": "counter",
    "iqfeeder_live_bytes_skipped": "counter",
    "iqfeeder_network_datagrams_dropped": "counter",
    "iqfeeder_network_senders": "counter",
    "iqfeeder_console_lines_lost": "counter",
    "iqfeeder_last_write_timestamp_seconds": "gauge",
}
# Twelve buffers, the last padded with zeros.
RECORDING_BYTES = 380000
SENT_BYTES = 384000
BYTES_PER_SECOND = 128000


def read(path):
    """The file's samples, {(name, sorted labels): value}, after checking its families."""
    with open(path, encoding="utf-8") as file:
        text = file.read()
    families = {family.name: family for family in text_string_to_metric_families(text)}
    problems = []
    for name, kind in EXPECTED.items():
        family = families.get(name)
        if family is None:
            problems.append(f"{name} missing")
        elif family.type != kind or not family.documentation:
            problems.append(f"{name}: type {family.type}, help {family.documentation!r}")
    if problems:
        raise AssertionError("; ".join(problems) + "\n" + text)
    return {
        (sample.name, tuple(sorted(sample.labels.items()))): sample.value
        for family in families.values()
        for sample in family.samples
    }


def main():
    program, library = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        recording = os.path.join(folder, "recording.iq")
        with open(recording, "wb") as file:
            file.write(bytes(i * 7 % 251 + 1 for i in range(RECORDING_BYTES)))
        capture = os.path.join(folder, "device.bin")
        metrics = os.path.join(folder, "iqfeeder.prom")
        environment = dict(os.environ, LD_LIBRARY_PATH=library, FAKE_FTD2XX_DEVICES="1",
                           FAKE_FTD2XX_CAPTURE=capture,
                           FAKE_FTD2XX_BYTES_PER_SECOND=str(BYTES_PER_SECOND))
        started = time.time()
        child = subprocess.Popen([program, "--stats=1", f"--metrics={metrics}", recording],
                                 env=environment, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        reads = 0
        last = {}
        deadline = time.monotonic() + 60  # a hung program ends the test, not the suite
        while child.poll() is None and time.monotonic() < deadline:
            if os.path.exists(metrics):
                samples = read(metrics)
                for key, value in samples.items():
                    if key[0].endswith("_total") and value < last.get(key, 0):
                        raise AssertionError(f"{key} went back from {last[key]} to {value}")
                last = samples
                reads += 1
            time.sleep(0.002)
        if child.poll() is None:
            child.kill()
            raise AssertionError("the program did not end")
        if child.returncode != 0:
            raise AssertionError(f"the program exited {child.returncode}")

        samples = read(metrics)
        with open(capture, "rb") as file:
            got = len(file.read())
        checks = {
            ("iqfeeder_running", ()): 0,
            ("iqfeeder_device_bytes_total", ()): got,
            ("iqfeeder_input_bytes_total", ()): RECORDING_BYTES,
            ("iqfeeder_device_write_failures_total", ()): 0,
            ("iqfeeder_device_open", ()): 0,
        }
        for key, value in checks.items():
            if samples.get(key) != value:
                raise AssertionError(f"{key}: {samples.get(key)}, not {value}")
        if got != SENT_BYTES:
            raise AssertionError(f"the device got {got} bytes, not {SENT_BYTES}")
        info = [key for key in samples if key[0] == "iqfeeder_build_info"]
        if len(info) != 1 or ("driver", "maker") not in info[0][1] or (
                "input_kind", "file") not in info[0][1]:
            raise AssertionError(f"build info: {info}")
        start = samples[("iqfeeder_start_time_seconds", ())]
        written = samples[("iqfeeder_last_write_timestamp_seconds", ())]
        if not started - 1 <= start <= written <= time.time():
            raise AssertionError(f"started {started}, start {start}, last write {written}")
        if reads < 2:
            raise AssertionError(f"only {reads} reads while the program ran")
        print(f"{reads} reads while the program ran, each parsed whole; "
              f"the device got {got} bytes, as the file says")


if __name__ == "__main__":
    main()
