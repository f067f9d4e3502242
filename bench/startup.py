#!/usr/bin/env python3
"""Measures the time from starting PeloTest to its "Listening on" line.

    startup.py BINARY SETTINGS RUNS PIDFILE

Prints "startup_ms=<median> runs=<list>" on success. Each started process is appended to
PIDFILE (so that bench/run stops it should this helper die) and stopped here with SIGTERM.
"""

import os
import signal
import statistics
import subprocess
import sys
import time


def one_run(binary, settings, pidfile):
    start = time.monotonic()
    proc = subprocess.Popen(
        [binary, "--headless", "--settings", settings],
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
    )
    with open(pidfile, "a") as f:
        f.write("%d\n" % proc.pid)
    try:
        line = proc.stdout.readline()  # blocks until the first line or the process ends
        elapsed = time.monotonic() - start
        if not line.startswith(b"Listening on http://"):
            raise RuntimeError("no listening line, got %r" % line[:200])
        return elapsed * 1000.0
    finally:
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if proc.returncode not in (0, None):
            raise RuntimeError("exit status %d after SIGTERM" % proc.returncode)


def main():
    binary, settings, runs, pidfile = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    original = open(settings, "rb").read()
    times = []
    try:
        for _ in range(runs):
            # Every run starts from the same file (a run saves its state at exit).
            with open(settings, "wb") as f:
                f.write(original)
            times.append(one_run(binary, settings, pidfile))
    except Exception as e:  # reported as the last line, the caller shows it
        print("error: %s" % e)
        return 1
    print(
        "startup_ms=%.1f runs=%s"
        % (statistics.median(times), ",".join("%.0f" % t for t in times))
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
