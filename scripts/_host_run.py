#!/usr/bin/env python3
"""Running a plug-in DLL on real audio under Wine: the arguments the commands share, the analyser,
the plug-in's run folder, the stand-alone host that runs it in a session with its own virtual
display, and the event log read back into one sentence when something went wrong. Used by
_video.py (render --wine/--plugin, sheet, bench) and _play.py (play --wine/--plugin). Our plug-in
natively is halcyonsphere's own render and play.

The native programs (halcyonsphere, and halcyon_native for the benchmark) come from
HALCYON_NATIVE_DIR (default build/release/native).

The Windows build that runs is the command's (_windows_build.py; its folders come from
HALCYON_WIN32_DIR and HALCYON_WIN64_DIR, default build/win32 and build/win64), or for another
plug-in the one its PE header asks for; the tools come from HALCYON_TOOLS_DIR (default
build/release/tools). scripts/render.sh, play.sh, demo.sh and bench.sh build them first.
"""

import json
import os
import re
import shutil
import signal
import stat
import struct
import subprocess
import time

import _run
import _windows_build
import _wine

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build")
TOOLS = os.environ.get("HALCYON_TOOLS_DIR") or os.path.join(BUILD, "release", "tools")
NATIVE_DIR = os.environ.get("HALCYON_NATIVE_DIR") or os.path.join(BUILD, "release", "native")
PRODUCT = "vis_halcyonsphere.dll"
ASSETS = "vis_halcyonsphere_assets"
# The options record as the plug-in writes it on a first start: fourteen 32-bit integers.
DEFAULT_OPTIONS = struct.pack("<14i", 512, 384, 0, 1, 0, 0, 0, 512, 384, 768, 1, 1, 0, 2)
START_TIMEOUT = 300     # seconds from launching the host to its first frame
# Wine gives a window no less than about 110 pixels of width (its smallest title bar).
MIN_WIDTH, MIN_HEIGHT, MAX_SIDE = 112, 16, 4096
# The options the dialog offers, by field (width, height and fullscreen are the export's own).
OPTION_FIELDS = ("width", "height", "fullscreen", "light_panning", "detailed_height", "alt_sphere", "mipmaps",
                 "light_brightness", "radial_brightness", "sphere_size", "sphere_count", "floating", "rotating",
                 "delay")
OPTION_RANGES = {"light_panning": (0, 1), "detailed_height": (0, 1), "alt_sphere": (0, 1), "mipmaps": (0, 1),
                 "light_brightness": (0, 1024), "radial_brightness": (0, 1024), "sphere_size": (0, 1024),
                 "sphere_count": (1, 256), "floating": (0, 1), "rotating": (0, 1), "delay": (0, 2)}
OPTIONS_SIZE = 56


class Failure(Exception):
    """A clean stop: one message for the user and an exit status."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def say(text=""):
    print(text, flush=True)


def seconds_text(seconds):
    """M:SS, or H:MM:SS from an hour on."""
    seconds = max(0, int(round(seconds)))
    if seconds >= 3600:
        return "%d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)
    return "%d:%02d" % (seconds // 60, seconds % 60)


def channels_text(count):
    return {1: "mono", 2: "stereo"}.get(count, "%d channels" % count)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------------------------------------
# Arguments


def size_problem(width, height, min_width=MIN_WIDTH, video=True):
    """Why the plug-in's window cannot be width x height (in a video: H.264's even sides), or None."""
    if not (min_width <= width <= MAX_SIDE and MIN_HEIGHT <= height <= MAX_SIDE):
        return "the window can be %d to %d pixels wide and %d to %d high" % (min_width, MAX_SIDE, MIN_HEIGHT, MAX_SIDE)
    if video and (width % 2 or height % 2):
        return "the video needs even numbers"
    return None


def parse_size(text, video=True):
    try:
        width, height = (int(v) for v in text.lower().split("x"))
    except ValueError:
        width = height = 0
    problem = size_problem(width, height, video=video) if width > 0 and height > 0 else "give WIDTHxHEIGHT"
    if problem:
        raise Failure("bad size %r: %s (e.g. 1280x720)" % (text, problem), 2)
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


def check_gl_choice(args):
    """--gl chooses the native program's GL; under Wine there is no choice."""
    if getattr(args, "gl", None) is not None:
        raise Failure("--gl chooses the native program's GL; under Wine the plug-in draws with Mesa's llvmpipe", 2)


