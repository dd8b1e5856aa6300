#!/usr/bin/env python3
"""The frame's cost beside its floor, in one run under the same llvmpipe: frame_floor.exe draws
only the full-window passes (two copies, the background quad, 30 blended blur layers) at the
plug-in's size; the plug-in then draws whole frames with 1 and with 256 spheres.

    _frame_bench.py [--size WxH] [--json FILE [--cpu-json FILE] [--command-ms N]]

--json writes the figures, with the plug-in's own CPU figures read from --cpu-json (what
frame_cpu_bench wrote), a command's fixed cost from --command-ms (what bench.sh measured) and the
export's from --export-json (what _video.py bench wrote), as {"cpu_frame_ms": {...},
"llvmpipe_frame_ms": {"floor", "1", "256"}, "command_overhead_ms": N, "export_ms_per_frame" and
"first_frame_s", {"native", "wine"} each}.

Steady frames only: each case runs twice with different frame counts, and the difference of the
two loops' times over the difference of the counts is the time of one frame (Init, the first
frame's model loads and the shaders' first compilation drop out). The better of two rounds."""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import _run
from _host_run import (DEFAULT_OPTIONS, START_TIMEOUT, Failure, WineSession, bin_folder, command_build,
                       launch_host, parse_size, prepare_plugin, read_events, say, stop)

ROUNDS = 2
HOST_ARGUMENTS = ["--delay", "0", "--clock-ms", "40", "--spectrum", "constant:20"]


def loop_ms(folder, dll, frames, build):
    host, events_path = launch_host(folder, dll, ["--frames", str(frames)] + HOST_ARGUMENTS, build)
    try:
        host.wait(START_TIMEOUT + 60 * frames)
    except subprocess.TimeoutExpired:
        stop(host)
        raise Failure("the plug-in did not finish %d frames" % frames)
    end = [e for e in read_events(events_path) if e["event"] == "end"]
    if not end or end[0]["frames"] != frames:
        raise Failure("the plug-in stopped before %d frames (see %s)" % (frames, events_path))
    return end[0]["loop_ms"]


def plugin_frame_ms(folder, spheres, size, frames):
    options = os.path.join(folder, "useropt-%d.cfg" % spheres)
    record = bytearray(DEFAULT_OPTIONS)
    struct.pack_into("<2i", record, 0, *size)
    struct.pack_into("<i", record, 40, spheres)
    with open(options, "wb") as f:
        f.write(record)
    run_folder = os.path.join(folder, "spheres-%d" % spheres)
    os.makedirs(run_folder)
    dll, _, build = prepare_plugin(run_folder, None, options, None)
    few, many = frames
    return (loop_ms(run_folder, dll, many, build) - loop_ms(run_folder, dll, few, build)) / (many - few)


def floor_frame_ms(size, frames, build):
    result = subprocess.run([build.loader, os.path.join(bin_folder(build), "frame_floor.exe"), str(size[0]), str(size[1]),
                             str(frames)], capture_output=True, timeout=START_TIMEOUT + 10 * frames)
    lines = [line for line in result.stdout.decode("latin-1").splitlines() if line.startswith("{")]
    if result.returncode != 0 or not lines:
        raise Failure("frame_floor.exe failed: " + result.stderr.decode("latin-1").strip()[-300:])
    return json.loads(lines[-1])["ms_per_frame"]


def write_figures(path, cpu_path, llvmpipe, command_ms, export=None):
    """The run's figures as JSON, written under a temporary name and renamed."""
    cpu = {}
    if cpu_path:
        with open(cpu_path) as f:
            cpu = json.load(f)
    figures = {"cpu_frame_ms": cpu, "llvmpipe_frame_ms": llvmpipe}
    if command_ms is not None:
        figures["command_overhead_ms"] = command_ms
    figures.update(export or {})
    _run.write_json(path, figures)
    say("Figures written to %s" % path)


def main(argv):
    parser = argparse.ArgumentParser(prog="./halcyon bench", description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="512x384")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--cpu-json", help="the plug-in's own CPU figures, to add to --json")
    parser.add_argument("--command-ms", type=int, help="a command's fixed cost, to add to --json")
    parser.add_argument("--export-json", help="the export's figures (_video.py bench --json): the native export is "
                                              "set beside the floor, and they go into --json")
    args = parser.parse_args(argv)
    size = parse_size(args.size)
    _run.begin("bench")
    folder = tempfile.mkdtemp(prefix="halcyon-frame-bench-")
    try:
        floor, one, many = [], [], []
        build = command_build()
        with WineSession(build, screen=size):
            for round_number in range(ROUNDS):
                round_folder = os.path.join(folder, "round%d" % round_number)
                os.makedirs(round_folder)
                floor.append(floor_frame_ms(size, 40, build))
                one.append(plugin_frame_ms(round_folder, 1, size, (5, 35)))
                many.append(plugin_frame_ms(round_folder, 256, size, (3, 8)))
        floor_ms, one_ms, many_ms = min(floor), min(one), min(many)
        say("Frames at %dx%d (ms per frame, llvmpipe under Wine):" % size)
        say("  floor: copies, background, 30 blur layers  %8.1f" % floor_ms)
        say("  the plug-in, 1 sphere                      %8.1f   %5.2f x the floor (aim: at most 1.1)" %
            (one_ms, one_ms / floor_ms))
        say("  the plug-in, 256 spheres                   %8.1f   %5.2f x the floor (aim: at most 1.5)" %
            (many_ms, many_ms / floor_ms))
        export = None
        if args.export_json:
            with open(args.export_json) as f:
                export = json.load(f)
            native_ms = export.get("export_ms_per_frame", {}).get("native")
            if native_ms:
                say("  the native export of the music, 1 sphere   %8.1f   %5.2f x the floor (H.264 included)" %
                    (native_ms, native_ms / floor_ms))
        if args.json:
            try:
                write_figures(args.json, args.cpu_json, {"floor": floor_ms, "1": one_ms, "256": many_ms},
                              args.command_ms, export)
            except (OSError, ValueError) as error:
                say("frame bench: cannot write the figures to %s: %s" % (args.json, error))
                return 1
        return 0
    except Failure as failure:
        say("frame bench: %s" % failure)
        return 1
    except KeyboardInterrupt:
        say("frame bench: interrupted.")
        return 130
    finally:
        _run.close()  # ends the run's Wine and children before the folder goes
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
