#!/usr/bin/env python3
"""Running the stand-alone host on real audio: the arguments the commands share, the analyser, the
plug-in's run folder, a Wine session with its own virtual display, and the host's event log read
back into one sentence when something went wrong. Used by _video.py (render, sheet, bench) and
_play.py (play).

The build folders come from HALCYON_WIN32_DIR (default build/win32) and HALCYON_TOOLS_DIR
(default build/release/tools); scripts/render.sh, play.sh, demo.sh and bench.sh build them first.
"""

import json
import os
import shutil
import signal
import struct
import subprocess
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build")
WIN32_DIR = os.environ.get("HALCYON_WIN32_DIR") or os.path.join(BUILD, "win32")
BIN = os.path.join(WIN32_DIR, "bin")
TOOLS = os.environ.get("HALCYON_TOOLS_DIR") or os.path.join(BUILD, "release", "tools")
HOST = os.path.join(BIN, "halcyon_host.exe")
PRODUCT = "vis_halcyonsphere.dll"
ASSETS = "vis_halcyonsphere_assets"
# The options record as the plug-in writes it on a first start: fourteen 32-bit integers.
DEFAULT_OPTIONS = struct.pack("<14i", 512, 384, 0, 1, 0, 0, 0, 512, 384, 768, 1, 1, 0, 2)
START_TIMEOUT = 300     # seconds from launching the host to its first frame