def check_tools(*names):
    for name in names:
        if shutil.which(name) is None:
            raise Failure("%s is not installed; ./halcyon setup installs it" % name)
    analyser = os.path.join(TOOLS, "analyse_audio")
    if not os.path.exists(analyser):
        raise Failure("%s is missing; build first (./halcyon build)" % analyser)


def bin_folder(build):
    return os.path.join(build.folder, "bin")


def host_program(build):
    return os.path.join(bin_folder(build), "halcyon_host.exe")


def command_build():
    """The Windows build this command runs our plug-in with."""
    try:
        return _windows_build.chosen()
    except _windows_build.ChoiceError as error:
        raise Failure(str(error))


def plugin_build(plugin):
    """The build whose host runs the plug-in: ours runs in the command's build, another in the
    one its PE header names, as a host can load only a DLL of its own architecture. A plug-in this
    machine cannot run is refused here, before anything starts."""
    build = command_build()
    if plugin:
        name, why = _windows_build.pe_build(plugin)
        if name is None:
            raise Failure(why)
        if name == "i686" and build.name != "i686":
            runs, reason = _windows_build.runs_32bit_code()
            if runs is False:
                raise Failure("%s is a 32-bit plug-in, and %s; only 64-bit plug-ins run here" % (plugin, reason))
        build = _windows_build.BUILDS[name]
    if not os.path.exists(host_program(build)):
        raise Failure("%s is missing; build first (./halcyon build)" % host_program(build))
    if not os.path.exists(build.loader):
        raise Failure("%s Wine is not installed (%s is missing); ./halcyon setup installs it"
                      % ("32-bit" if build.name == "i686" else "64-bit", build.loader))
    return build


def regular_file(path, what):
    """Refuses what is not a readable regular file (a FIFO would block the reader for good)."""
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        raise Failure("no such %s: %s" % (what, path))
    except OSError as error:
        raise Failure("cannot read the %s %s: %s" % (what, path, error.strerror))
    if stat.S_ISDIR(mode):
        raise Failure("the %s %s is a folder" % (what, path))
    if not stat.S_ISREG(mode):
        raise Failure("the %s %s is not a regular file" % (what, path))
    try:
        with open(path, "rb"):
            pass
    except OSError as error:
        raise Failure("cannot read the %s %s: %s" % (what, path, error.strerror))


def check_audio(path):
    regular_file(path, "audio file")


# ---------------------------------------------------------------------------------------------
# Child processes and Wine: the run (_run.py) owns every child and temporary path and ends them
# however the command ends; each run has Wine of its own (_wine.py).

spawn = _run.spawn
stop = _run.stop_process


class WineSession:
    """Wine for this run's build: a prefix of its own and a private Xvfb big enough for the
    frames, unless live play uses the user's display. Ended by the run's close()."""

    def __init__(self, build, screen=(1280, 1024), own_display=True):
        self.build = build
        self.screen = screen
        self.own_display = own_display

    def __enter__(self):
        note = os.environ.pop("HALCYON_WINDOWS_BUILD_NOTE", None)  # once, now that the run goes ahead
        if note:
            _run.tell("halcyon: " + note)
        try:
            _wine.start_session(_run.current(), self.screen, self.own_display, self.build)
        except _wine.WineError as error:
            raise Failure(str(error))
        return self

    def __exit__(self, *exc):
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


