#!/usr/bin/env python3
"""./halcyon play --wine|--plugin: a DLL's visualization live in a window on the user's display
under Wine, with the sound where there is an output for it: ffmpeg plays it and the host takes the
spectrum rows of the time since the start (--realtime), starting its first frame when told
(--wait-for), once the plug-in is up. Our plug-in natively is halcyonsphere play.
"""

import glob
import json
import os
import re
import socket
import shutil
import subprocess
import sys
import tempfile
import time

import _run
from _host_run import (PRODUCT, START_TIMEOUT, Analysis, Failure, check_audio, check_tools,
                       parse_seconds, parse_size, prepare_player, read_events, say, seconds_text,
                       spawn, stop, unknown_messages)


def x_server_answers(display):
    """Whether a local X server listens at the display (:N, unix:N); True for one on another host,
    which only connecting with X itself would tell."""
    found = re.fullmatch(r"(?:unix)?:(\d+)(?:\.\d+)?", display)
    if not found:
        return True
    path = "/tmp/.X11-unix/X" + found.group(1)
    for address in ("\0" + path, path):  # Linux's abstract socket first, as Xlib tries it
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.settimeout(2)
            try:
                connection.connect(address)
                return True
            except OSError:
                continue
    return False


def audio_output():
    """ffmpeg's arguments for a sound output that works here, or None."""
    candidates = []
    runtime = os.environ.get("XDG_RUNTIME_DIR", "/run/user/%d" % os.getuid())
    if os.environ.get("PULSE_SERVER") or os.path.exists(os.path.join(runtime, "pulse", "native")):
        candidates.append(["-f", "pulse", "Halcyonsphere"])
    if glob.glob("/dev/snd/pcmC*D*p"):
        candidates.append(["-f", "alsa", "default"])
    for device in candidates:
        try:
            probe = subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "quiet", "-f", "lavfi",
                                    "-i", "anullsrc=r=44100:cl=stereo", "-t", "0.05"] + device,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=10, start_new_session=True)
        except subprocess.TimeoutExpired:
            continue
        if probe.returncode == 0:
            return device
    return None


def play(args):
    audio = args.audio
    check_audio(audio)
    if not os.environ.get("DISPLAY"):
        raise Failure("play shows the visualization in a window and needs a display (DISPLAY is not "
                      "set); ./halcyon render makes a video instead")
    if not x_server_answers(os.environ["DISPLAY"]):
        raise Failure("play shows the visualization in a window, but no X server answers at DISPLAY=%s; "
                      "./halcyon render makes a video instead" % os.environ["DISPLAY"])
    size = parse_size(args.size, video=False) if args.size else None  # a window: odd sides too
    start = parse_seconds(args.start, "start", True)
    check_tools("ffmpeg")
    rate = (60, 1)  # rows a second: finer than any frame rate the plug-in reaches here
    folder = tempfile.mkdtemp(prefix="play-", dir=_run.current().folder)
    host = player = analysis = None
    try:
        # Streamed into the host as it plays: a long song costs what a short one does.
        analysis = Analysis(audio, folder, rate, start)
        info = analysis.info
        length = info["frames"] / rate[0]
        runner, _ = prepare_player(folder, args.plugin, args.options, size, video=False)
        device = audio_output()
        go = os.path.join(folder, "go")
        name = args.plugin or PRODUCT
        with runner.session(own_display=False):
            arguments = ["--spectrum", "stream:-", "--realtime", "--wait-for", runner.path(go),
                         "--track", runner.path(audio)]
            host, events_path = runner.launch(folder, arguments, stdin=analysis.stream)
            analysis.close_stream()

            def host_failed():
                # An analysis that broke off ends the host's rows early: its own reason comes first.
                return analysis.failure(0.5) or runner.explain(folder, host, name)

            deadline = time.monotonic() + START_TIMEOUT
            while not any(e["event"] == "ready" for e in read_events(events_path)):
                if host.poll() is not None:
                    raise Failure(host_failed())
                if time.monotonic() > deadline:
                    raise Failure("the plug-in did not start within %d seconds" % START_TIMEOUT)
                time.sleep(0.02)
            if device is None:
                say("No sound output here (no PulseAudio server or sound card): playing silently.")
            else:
                player = spawn(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-ss", "%.3f" % start,
                                "-i", "file:" + os.path.abspath(audio), "-vn"] + device, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(0.1)  # about the time the player takes to open the device
            open(go, "w").close()
            say("Playing %s (%s) live; Escape or closing the window ends it." % (os.path.basename(audio),
                                                                                seconds_text(length)))
            began = time.monotonic()
            tty = sys.stderr.isatty()
            log = EventTail(events_path)
            stopped_at = quit_returned = stopped_by = None
            shown = -1
            while host.poll() is None:
                now = time.monotonic()
                for event in log.new():
                    if event["event"] == "quit_message" and stopped_at is None:
                        stopped_at = now - began
                        stopped_by = event.get("cause")
                    elif event["event"] == "quit":
                        quit_returned = now
                # The plug-in has quit: what is left is the host's own teardown, which under Wine
                # can take seconds (a display without a window manager): not worth waiting for.
                if quit_returned is not None and now - quit_returned > TEARDOWN_GRACE:
                    stop(host, grace=0.2)
                    break
                if tty and int(now - began) != shown:
                    shown = int(now - began)
                    sys.stderr.write("\r  %s / %s " % (seconds_text(now - began), seconds_text(length)))
                    sys.stderr.flush()
                    _run.line_open()
                time.sleep(0.05)
            if tty:
                sys.stderr.write("\n")
                _run.line_open(False)
            events = read_events(events_path)
            if stopped_by is None:  # the host may end before the loop reads its last lines
                stopped_by = next((e.get("cause") for e in events if e["event"] == "quit_message"), None)
            end = [e for e in events if e["event"] == "end"]
            reason = end[0]["reason"] if end else None
            if reason is None and quit_returned is not None:  # its teardown cut short: why it quit
                reason = ("quit_message" if stopped_at is not None else
                          "stream_end" if quit_returned - began >= length - 0.5 else None)
            if reason is None:
                raise Failure(host_failed())
            asked = unknown_messages(events)
            if asked:
                say("Note: " + asked + ".")
            if reason == "stream_end":
                say("Played to the end.")
            elif reason == "quit_message":
                say(stop_sentence(stopped_by, time.monotonic() - began if stopped_at is None else stopped_at))
            else:
                raise Failure(host_failed())
        return 0
    finally:
        with _run.stopping() as telling:
            if analysis is not None:
                telling.step("stopping the analysis")
                analysis.stop()
            telling.step("stopping the sound")
            stop(player, grace=0.2)
            telling.step("stopping the host")
            stop(host, grace=0.5)
            if os.environ.get("HALCYON_KEEP_RUNS") != "1":
                shutil.rmtree(folder, ignore_errors=True)


def stop_sentence(cause, seconds):
    """What ended the run, as the host saw it ("escape", "close"; None where it could not tell)."""
    at = seconds_text(seconds)
    if cause == "escape":
        return "Stopped by Escape at %s." % at
    if cause == "close":
        return "The window was closed at %s." % at
    return "Stopped at %s: Escape or the close box." % at


TEARDOWN_GRACE = 0.3  # seconds the host gets to end by itself once the plug-in's Quit returned


class EventTail:
    """The events a log gained since the last look (whole lines only)."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b""

    def new(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return []
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        events = []
        for raw in lines:
            try:
                events.append(json.loads(raw.decode("ascii")))
            except ValueError:
                continue
        return events
