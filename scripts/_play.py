#!/usr/bin/env python3
"""./halcyon play --wine|--plugin: a DLL's visualization live in a window on the user's display
under Wine, with the sound where there is an output for it: ffmpeg plays it and the host takes the
spectrum rows of the time since the start (--realtime), starting its first frame when told
(--wait-for), once the plug-in is up. Our plug-in natively is halcyonsphere play.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

import _run
from _host_run import (PRODUCT, START_TIMEOUT, Failure, analyse, check_audio, check_tools,
                       parse_seconds, parse_size, prepare_player, read_events, say, seconds_text,
                       spawn, stop, unknown_messages)


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
    size = parse_size(args.size) if args.size else None
    start = parse_seconds(args.start, "start", True)
    check_tools("ffmpeg")
    rate = (60, 1)  # rows a second: finer than any frame rate the plug-in reaches here
    folder = tempfile.mkdtemp(prefix="play-", dir=_run.current().folder)
    host = player = None
    try:
        stream = os.path.join(folder, "spectrum.hsps")
        info = analyse(audio, stream, rate, start)
        length = info["frames"] / rate[0]
        runner, _ = prepare_player(folder, args.plugin, args.options, size)
        device = audio_output()
        go = os.path.join(folder, "go")
        name = args.plugin or PRODUCT
        with runner.session(own_display=False):
            arguments = ["--spectrum", "stream:" + runner.path(stream), "--realtime", "--wait-for", runner.path(go),
                         "--track", runner.path(audio)]
            host, events_path = runner.launch(folder, arguments)
            deadline = time.monotonic() + START_TIMEOUT
            while not any(e["event"] == "ready" for e in read_events(events_path)):
                if host.poll() is not None:
                    raise Failure(runner.explain(folder, host, name))
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
            while host.poll() is None:
                if tty:
                    sys.stderr.write("\r  %s / %s " % (seconds_text(time.monotonic() - began), seconds_text(length)))
                    sys.stderr.flush()
                time.sleep(0.25)
            if tty:
                sys.stderr.write("\n")
            events = read_events(events_path)
            end = [e for e in events if e["event"] == "end"]
            if not end:
                raise Failure(runner.explain(folder, host, name))
            asked = unknown_messages(events)
            if asked:
                say("Note: " + asked + ".")
            reason = end[0]["reason"]
            if reason == "stream_end":
                say("Played to the end.")
            elif reason == "quit_message":
                say("Stopped at %s: the window was closed." % seconds_text(time.monotonic() - began))
            else:
                raise Failure(runner.explain(folder, host, name))
        return 0
    finally:
        stop(player)
        stop(host)
        if os.environ.get("HALCYON_KEEP_RUNS") != "1":
            shutil.rmtree(folder, ignore_errors=True)