def crash_text(crash):
    """A crash event of the host in words: who, what, where, when."""
    who = "the host" if crash.get("in_host") else "the plug-in"
    details = []
    if crash.get("access"):
        details.append("%s %s" % ({"write": "writing", "read": "reading", "execute": "running"}.get(
            crash["access"], crash["access"]), crash.get("target", "?")))
    if crash.get("module"):
        details.append("in " + crash["module"])
    if crash.get("phase"):
        details.append("during " + {"init": "Init", "render": "Render", "quit": "Quit", "config": "Config"}.get(
            crash["phase"], crash["phase"]))
    return "%s crashed: %s at %s%s" % (who, crash.get("what", "exception"), crash.get("address", "?"),
                                      " (%s)" % ", ".join(details) if details else "")


def wine_crash_line(stderr_path):
    """Wine's own account of an unhandled fault in the host's error output, or None."""
    try:
        with open(stderr_path, "rb") as f:
            text = f.read().decode("latin-1")
    except OSError:
        return None
    found = re.search(r"Unhandled (.+?) at address (?:0x)?([0-9A-Fa-f]+)", text)
    return "%s at 0x%s" % (found.group(1), found.group(2).upper()) if found else None


def explain_host(events, stderr_path, plugin, who="the host"):
    """What went wrong in a host run, in one sentence."""
    for event in events:
        if event["event"] == "crash":
            return crash_text(event)
    for event in events:
        if event["event"] == "error":
            what = event.get("what")
            if what == "load_failed":
                return "cannot load the plug-in %s (Windows error %s)" % (plugin, event.get("code"))
            if what in ("export_missing", "no_header", "no_module"):
                return "%s is not a visualization plug-in (no usable winampVisGetHeader)" % plugin
            if event.get("text"):
                return "%s stopped: %s" % (who, event["text"])
            return "%s stopped (%s)" % (who, what)
    init = [e for e in events if e["event"] == "init"]
    if init and init[0]["result"] != 0:
        boxes = [e.get("text", "").strip() for e in events if e["event"] == "message_box"]
        told = ": " + " / ".join('"%s"' % b for b in boxes if b) if any(boxes) else ""
        return "the plug-in failed to start%s" % told
    end = [e for e in events if e["event"] == "end"]
    if end and end[0].get("reason") == "quit_message":
        causes = [e.get("cause") for e in events if e["event"] == "quit_message"]
        why = {"escape": " (Escape was pressed)",
               "close": " (its window was closed)"}.get(causes[-1] if causes else None, "")
        return "the plug-in asked to be stopped%s after %d frames" % (why, end[0].get("frames", 0))
    if end and end[0].get("reason") == "render_ended":
        return "the plug-in's Render asked to end after %d frames" % end[0].get("frames", 0)
    crashed = wine_crash_line(stderr_path)
    if crashed:
        return "the plug-in crashed: " + crashed
    try:
        with open(stderr_path, "rb") as f:
            tail = f.read().decode("latin-1").strip().splitlines()[-1:]
    except OSError:
        tail = []
    return who + " stopped unexpectedly" + (": " + tail[0] if tail else "")


# ---------------------------------------------------------------------------------------------
# The pieces of a run


