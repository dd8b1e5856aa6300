#!/usr/bin/env python3
"""./halcyon listen --plugin PATH | --wine: the visualization of what the computer plays, live in a
window on the user's display, by a plug-in under Wine: another one (--plugin) or our DLL (--wine).
live_stream captures the desktop's sound (the default output's monitor, or --source) and writes a
live spectrum stream into the host's stdin; the host hands the plug-in the newest record before
each frame, at the plug-in's own pace, until the user quits (Escape or the close box) or Ctrl-C.
"""

import argparse
import errno
import os
import shutil
import subprocess
import sys
import tempfile
import time

import _run
from _video import Parser, refuse_empty_values
from _host_run import (PRODUCT, START_TIMEOUT, TOOLS, Failure, parse_size, prepare_player, read_events, say,
                       seconds_text, spawn, stop, unknown_messages)

RATE = 60  # records a second: about a display's refresh, finer than a plug-in's frames under Wine
STOP_GRACE = 0.5  # seconds each child is given to end on SIGTERM before it is killed


def start_capture(folder, source):
    """live_stream, once it has said what it captures; (the process, the read end of its stream)."""
    program = os.path.join(TOOLS, "live_stream")
    if not os.path.exists(program):
        raise Failure("%s is missing; ./halcyon listen builds it" % program)
    command = [program, "--rate", str(RATE)] + (["--source", source] if source else [])
    errors = os.path.join(folder, "live_stream.err")
    with open(errors, "wb") as err:
        capture = spawn(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err)
    # No sound server, or no such source: it says so in one line and ends before its header.
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        with open(errors, "rb") as f:
            said = f.read().decode("utf-8", "replace").splitlines()
        if capture.poll() is not None:
            raise Failure(said[-1].split(": ", 1)[-1] if said else "the live capture ended at its start")
        if said:
            say(said[0].split(": ", 1)[-1][:1].upper() + said[0].split(": ", 1)[-1][1:] + ".")
            return capture
        time.sleep(0.02)
    raise Failure("the live capture did not start within 20 seconds")


def listen(args):
    if not os.environ.get("DISPLAY"):
        raise Failure("listen shows the visualization in a window and needs a display (DISPLAY is not set)")
    size = parse_size(args.size) if args.size else None
    folder = tempfile.mkdtemp(prefix="listen-", dir=_run.current().folder)
    capture = host = None
    try:
        runner, _ = prepare_player(folder, args.plugin, args.options, size, video=False)
        name = args.plugin or PRODUCT
        capture = start_capture(folder, args.source)
        with runner.session(own_display=False):
            host, events_path = runner.launch(folder, ["--spectrum", "stream:-"], stdin=capture.stdout)
            capture.stdout.close()  # the host's now: it ends the capture when it goes
            deadline = time.monotonic() + START_TIMEOUT
            while not any(e["event"] == "frame" for e in read_events(events_path)):
                if host.poll() is not None:
                    raise Failure(runner.explain(folder, host, name))
                if capture.poll() is not None:
                    raise Failure("the live capture ended before the first frame")
                if time.monotonic() > deadline:
                    raise Failure("the plug-in did not start within %d seconds" % START_TIMEOUT)
                time.sleep(0.02)
            say("Showing what the computer plays; Escape or closing the window ends it.")
            began = time.monotonic()
            while host.poll() is None and capture.poll() is None:
                time.sleep(0.1)
            stop(capture, STOP_GRACE)  # its stream's end ends the host, if the host is still there
            try:
                host.wait(5)
            except subprocess.TimeoutExpired:
                pass
            events = read_events(events_path)
            if args.log:
                shutil.copyfile(events_path, args.log)
            end = [e for e in events if e["event"] == "end"]
            if not end:
                raise Failure(runner.explain(folder, host, name))
            asked = unknown_messages(events)
            if asked:
                say("Note: " + asked + ".")
            reason = end[0]["reason"]
            if reason == "quit_message":
                cause = next((e.get("cause") for e in events if e["event"] == "quit_message"), None)
                after = seconds_text(time.monotonic() - began)
                say("Stopped by Escape after %s." % after if cause == "escape" else
                    "Stopped after %s: the window was closed." % after if cause == "close" else
                    "Stopped after %s: the plug-in was closed." % after)
            elif reason == "stream_end":
                raise Failure("the live capture ended after %s" % seconds_text(time.monotonic() - began))
            else:
                raise Failure(runner.explain(folder, host, name))
        return 0
    finally:
        stop(capture, STOP_GRACE)
        stop(host, STOP_GRACE)
        if os.environ.get("HALCYON_KEEP_RUNS") != "1":
            shutil.rmtree(folder, ignore_errors=True)


def main(argv):
    parser = Parser(prog="./halcyon listen", description="What the computer plays, visualized live in a window by a plug-in "
                                                 "under Wine: another visualization plug-in (--plugin) or ours as "
                                                 "the DLL (--wine). Escape or closing the window ends it.")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--plugin", metavar="PATH", help="a visualization DLL, run beside its own files")
    which.add_argument("--wine", action="store_true", help="our plug-in as the Windows DLL")
    parser.add_argument("--source", metavar="NAME", help="a sound source other than the default output's monitor")
    parser.add_argument("--size", metavar="WxH", help="our plug-in's window (default: the options file's)")
    parser.add_argument("--options", metavar="FILE", help="our plug-in's options file (useropt.cfg) to use")
    parser.add_argument("--log", help=argparse.SUPPRESS)  # a copy of the host's event log, for the tests
    args = parser.parse_args(argv)
    refuse_empty_values(parser, args)
    try:
        _run.begin("listen")
        try:
            return listen(args)
        finally:
            _run.close()
    except Failure as failure:
        _run.tell("halcyon listen: %s" % failure)
        return failure.status
    except OSError as error:
        if error.errno == errno.EPIPE:
            return 0
        _run.tell("halcyon listen: %s" % (error.strerror or error))
        return 1
    except KeyboardInterrupt:
        _run.tell("halcyon listen: interrupted.")
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