class Failure(Exception):
    """A clean stop: one message for the user and an exit status."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def say(text=""):
    print(text, flush=True)


def seconds_text(seconds):
    seconds = max(0, int(round(seconds)))
    return "%d:%02d" % (seconds // 60, seconds % 60)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------------------------------------
# Arguments


def parse_size(text):
    try:
        width, height = (int(v) for v in text.lower().split("x"))
    except ValueError:
        width = height = 0
    if not (16 <= width <= 4096 and 16 <= height <= 4096) or width % 2 or height % 2:
        raise Failure("bad size %r: give WIDTHxHEIGHT in even numbers from 16 to 4096, e.g. 1280x720" % text, 2)
    return width, height


def parse_fps(text):
    try:
        numerator, _, denominator = text.partition("/")
        numerator, denominator = int(numerator), int(denominator or 1)
    except ValueError:
        numerator = denominator = 0
    if numerator <= 0 or denominator <= 0 or not 1 <= numerator / denominator <= 240:
        raise Failure("bad frame rate %r: give frames a second from 1 to 240, e.g. 30 or 30000/1001" % text, 2)
    return numerator, denominator


def parse_seconds(text, name, allow_zero):
    try:
        value = float(text)
    except ValueError:
        value = -1
    if value != value or value < 0 or (value == 0 and not allow_zero) or value > 1e6:
        raise Failure("bad %s %r: give seconds, e.g. 12.5" % (name, text), 2)
    return value


def check_tools(*names):
    for name in names:
        if shutil.which(name) is None:
            raise Failure("%s is not installed; ./halcyon setup installs it" % name)
    for path in (HOST, os.path.join(TOOLS, "analyse_audio")):
        if not os.path.exists(path):
            raise Failure("%s is missing; build first (./halcyon build)" % path)


def check_audio(path):
    if not os.path.exists(path):
        raise Failure("no such audio file: %s" % path)
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        raise Failure("cannot read the audio file %s" % path)


# ---------------------------------------------------------------------------------------------
# Child processes: each in its own session, so that Ctrl-C reaches this script alone and the
# children are stopped in order.

_children = []


def spawn(command, **options):
    process = subprocess.Popen(command, start_new_session=True, **options)
    _children.append(process)
    return process


def stop(process, grace=3.0):
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(grace)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def stop_all():
    for process in reversed(_children):
        stop(process)


def raise_interrupt(signum, frame):
    raise KeyboardInterrupt


# ---------------------------------------------------------------------------------------------
# Wine


class WineSession:
    """Wine with a display: a private Xvfb (big enough for the frames) unless a session is
    already up or live play uses the user's display."""

    def __init__(self, screen=(1280, 1024), own_display=True):
        self.xvfb = None
        self.started_server = False
        self.nested = False
        self.screen = screen
        self.own_display = own_display

    def __enter__(self):
        env = os.environ
        if env.get("HALCYON_WINE_SESSION") == "1":
            self.nested = True
            return self
        env.setdefault("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
        env["WINEDEBUG"] = "-all"
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        env["WINEARCH"] = "win32"
        if self.own_display:
            display = next((n for n in range(220, 300) if not os.path.exists("/tmp/.X%d-lock" % n)
                            and not os.path.exists("/tmp/.X11-unix/X%d" % n)), None)
            if display is None:
                raise Failure("no free X display number for the virtual display")
            width, height = max(self.screen[0] + 64, 1280), max(self.screen[1] + 64, 1024)
            self.xvfb = spawn(["Xvfb", ":%d" % display, "-screen", "0", "%dx%dx24" % (width, height),
                               "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists("/tmp/.X11-unix/X%d" % display) or self.xvfb.poll() is not None:
                    break
                time.sleep(0.05)
            if self.xvfb.poll() is not None:
                raise Failure("the virtual display (Xvfb) did not start")
            env["DISPLAY"] = ":%d" % display
        if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
            say("Creating the Wine prefix (first time only, about 20 seconds)...")
            subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300, start_new_session=True)
        subprocess.run(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, start_new_session=True)
        self.started_server = True
        # Xvfb runs no window manager, and Wine would wait for one at every window it shows or
        # hides; on the user's display the window manager gives the window its close box.
        managed = ["add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"]
        if not self.own_display:
            managed = ["delete", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/f"]
        # DirectDraw plug-ins show their frames under Xvfb through Direct3D's GDI renderer.
        renderer = ["add", "HKCU\\Software\\Wine\\Direct3D", "/v", "renderer", "/d", "gdi", "/f"]
        for setting in (managed, renderer):
            subprocess.run(["wine", "reg"] + setting, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60, start_new_session=True)
        env["HALCYON_WINE_SESSION"] = "1"  # runs inside this one use it
        return self

    def __exit__(self, *exc):
        if not self.nested:
            os.environ.pop("HALCYON_WINE_SESSION", None)
        if self.started_server:
            subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60)
        stop(self.xvfb)
        return False


def read_events(path):
    events = []
    try:
        with open(path, "rb") as f:
            for raw in f.read().split(b"\n"):
                if raw.strip():
                    try:
                        events.append(json.loads(raw.decode("ascii")))
                    except ValueError:
                        break
    except OSError:
        pass
    return events


def unknown_messages(events):
    """The player messages the plug-in asked for that the host does not know (answered with 0),
    as a sentence, or None."""
    asked = ["%d (wParam %d)" % (e["lparam"], e["wparam"]) for e in events
             if e["event"] == "host_message" and not e.get("known", True)]
    if not asked:
        return None
    return "the plug-in asked the player for what the host does not know, answered with 0: " + ", ".join(asked)


def explain_host(events, stderr_path, plugin):
    """What went wrong in a host run, in one sentence."""
    for event in events:
        if event["event"] == "error":
            what = event.get("what")
            if what == "load_failed":
                return "cannot load the plug-in %s (Windows error %s)" % (plugin, event.get("code"))
            if what in ("export_missing", "no_header", "no_module"):
                return "%s is not a visualization plug-in (no usable winampVisGetHeader)" % plugin
            if event.get("text"):
                return "the host stopped: %s" % event["text"]
            return "the host stopped (%s)" % what
    init = [e for e in events if e["event"] == "init"]
    if init and init[0]["result"] != 0:
        boxes = [e.get("text", "").strip() for e in events if e["event"] == "message_box"]
        told = ": " + " / ".join('"%s"' % b for b in boxes if b) if any(boxes) else ""
        return "the plug-in failed to start%s" % told
    end = [e for e in events if e["event"] == "end"]
    if end and end[0].get("reason") == "quit_message":
        return "the plug-in asked to be stopped after %d frames" % end[0].get("frames", 0)
    try:
        with open(stderr_path, "rb") as f:
            tail = f.read().decode("latin-1").strip().splitlines()[-1:]
    except OSError:
        tail = []
    return "the host stopped unexpectedly" + (": " + tail[0] if tail else "")


# ---------------------------------------------------------------------------------------------
# The pieces of a run


def analyse(audio, stream, fps, start=0.0, seconds=None):
    command = [os.path.join(TOOLS, "analyse_audio"), audio, stream, "--fps", "%d/%d" % fps,
               "--start", repr(start)]
    if seconds is not None:
        command += ["--seconds", repr(seconds)]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            start_new_session=True)
    if result.returncode != 0:
        raise Failure((result.stderr.strip() or "the analysis of %s failed" % audio).splitlines()[-1])
    return json.loads(result.stdout)


def options_record(options_path, size):
    """The options file for our plug-in: the user's (or the defaults) with the size, windowed."""
    if options_path:
        try:
            with open(options_path, "rb") as f:
                record = bytearray(f.read())
        except OSError as error:
            raise Failure("cannot read the options file %s: %s" % (options_path, error.strerror))
        if len(record) < 12:
            raise Failure("%s is not an options file (%d bytes; it holds 56)" % (options_path, len(record)))
    else:
        record = bytearray(DEFAULT_OPTIONS)
    if size:
        struct.pack_into("<2i", record, 0, *size)
    struct.pack_into("<i", record, 8, 0)  # windowed: the frames are read from the window
    width, height = struct.unpack_from("<2i", record, 0)
    if not (16 <= width <= 4096 and 16 <= height <= 4096):
        raise Failure("the options file %s asks for %dx%d; give --size WxH" % (options_path, width, height))
    return bytes(record), (width, height)


def prepare_plugin(folder, plugin, options_path, size):
    """(Windows path of the DLL, the size it will draw at or None). Ours runs from a copy with a
    fresh asset folder; another plug-in runs where it lies, beside the files it keeps there."""
    if plugin:
        if not os.path.isfile(plugin):
            raise Failure("no such plug-in: %s" % plugin)
        if options_path:
            raise Failure("--options sets our plug-in's options; another plug-in keeps its own")
        return windows_path(plugin), None
    source = os.path.join(BIN, PRODUCT)
    if not os.path.exists(source):
        raise Failure("%s is missing; build first (./halcyon build)" % source)
    target = os.path.join(folder, "plugin")
    os.makedirs(target)
    shutil.copy2(source, target)
    shutil.copytree(os.path.join(BIN, ASSETS), os.path.join(target, ASSETS),
                    ignore=shutil.ignore_patterns("useropt.cfg"))
    size_used = None
    if options_path or size:
        record, size_used = options_record(options_path, size)
        with open(os.path.join(target, ASSETS, "useropt.cfg"), "wb") as f:
            f.write(record)
    return windows_path(os.path.join(target, PRODUCT)), size_used


def launch_host(folder, dll, arguments):
    events = os.path.join(folder, "events.jsonl")
    # Output to files, not pipes: Wine's helper processes inherit handles and would hold a pipe.
    with open(os.path.join(folder, "host.out"), "wb") as out, open(os.path.join(folder, "host.err"), "wb") as err:
        process = spawn(["wine", HOST, "--dll", dll, "--log", windows_path(events)] + arguments,
                        cwd=folder, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    return process, events