def analyse(audio, stream, fps, start=0.0, seconds=None):
    # Absolute paths: a name that begins with a dash is never read as an option. A child of the
    # run: recorded, and dying with it (a kill -9 of the run leaves no analysis running on).
    command = [os.path.join(TOOLS, "analyse_audio"), os.path.abspath(audio), os.path.abspath(stream),
               "--fps", "%d/%d" % fps, "--start", repr(start)]
    if seconds is not None:
        command += ["--seconds", repr(seconds)]
    process = spawn(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = process.communicate()
    stop(process)  # ended: off the run's record
    if process.returncode != 0:
        text = err.decode("utf-8", "replace").strip()
        raise Failure((text or "the analysis of %s failed" % audio).splitlines()[-1])
    return json.loads(out)


class Analysis:
    """The analyser streaming the spectrum rows into a pipe that the host reads as its stdin: no
    stream file, and memory of a pipe's size whatever the song's length. The summary (frames,
    channels, length) is read before the first row, so that nothing waits for the whole song."""

    def __init__(self, audio, folder, fps, start=0.0, seconds=None):
        self.audio = audio
        self.process = None
        self.stream = None  # the pipe's reading end, until the host has it
        self._said = None
        summary = os.path.join(folder, "summary.json")
        # Absolute paths: a name that begins with a dash is never read as an option. A child of
        # the run: recorded, and dying with it (a kill -9 of the run leaves no analysis running on).
        command = [os.path.join(TOOLS, "analyse_audio"), os.path.abspath(audio), "-", "--fps", "%d/%d" % fps,
                   "--start", repr(start), "--summary", os.path.abspath(summary)]
        if seconds is not None:
            command += ["--seconds", repr(seconds)]
        reading, writing = os.pipe()
        try:
            self.process = spawn(command, stdin=subprocess.DEVNULL, stdout=writing, stderr=subprocess.PIPE)
        except BaseException:
            os.close(reading)
            raise
        finally:
            os.close(writing)
        self.stream = reading
        try:
            deadline = time.monotonic() + START_TIMEOUT
            while not os.path.exists(summary):
                if self.process.poll() is not None:
                    raise Failure(self.failure() or "the analysis of %s failed" % audio)
                if time.monotonic() > deadline:
                    raise Failure("the analysis of %s did not start within %d seconds" % (audio, START_TIMEOUT))
                time.sleep(0.005)
            with open(summary) as f:
                self.info = json.load(f)
        except BaseException:
            self.stop()
            raise

    def close_stream(self):
        """Once the host holds the pipe's reading end: the host's end is then the analyser's EPIPE."""
        if self.stream is not None:
            os.close(self.stream)
            self.stream = None

    def failure(self, wait=1.0):
        """Why the analysis failed, in one line, or None while it runs (after waiting up to wait
        seconds for it to end), when it ran to its end, or when it stopped only because its
        reader (the host) went away: that one ends quietly with status 1."""
        try:
            status = self.process.wait(wait)
        except subprocess.TimeoutExpired:
            return None
        if status < 0:
            return "the analysis of %s was stopped by %s from outside" % (self.audio, signal.Signals(-status).name)
        said = self.said()
        return said.splitlines()[-1] if status != 0 and said else None

    def said(self):
        """What the ended analyser wrote on stderr."""
        if self._said is None:
            self._said = self.process.stderr.read().decode("utf-8", "replace").strip()
            self.process.stderr.close()
        return self._said

    def note(self):
        """What an analysis that ran to its end said all the same (decoding that stopped early)."""
        if self.process.poll() != 0:
            return None
        last = (self.said().splitlines() or [""])[-1]
        return last.split(": ", 1)[1] if last.startswith("analyse_audio: ") else last or None

    def stop(self):
        self.close_stream()
        stop(self.process, grace=0.2)


def options_record(options_path, size, min_width=MIN_WIDTH, video=True):
    """The options file for our plug-in: the user's (or the defaults) with the size, windowed."""
    if options_path:
        regular_file(options_path, "options file")
        with open(options_path, "rb") as f:
            record = bytearray(f.read(OPTIONS_SIZE))  # the plug-in ignores what follows
        if len(record) < OPTIONS_SIZE:
            raise Failure("the options file %s holds %d bytes; an options file (useropt.cfg) holds %d"
                          % (options_path, len(record), OPTIONS_SIZE))
        values = dict(zip(OPTION_FIELDS, struct.unpack("<14i", record)))
        wrong = ["%s %d (%d to %d)" % (name, values[name], low, high) for name, (low, high) in OPTION_RANGES.items()
                 if not low <= values[name] <= high]
        if wrong:
            raise Failure("the options file %s has values the options dialog never writes: %s"
                          % (options_path, ", ".join(wrong)))
    else:
        record = bytearray(DEFAULT_OPTIONS)
    if size:
        struct.pack_into("<2i", record, 0, *size)
    struct.pack_into("<i", record, 8, 0)  # windowed: the frames are read from the window
    width, height = struct.unpack_from("<2i", record, 0)
    problem = size_problem(width, height, min_width, video)
    if problem:  # the file's fault, as any other value in it
        raise Failure("the options file %s asks for a %dx%d window, but %s; give --size WxH"
                      % (options_path, width, height, problem))
    return bytes(record), (width, height)


def prepare_plugin(folder, plugin, options_path, size, video=True):
    """(Windows path of the DLL, the size it will draw at or None, the build that runs it). Ours
    runs from a copy with a fresh asset folder; another plug-in runs where it lies, beside the
    files it keeps there."""
    if plugin:
        if not os.path.isfile(plugin):
            raise Failure("no such plug-in: %s" % plugin)
        if options_path:
            raise Failure("--options sets our plug-in's options; another plug-in keeps its own")
        return windows_path(plugin), None, plugin_build(plugin)
    build = plugin_build(None)
    source = os.path.join(bin_folder(build), PRODUCT)
    if not os.path.exists(source):
        raise Failure("%s is missing; build first (./halcyon build)" % source)
    target = os.path.join(folder, "plugin")
    os.makedirs(target)
    shutil.copy2(source, target)
    shutil.copytree(os.path.join(bin_folder(build), ASSETS), os.path.join(target, ASSETS),
                    ignore=shutil.ignore_patterns("useropt.cfg"))
    size_used = None
    if options_path or size:
        record, size_used = options_record(options_path, size, video=video)
        with open(os.path.join(target, ASSETS, "useropt.cfg"), "wb") as f:
            f.write(record)
    return windows_path(os.path.join(target, PRODUCT)), size_used, build


def launch_host(folder, dll, arguments, build, stdin=subprocess.DEVNULL):
    events = os.path.join(folder, "events.jsonl")
    # Output to files, not pipes: Wine's helper processes inherit handles and would hold a pipe.
    with open(os.path.join(folder, "host.out"), "wb") as out, open(os.path.join(folder, "host.err"), "wb") as err:
        process = spawn([build.loader, host_program(build), "--dll", dll, "--log", windows_path(events)] + arguments,
                        cwd=folder, stdin=stdin, stdout=out, stderr=err)
    return process, events


# ---------------------------------------------------------------------------------------------
# The player: a DLL in the host under Wine (our plug-in natively is halcyonsphere's own render and
# play, which ./halcyon runs without this script)


class Player:
    """The stand-alone host under Wine with a DLL, for a command. Paths handed to it go through
    path()."""

    def __init__(self, dll, build):
        self.dll, self.build = dll, build
        self.who = "the host"

    def path(self, path):
        return windows_path(path)

    def session(self, screen=(1280, 1024), own_display=True):
        return WineSession(self.build, screen, own_display)

    def launch(self, folder, arguments, stdin=subprocess.DEVNULL):
        """(the process, its event log); stdin: what the host reads there (a live stream, or the
        analyser's rows)."""
        return launch_host(folder, self.dll, arguments, self.build, stdin)

    def explain(self, folder, process, name):
        """What went wrong in the run, in one sentence."""
        events = read_events(os.path.join(folder, "events.jsonl"))
        status = process.poll() if process is not None else None
        if status is not None and -status in OUTSIDE_SIGNALS and not any(e["event"] == "end" for e in events):
            # Nothing in the plug-in raises these: someone else ended the host.
            frames = sum(1 for e in events if e["event"] == "frame")
            return "%s was stopped by %s from outside, after %d frames" % (
                self.who, signal.Signals(-status).name, frames)
        return explain_host(events, os.path.join(folder, "host.err"), name, self.who)


OUTSIDE_SIGNALS = (signal.SIGTERM, signal.SIGKILL, signal.SIGHUP, signal.SIGINT)


def prepare_player(folder, plugin, options_path, size, video=True):
    """(the player, the size the plug-in will draw at or None): our DLL, or another plug-in, in
    the host under Wine."""
    dll, size_used, build = prepare_plugin(folder, plugin, options_path, size, video)
    return Player(dll=dll, build=build), size_used


