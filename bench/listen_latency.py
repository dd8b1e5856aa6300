#!/usr/bin/env python3
"""bench/listen_latency.py PROGRAM PROBE CLICKS: the click-to-frame time through halcyonsphere
listen, with the sound server and the display its caller (listen_latency.sh) set up. PROGRAM
listen draws in its window and logs each frame (its rows' loudness, when it reached the screen);
PROBE --play-clicks plays clicks into the default output meanwhile. A click shows in the first
frame after its write whose rows, on both channels, are as loud as the click's own; one JSON
object: listen_latency_ms (the median), its largest, the frames' rate, how far behind the moment
the click was heard the frame came (behind_heard_ms), and the clicks missed."""

import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def frames_of(log):
    with open(log, "rb") as f:
        events = [json.loads(line) for line in f.read().decode("latin-1").splitlines() if line.endswith("}")]
    return [e for e in events if e["event"] == "live_frame"]


def main(argv):
    program, probe, clicks = argv[1], argv[2], argv[3]
    folder = tempfile.mkdtemp(prefix="halcyon-listen-frames-")
    log = os.path.join(folder, "events.jsonl")
    # Small: on software GL a big window's frames come too far apart to catch a 50 ms click.
    listen = subprocess.Popen([program, "listen", "--size", "64x48", "--log", log], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 60
        while not (os.path.exists(log) and len(frames_of(log)) >= 30):
            if listen.poll() is not None or time.monotonic() > deadline:
                sys.stderr.write("listen latency: listen drew no frames: %s\n" % listen.communicate()[1].decode())
                return 1
            time.sleep(0.1)
        played = subprocess.run([probe, "--play-clicks", clicks], capture_output=True, timeout=600)
        time.sleep(1.0)  # the last click's frames
    finally:
        listen.send_signal(signal.SIGTERM)
        listen.communicate(timeout=60)
    if played.returncode != 0:
        sys.stderr.write(played.stderr.decode())
        return 1
    lines = [json.loads(line) for line in played.stdout.decode().splitlines()]
    threshold = lines[0]["threshold"]
    frames = frames_of(log)
    os.remove(log)
    os.rmdir(folder)
    latencies, behind, missed = [], [], 0
    for click in lines[1:]:
        shown = next((f for f in frames if f["shown_at"] >= click["written_at"] and
                      f["left"] >= threshold and f["right"] >= threshold), None)
        if not shown or shown["shown_at"] - click["written_at"] > 1.0:
            missed += 1
            continue
        latencies.append(1000 * (shown["shown_at"] - click["written_at"]))
        behind.append(1000 * (shown["shown_at"] - click["heard_at"]))
    if not latencies:
        sys.stderr.write("listen latency: no click showed within a second of its write\n")
        return 1
    span = frames[-1]["shown_at"] - frames[0]["shown_at"]
    print(json.dumps({"listen_latency_ms": round(statistics.median(latencies), 1),
                      "listen_latency_max_ms": round(max(latencies), 1),
                      "behind_heard_ms": round(statistics.median(behind), 1),
                      "frames_per_second": round((len(frames) - 1) / span, 1) if span > 0 else None,
                      "clicks": len(lines) - 1, "missed": missed}))
    return 0 if missed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
