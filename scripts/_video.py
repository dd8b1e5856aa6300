#!/usr/bin/env python3
"""Music in, visualization out: the commands behind ./halcyon render, play, demo and bench.

    _video.py render AUDIO [--out FILE|DIR/] [--size WxH] [--fps N] [--seconds S] [--start S]
                           [--options FILE] [--plugin PATH] [--wine] [--gl auto|software|device:N]
    _video.py play AUDIO [--size WxH] [--start S] [--options FILE] [--plugin PATH] [--wine]
    _video.py sheet VIDEO OUT.png [--columns N] [--rows N] [--width PX]
    _video.py bench [--size WxH] [--frames N] [--json FILE]

render (--wine or --plugin; our plug-in natively is halcyonsphere render): the analyser turns the
audio into spectrum rows, one pair per video frame, streamed through a pipe into the host's stdin
as the frames take them; the host under Wine on a private virtual
display runs the plug-in with the deterministic clock, feeds it the rows and writes each frame,
raw, into a pipe; this script hands the frames to ffmpeg, which writes H.264 with the sound as AAC
(or PNG frames into a folder). Output goes to a temporary name
and is renamed at the end, so a failed or interrupted run leaves nothing under the output name.
"""

import os
import signal
import sys


def _interrupted_early(signum, frame):  # before the run exists there is nothing to undo
    try:  # typed on the terminal this runs in the foreground of: a line of its own after the ^C echo
        echoed = signum == signal.SIGINT and os.tcgetpgrp(2) == os.getpgrp()
    except OSError:
        echoed = False
    sys.stderr.write("%shalcyon: interrupted.\n" % ("\n" if echoed else ""))
    sys.exit(130)


for _number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
    if signal.getsignal(_number) != signal.SIG_IGN:  # nohup's ignored hang-up stays ignored
        signal.signal(_number, _interrupted_early)

import argparse  # noqa: E402  (after the handlers: a Ctrl-C while these load is handled too)
import errno
import fcntl
import glob
import json
import select
import shutil
import struct
import subprocess
import tempfile
import time

import _run
from _host_run import (NATIVE_DIR, PRODUCT, START_TIMEOUT, TOOLS, Analysis, Failure, analyse, channels_text,
                       check_audio, check_gl_choice, check_tools, parse_fps, parse_seconds, parse_size, prepare_player,
                       read_events, say, seconds_text, spawn, stop, unknown_messages)
from _play import play

CLOCK_START_MS = 10000  # the host's default: a machine that has been up ten seconds
RAW_HEADER = 16
FRAME_TIMEOUT = 120     # seconds without a frame before the plug-in counts as stuck
VIDEO_FORMATS = {".mp4": "mp4", ".m4v": "mp4", ".mov": "mov", ".mkv": "matroska"}
PIPE_SIZE = 1 << 20     # a whole 512x384 frame: the host draws the next one while this one moves on
FULL_DISK_BYTES = 1 << 20  # less room than this where the output goes, when ffmpeg fails: a full disk
last_render = {}        # timings of the last render, for the benchmark


# ---------------------------------------------------------------------------------------------
# render


def widen_pipe(fd):
    try:
        fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, PIPE_SIZE)
    except OSError:
        pass  # above the system's limit: the default size works, a little slower


class Progress:
    """Frames done, frames a second and time left: a bar on a terminal, a line now and then
    otherwise. A render long enough to matter says once, from its first seconds of frames, how
    long it will take at this machine's speed."""

    ESTIMATE_AFTER = 3.0     # seconds of frames the estimate is made from
    ESTIMATE_FROM = 600.0    # seconds a render must be expected to take to be told so

    def __init__(self, total, quiet=False):
        self.total = max(1, total)
        self.stream = sys.stderr
        self.quiet = quiet
        try:
            self.tty = self.stream.isatty()
        except (AttributeError, ValueError):
            self.tty = False
        self.started = time.monotonic()
        self.last = self.started
        self.done = 0
        self.estimated = False

    def _write(self, text):
        try:
            self.stream.write(text)
            self.stream.flush()
        except (OSError, ValueError):  # the terminal went away (SIGHUP follows): the frames go on
            self.quiet = True

    def update(self, done, force=False):
        self.done = done
        now = time.monotonic()
        elapsed = now - self.started
        rate = done / elapsed if elapsed > 0 else 0.0
        left = (self.total - done) / rate if rate > 0 else 0
        if not self.estimated and elapsed >= self.ESTIMATE_AFTER and rate > 0:
            self.estimated = True
            if left >= self.ESTIMATE_FROM and not self.quiet:
                _run.tell("halcyon: at this machine's %.1f frames a second the %d frames take about %s; "
                          "--seconds S renders a part." % (rate, self.total, seconds_text(self.total / rate)))
                self.last = 0  # the bar again at once, below the note
        if self.quiet or (not force and now - self.last < (0.2 if self.tty else 10)):
            return
        self.last = now
        share = done / self.total
        text = "%d/%d frames  %.1f fps  %s left" % (done, self.total, rate, seconds_text(left))
        if self.tty:
            filled = int(share * 30)
            self._write("\r  [%s%s] %s " % ("#" * filled, "." * (30 - filled), text))
            _run.line_open()
        else:
            self._write("  %3d%%  %s\n" % (share * 100, text))

    def finish(self):
        self.update(self.done, force=True)
        if self.tty and not self.quiet:
            self._write("\n")
            _run.line_open(False)


def read_exact(fd, count, host, deadline_seconds, stuck):
    """count bytes from the pipe, or fewer when the host is gone and nothing more comes; a
    Failure with the text stuck when nothing comes for deadline_seconds."""
    chunks, got = [], 0
    deadline = time.monotonic() + deadline_seconds
    host_gone_at = None
    while got < count:
        ready, _, _ = select.select([fd], [], [], 0.25)
        if ready:
            chunk = os.read(fd, min(count - got, 1 << 22))
            chunks.append(chunk)
            got += len(chunk)
            deadline = time.monotonic() + deadline_seconds
            continue
        if host.poll() is not None:
            # The host is gone; what it wrote is already in the pipe.
            host_gone_at = host_gone_at or time.monotonic()
            if time.monotonic() - host_gone_at > 0.5:
                break
        elif time.monotonic() > deadline:
            raise Failure(stuck)
    return b"".join(chunks)


def encoder_command(target, kind, size, fps, audio, start, seconds):
    width, height = size
    command = ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
               "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", "%dx%d" % size, "-framerate", "%d/%d" % fps,
               "-i", "pipe:0"]
    if kind == "frames":
        return command + ["-start_number", "0", "-pix_fmt", "rgb24", "-f", "image2",
                          os.path.join(target, "frame_%05d.png")]
    # "file:" keeps a colon in a name from reading as one of ffmpeg's protocols.
    command += ["-ss", "%.6f" % start, "-t", "%.6f" % seconds, "-i", "file:" + os.path.abspath(audio),
                "-map", "0:v:0", "-map", "1:a:0"]
    if width % 2 or height % 2:  # H.264 in 4:2:0 needs even sides; another plug-in may draw odd ones
        command += ["-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"]
    # superfast: about half veryfast's CPU time for files about 40% larger, which keeps the
    # export within a tenth of the plug-in's own time on two cores.
    return command + ["-c:v", "libx264", "-preset", "superfast", "-crf", "20", "-pix_fmt", "yuv420p",
                      "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "-f", kind,
                      "file:" + os.path.abspath(target)]


def output_kind(out):
    if out.endswith(os.sep):
        return "frames"
    extension = os.path.splitext(out)[1].lower()
    if extension not in VIDEO_FORMATS:
        if os.path.isdir(out):
            return "frames"
        raise Failure("cannot tell what to write from %r: name a .mp4, .mov or .mkv file, or a folder "
                      "(ending in /) for PNG frames" % out, 2)
    return VIDEO_FORMATS[extension]


TEMPORARY_PREFIX = ".halcyon-"


def same_file(a, b):
    return (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino)


def refuse_input_as_output(out, kind, inputs):
    """The output must not be one of the inputs, by the file itself (links and symlinked folders
    resolved, hard links too): for PNG frames, none of the frame_*.png the folder's frames replace."""
    read = {}
    for what, path in inputs.items():
        if path:
            try:
                read[what] = (path, os.stat(path))
            except OSError:
                continue  # the input's own check says what is wrong with it
    if kind == "frames":
        try:
            folder = os.stat(out)
        except OSError:
            return  # a new folder holds nothing yet
        for what, (path, held) in read.items():
            name = os.path.basename(os.path.realpath(path))
            try:
                parent = os.stat(os.path.dirname(os.path.realpath(path)))
            except OSError:
                continue
            if same_file(parent, folder) and name.startswith("frame_") and name.endswith(".png"):
                raise Failure("the output folder %s holds the %s %s, which its frames would replace; name "
                              "another output" % (out, what, path), 2)
        return
    try:
        target = os.stat(out)
    except OSError:
        return
    for what, (path, held) in read.items():
        if same_file(held, target):
            raise Failure("the output %s is the %s %s; name another output" % (out, what, path), 2)


class Output:
    """Where a render writes: the output's name, its kind, and the temporary name the frames go
    to first. Made before anything is rendered, so that an output that cannot be written is
    found at once."""

    def __init__(self, out, kind, inputs, force):
        """inputs: {what: path} of the files the render reads (audio, options, plug-in)."""
        run = _run.current()
        self.kind = kind
        self.path = (out.rstrip(os.sep) or os.sep) if kind == "frames" else out
        self.into_existing = False  # frames: the temporary folder lies inside the output folder
        self.done = False  # the output is in place, whole
        name = os.path.basename(os.path.abspath(self.path))
        parent = os.path.dirname(os.path.abspath(self.path))
        refuse_input_as_output(self.path, kind, inputs)
        if kind == "frames":
            if os.path.lexists(self.path) and not os.path.isdir(self.path):
                raise Failure("%s is a file, not a folder for PNG frames; name a new or empty folder, or a "
                              ".mp4 file" % self.path, 2)
            if os.path.isdir(self.path):
                try:
                    held = os.listdir(self.path)
                except OSError as error:
                    raise Failure("cannot read the folder %s: %s" % (self.path, error.strerror))
                if held and not force:
                    raise Failure("the folder %s is not empty (it holds %d %s); give --force to replace its "
                                  "frame_*.png (other files stay), or name a new or empty folder"
                                  % (self.path, len(held), "entry" if len(held) == 1 else "entries"), 2)
                # Inside the output folder, so the frames never cross devices (a mount point).
                self.into_existing = True
                where, suffix = self.path, ""
            else:
                where, suffix = parent, ""
        else:
            if os.path.isdir(self.path):
                raise Failure("%s is a folder; name a video file, or %s/ for PNG frames in it"
                              % (self.path, self.path.rstrip(os.sep)), 2)
            if os.path.lexists(self.path) and not os.path.isfile(self.path):
                raise Failure("%s exists and is not a regular file; name another output" % self.path, 2)
            where, suffix = parent, os.path.splitext(name)[1]
        if not os.path.isdir(parent):
            raise Failure("the folder for %s does not exist" % self.path)
        try:
            # A short name: one no longer than the output's fits wherever the output's does.
            self.temporary = run.create_temporary(where, TEMPORARY_PREFIX, suffix, directory=kind == "frames")
        except OSError as error:
            raise Failure("cannot write into %s: %s" % (where, error.strerror))

    def encoder_target(self):
        if self.kind == "frames":  # the folder of ffmpeg's file name pattern, where a % is written %%
            return self.temporary.replace("%", "%%")
        return self.temporary

    def full_disk(self):
        """A sentence when the output's file system has (next to) no room left, else None."""
        try:
            room = os.statvfs(os.path.dirname(self.temporary))
        except OSError:
            return None
        if room.f_bavail * room.f_frsize < FULL_DISK_BYTES:
            return "the disk is full (%s)" % os.strerror(errno.ENOSPC)
        return None

    def finish(self):
        """Puts the output in place whole: signals wait until it is."""
        run = _run.current()
        with _run.signals_held():
            try:
                if self.kind != "frames":
                    os.replace(self.temporary, self.path)
                elif not self.into_existing:
                    os.rename(self.temporary, self.path)
                else:
                    for name in os.listdir(self.path):
                        if name.startswith("frame_") and name.endswith(".png"):
                            os.remove(os.path.join(self.path, name))
                    for name in sorted(os.listdir(self.temporary)):
                        os.rename(os.path.join(self.temporary, name), os.path.join(self.path, name))
                    os.rmdir(self.temporary)
            except OSError as error:
                raise Failure("cannot put the output in place at %s: %s" % (self.path, error.strerror))
            run.release(self.temporary)
            self.done = True


def real_time(events):
    """Whether the host paces the frames in real time (the plug-in draws on its own schedule)."""
    return any(e["event"] == "pacing" and e["mode"] == "wall" for e in events)


def wait_quietly(process, seconds):
    """True when the process ended within the time."""
    try:
        process.wait(seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def render(args):
    started = time.monotonic()
    quiet = getattr(args, "quiet", False)
    tell = (lambda text: None) if quiet else say
    audio = args.audio
    check_audio(audio)
    fps = parse_fps(args.fps)
    check_gl_choice(args)
    size = parse_size(args.size) if args.size else None
    start = parse_seconds(args.start, "start", True)
    seconds = parse_seconds(args.seconds, "length", False) if args.seconds is not None else None
    if args.plugin and size:
        raise Failure("--size sets our plug-in's window; another plug-in draws at its own size", 2)
    if not size and not args.options and not args.plugin:
        size = (1280, 720)
    check_tools("ffmpeg", "Xvfb")
    out = args.out or os.path.splitext(os.path.basename(audio))[0] + ".mp4"
    inputs = {"audio file": audio, "options file": args.options, "plug-in": args.plugin}
    output = args.output = Output(out, output_kind(out), inputs, getattr(args, "force", False))
    run = _run.current()
    folder = tempfile.mkdtemp(prefix="render-", dir=run.folder)
    host = encoder = analysis = None
    fifo_fd = None
    try:
        player, planned = prepare_player(folder, args.plugin, args.options, size)
        # Streamed into the host as the frames need it: a long song costs what a short one does.
        analysis = Analysis(audio, folder, fps, start, seconds)
        info = analysis.info
        frames = info["frames"]
        clip = frames * fps[1] / fps[0]
        name = args.plugin or PRODUCT
        if info.get("cut_short"):
            tell("Note: %s is cut short: its sound ends at %s, though its header says %s%s; rendering what it holds."
                 % (os.path.basename(audio), seconds_text(info["file_seconds"]), seconds_text(info["header_seconds"]),
                    " (%s)" % info["cut_reason"] if info.get("cut_reason") else ""))
        tell("Rendering %s of %s (%s) with %s%s at %d/%d fps: %d frames." % (
            seconds_text(clip), os.path.basename(audio), channels_text(info.get("file_channels", info["channel_count"])),
            os.path.basename(name) + " under Wine",
            " at %dx%d" % planned if planned else "", fps[0], fps[1], frames))

        fifo = os.path.join(folder, "video.fifo")
        os.mkfifo(fifo)
        # Held open for reading and writing, so that the host's open never blocks (and never
        # blocks Wine's server with it); the end of the frames is known from their count.
        fifo_fd = os.open(fifo, os.O_RDWR)
        widen_pipe(fifo_fd)
        with player.session(screen=planned or (1280, 1024)):
            host, events_path = player.launch(folder, [
                "--spectrum", "stream:-", "--delay", "0",
                "--clock-ms", "%d/%d" % (fps[1] * 1000, fps[0]),
                "--clock-start", str(CLOCK_START_MS + int(round(start * 1000))),
                "--video", player.path(fifo), "--track", player.path(audio), "--pacing", "auto"],
                stdin=analysis.stream)
            analysis.close_stream()

            def host_failed():
                # An analysis that broke off ends the host's rows early: its own reason comes first.
                return analysis.failure(0.5) or player.explain(folder, host, name)

            header = read_exact(fifo_fd, RAW_HEADER, host, START_TIMEOUT,
                                "the plug-in did not start within %d seconds" % START_TIMEOUT)
            if len(header) < RAW_HEADER:
                wait_quietly(host, 30)
                raise Failure(host_failed())
            magic, width, height, order = struct.unpack("<4sII4s", header)
            if magic != b"HRAW" or order != b"BGRA" or not (0 < width <= 16384 and 0 < height <= 16384):
                raise Failure("the host sent a video stream this script cannot read")
            if planned and (width, height) != planned:
                raise Failure("the plug-in's window came out %dx%d, not the %dx%d asked for"
                              % ((width, height) + planned))
            frame_bytes = width * height * 4
            with open(os.path.join(folder, "encoder.err"), "wb") as encoder_log:
                encoder = spawn(encoder_command(output.encoder_target(), output.kind, (width, height), fps, audio,
                                                start, clip),
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=encoder_log, bufsize=0)
            widen_pipe(encoder.stdin.fileno())
            progress = Progress(frames, quiet)
            done = 0
            while done < frames:
                frame = read_exact(fifo_fd, frame_bytes, host, FRAME_TIMEOUT,
                                   "the plug-in stopped drawing: no frame for %d seconds" % FRAME_TIMEOUT)
                if len(frame) < frame_bytes:
                    break
                try:
                    encoder.stdin.write(frame)
                except BrokenPipeError:
                    break
                done += 1
                if done == 1:
                    last_render["first_frame_s"] = time.monotonic() - started
                if done == 1 and real_time(read_events(events_path)):
                    tell("%s draws on its own schedule (GDI, DirectDraw or a thread of its own, no GL on the "
                         "host's thread): it is exported in real time, in about %s." % (
                             os.path.basename(name), seconds_text(clip)))
                progress.update(done)
            progress.finish()
            last_frame_at = time.monotonic()
            try:
                encoder.stdin.close()
            except BrokenPipeError:
                pass
            if not wait_quietly(encoder, 300):
                raise Failure("ffmpeg did not finish the video within 5 minutes of the last frame")
            last_render["encoder_tail"] = time.monotonic() - last_frame_at
            if encoder.returncode != 0:
                with open(os.path.join(folder, "encoder.err"), "rb") as f:
                    lines = f.read().decode("utf-8", "replace").strip().splitlines()
                # ffmpeg tells a full disk as an input/output error at best: look for it.
                why = output.full_disk() or (lines[-1] if lines else "")
                raise Failure("ffmpeg could not write the %s%s; the unfinished output was removed" % (
                    "frames" if output.kind == "frames" else "video", ": " + why if why else ""))
            # Fewer frames than planned is a failure, whatever the encoder made of them.
            if done < frames:
                wait_quietly(host, 30)
                raise Failure(host_failed() + " (%d of %d frames drawn)" % (done, frames))
            failed = analysis.failure(5)
            if failed:  # every row came, yet the analyser did not end well: not a whole video
                raise Failure(failed)
            if not wait_quietly(host, 60):
                stop(host)
            if host.returncode != 0:
                say("Note: %s ended with status %s after the last frame; the video is complete."
                    % (player.who, host.returncode))
            if args.log:
                shutil.copyfile(events_path, args.log)
            events = read_events(events_path)
            asked = unknown_messages(events)
            if asked:
                tell("Note: " + asked + ".")
            said = analysis.note()
            if said:
                tell("Note: " + said + ".")
            end = [e for e in events if e["event"] == "end"]
            last_render["loop_ms"] = end[0]["loop_ms"] if end else None
            last_render["frames"] = frames
            last_render["real_time"] = real_time(events)
        output.finish()
        if getattr(args, "timings", None):
            _run.write_json(args.timings, last_render)
        elapsed = time.monotonic() - started
        if output.kind == "frames":
            tell("Wrote %d PNG frames (%dx%d) into %s in %s." % (frames, width, height, output.path,
                                                                 seconds_text(elapsed)))
        else:
            tell("Wrote %s: %d frames at %dx%d, %s with sound, %.1f MB, in %s (%.1f frames a second)." % (
                output.path, frames, width, height, seconds_text(clip), os.path.getsize(output.path) / 1e6,
                seconds_text(elapsed), frames / max(elapsed, 1e-6)))
        return 0
    finally:
        # What this render started ends here, so that a benchmark's next round starts clean;
        # the run's close() is there for whatever a second signal cuts short.
        with _run.stopping() as telling:
            if analysis is not None:
                telling.step("stopping the analysis")
                analysis.stop()
            stop_encoder(encoder, telling)
            telling.step("stopping the host")
            stop(host, grace=HOST_GRACE)
            if fifo_fd is not None:
                os.close(fifo_fd)
            telling.step("removing the unfinished output")
            run.discard(output.temporary)
            if os.environ.get("HALCYON_KEEP_RUNS") != "1":
                shutil.rmtree(folder, ignore_errors=True)


ENCODER_GRACE = 0.2  # seconds ffmpeg gets after its input closed, when it did not end by itself
HOST_GRACE = 0.5     # seconds the player gets to end on SIGTERM before SIGKILL


def stop_encoder(encoder, telling):
    """ffmpeg cut short: its input closed first (it ignores SIGTERM while the input is open),
    then a short grace, then SIGKILL; what it made is discarded anyway."""
    if encoder is None or encoder.poll() is not None:
        stop(encoder)
        return
    telling.step("stopping ffmpeg")
    try:
        encoder.stdin.close()
    except OSError:
        pass
    stop(encoder, grace=ENCODER_GRACE)


# ---------------------------------------------------------------------------------------------
# sheet


def probe_video(path):
    result = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                             "-show_entries", "stream=nb_read_packets,r_frame_rate,width,height",
                             "-of", "json", "file:" + os.path.abspath(path)], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise Failure("cannot read the video %s" % path)
    stream = json.loads(result.stdout)["streams"][0]
    numerator, denominator = (int(v) for v in stream["r_frame_rate"].split("/"))
    return int(stream["nb_read_packets"]), numerator / denominator


def sheet(args):
    """A contact sheet: frames spread evenly over the video, each with its time."""
    count = args.columns * args.rows
    frames, fps = probe_video(args.video)
    if frames < 1:
        raise Failure("the video %s has no frames" % args.video)
    # The middle of each of count equal stretches.
    picks = sorted({min(frames - 1, int((i + 0.5) * frames / count)) for i in range(count)})
    select = "+".join("eq(n\\,%d)" % n for n in picks)
    # Each frame's time as M:SS.s, rounded to the tenth.
    label = ("drawtext=text='%{eif\\:trunc((t+0.05)/60)\\:d}\\:%{eif\\:trunc(mod(t+0.05\\,60))\\:d\\:2}."
             "%{eif\\:trunc(mod((t+0.05)*10\\,10))\\:d}':x=8:y=h-th-8:fontsize=h/10:fontcolor=white:"
             "box=1:boxcolor=black@0.6:boxborderw=4")
    graph = "select='%s',scale=%d:-2,%s,tile=%dx%d:padding=4:margin=4:color=0x202020" % (
        select, args.width // args.columns - 6, label, args.columns, args.rows)
    refuse_input_as_output(args.out, "file", {"video": args.video})
    temporary = _run.create_temporary(os.path.dirname(os.path.abspath(args.out)), TEMPORARY_PREFIX, ".png")
    try:
        result = subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                                 "-i", "file:" + os.path.abspath(args.video),
                                 "-vf", graph, "-fps_mode", "passthrough", "-frames:v", "1", temporary],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if result.returncode != 0 or not os.path.exists(temporary) or not os.path.getsize(temporary):
            raise Failure("cannot make the contact sheet: " + (result.stderr.strip().splitlines() or ["ffmpeg failed"])[-1])
        os.replace(temporary, args.out)
        _run.release(temporary)
    finally:
        _run.current().discard(temporary)
    say("Wrote %s: %d frames of %s, spread over %s." % (args.out, len(picks), args.video, seconds_text(frames / fps)))
    return 0


# ---------------------------------------------------------------------------------------------
# bench


def bench(args):
    """Render alone and the whole export, in the same run, in ms per frame, for the native program
    and the DLL under Wine: the better of two rounds each, as other work on the machine only ever
    adds time. And for each, the time from a render's start to its first frame, in a process of its
    own as a user's render starts (Wine's session included): the better of two."""
    size = parse_size(args.size)
    check_tools("ffmpeg", "Xvfb")
    folder = tempfile.mkdtemp(prefix="bench-", dir=_run.current().folder)
    try:
        music = os.path.join(folder, "music.wav")
        seconds = args.frames / 30
        subprocess.run([os.path.join(TOOLS, "make_demo_music"), music, "--seconds", "%.3f" % (seconds + 4)],
                       check=True, start_new_session=True)
        stream = os.path.join(folder, "spectrum.hsps")
        analyse(music, stream, (30, 1), 4.0, seconds)  # from the groove on
        kinds = ["wine"] if args.plugin else ["native", "wine"]
        figures = {}
        for kind in kinds:
            figures[kind] = bench_player(args, kind, folder, music, stream, size, seconds)
        songs, native_memory = {}, {}
        if not args.plugin:
            for minutes in LONG_SONG_MINUTES:
                songs["%dmin" % minutes] = long_song_figures(folder, minutes, size)
            native_memory = native_memory_figures(folder)
        name = os.path.basename(args.plugin or PRODUCT)
        say("Export of %s at %s, %d frames (the plug-in's frames, then H.264 through ffmpeg), ms per frame:" % (
            name, "its own size" if args.plugin else "%dx%d" % size, args.frames))
        say("  %-22s" % "" + "".join("%12s" % LABELS[kind] for kind in kinds))
        for label, key in (("Render alone", "alone"), ("export", "export")):
            say("  %-22s" % label + "".join("%12.2f" % figures[kind][key] for kind in kinds))
        if any(figures[kind]["real_time"] for kind in kinds):
            say("  (exported in real time: the plug-in draws on its own schedule, so the ratio does not apply)")
        else:
            say("  %-22s" % "export / Render alone" + "".join(
                "%12.2f" % (figures[kind]["export"] / figures[kind]["alone"]) for kind in kinds) + "   (aim: natively at most 1.05)")
        say("  %-22s" % "first frame, s" + "".join("%12.2f" % figures[kind]["first_frame"] for kind in kinds)
            + ("   (aim: natively within 1 s)" if "native" in kinds else ""))
        if "native" in kinds:
            say("  native export / Wine export  %.2f (aim: at most 1)" % (
                figures["native"]["export"] / figures["wine"]["export"]))
        if songs:
            say("Wine export of a song's first %d s at %dx%d, by the song's length:" % ((LONG_SONG_SECONDS,) + size))
            say("  %-22s" % "" + "".join("%12s" % name for name in songs))
            for label, key in (("host's peak memory, MB", "host_mb"), ("run's disk, MB", "disk_mb")):
                say("  %-22s" % label + "".join("%12.2f" % songs[name][key] for name in songs))
        if native_memory:
            say("Native render of a song's first %d s at %s, by the song's length:" % (NATIVE_MEMORY_SECONDS,
                                                                                      NATIVE_MEMORY_SIZE))
            say("  %-22s" % "" + "".join("%12s" % name for name in native_memory))
            for label, key in (("program's peak, MB", "peak_mb"), ("encoder's peak, MB", "encoder_peak_mb")):
                say("  %-22s" % label + "".join("%12.1f" % native_memory[name][key] for name in native_memory))
        if args.json:
            figures_json = {"export_ms_per_frame": {kind: figures[kind]["export"] for kind in kinds},
                            "render_alone_ms_per_frame": {kind: figures[kind]["alone"] for kind in kinds},
                            "first_frame_s": {kind: figures[kind]["first_frame"] for kind in kinds}}
            if songs:
                figures_json["long_song_host_peak_mb"] = {name: songs[name]["host_mb"] for name in songs}
                figures_json["long_song_run_disk_mb"] = {name: songs[name]["disk_mb"] for name in songs}
            if native_memory:
                figures_json["native_render_peak_mb"] = {name: native_memory[name]["peak_mb"] for name in native_memory}
                figures_json["native_encoder_peak_mb"] = {name: native_memory[name]["encoder_peak_mb"]
                                                          for name in native_memory}
            _run.write_json(args.json, figures_json)
        return 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


LABELS = {"native": "native", "wine": "Wine"}


def bench_player(args, kind, folder, music, stream, size, seconds):
    """{"alone", "export" (ms per frame), "real_time", "first_frame" (s)} of one player."""
    run_folder = os.path.join(folder, kind)
    os.makedirs(run_folder)
    if kind == "native":
        return bench_native(args, run_folder, music, stream, seconds)
    player, _ = prepare_player(run_folder, args.plugin, None, None if args.plugin else size)
    render_args = argparse.Namespace(audio=music, out=os.path.join(folder, "bench.mp4"), fps="30",
                                     size=None if args.plugin else args.size, start="4", seconds="%.3f" % seconds,
                                     options=None, plugin=args.plugin, wine=True, gl=None, log=None, quiet=True)
    # First, while this process has no Wine yet: a render of a second, as a user starts one.
    first = [first_frame_seconds(render_args, folder) for _ in range(2)]
    alone, export = [], []
    with player.session(screen=size):
        for _ in range(2):
            host, events_path = player.launch(run_folder, ["--spectrum", "stream:" + player.path(stream), "--delay",
                                                           "0", "--clock-ms", "1000/30"])
            try:
                host.wait(START_TIMEOUT)
            except subprocess.TimeoutExpired:
                pass
            end = [e for e in read_events(events_path) if e["event"] == "end"]
            if not end or end[0]["frames"] != args.frames:
                raise Failure(player.explain(run_folder, host, args.plugin or PRODUCT))
            alone.append(end[0]["loop_ms"] / end[0]["frames"])
            render(render_args)
            # From the first Render to the encoder's last byte: the frames' work, not the start-up.
            export.append((last_render["loop_ms"] + last_render["encoder_tail"] * 1000) / last_render["frames"])
    return {"alone": min(alone), "export": min(export), "real_time": last_render["real_time"],
            "first_frame": min(first)}


def exe_render(folder, music, arguments):
    """The installed program's render of music from 4 s on, with its own timings: {"frames",
    "loop_ms", "encoder_tail_ms", "first_frame_s" (from the command's start)}."""
    timings = os.path.join(folder, "exe-timings.json")
    command = [os.path.join(NATIVE_DIR, "halcyonsphere"), "render", music, "--start", "4",
               "--out", os.path.join(folder, "exe.mp4"), "--gl", "software"] + arguments
    with open(os.path.join(folder, "exe.err"), "wb") as err:
        status = _run.current().call(command, START_TIMEOUT, env=dict(os.environ, HALCYON_RENDER_TIMINGS=timings),
                                     stderr=err, stdout=subprocess.DEVNULL)
    if status != 0:
        with open(os.path.join(folder, "exe.err"), "rb") as f:
            lines = f.read().decode("utf-8", "replace").strip().splitlines()
        raise Failure("halcyonsphere render failed" + (": " + lines[-1].strip() if lines else ""))
    with open(timings) as f:
        return json.load(f)


def bench_native(args, folder, music, stream, seconds):
    """Render alone (halcyon_native, no readback) against the installed program's whole export
    (halcyonsphere render: analysis, readback, encoder), the better of two rounds each."""
    first = [exe_render(folder, music, ["--seconds", "1", "--size", args.size])["first_frame_s"] for _ in range(2)]
    alone, export = [], []
    events = os.path.join(folder, "events.jsonl")
    for _ in range(2):
        status = _run.current().call([os.path.join(NATIVE_DIR, "halcyon_native"), "--log", events, "--spectrum",
                                      "stream:" + stream, "--delay", "0", "--clock-ms", "1000/30", "--gl", "software",
                                      "--size", args.size], START_TIMEOUT, env=dict(os.environ, TMPDIR=folder))
        end = [e for e in read_events(events) if e["event"] == "end"]
        if status != 0 or not end or end[0]["frames"] != args.frames:
            raise Failure("halcyon_native did not draw the %d frames (status %s)" % (args.frames, status))
        alone.append(end[0]["loop_ms"] / end[0]["frames"])
        timings = exe_render(folder, music, ["--seconds", "%.3f" % seconds, "--size", args.size])
        export.append((timings["loop_ms"] + timings["encoder_tail_ms"]) / timings["frames"])
    return {"alone": min(alone), "export": min(export), "real_time": False, "first_frame": min(first)}


NATIVE_MEMORY_SONGS = (("30s", 30), ("3min", 180), ("60min", 3600))
NATIVE_MEMORY_SECONDS = 3
NATIVE_MEMORY_SIZE = "1280x720"


def native_memory_figures(folder):
    """{"30s", "3min", "60min": {"peak_mb", "encoder_peak_mb"}}: the native program's and its
    encoder's peak resident memory over the first seconds of a silent song of each length. The
    analysis streams, so the song's length should not show."""
    figures = {}
    for name, seconds in NATIVE_MEMORY_SONGS:
        song = os.path.join(folder, "memory-%s.wav" % name)
        silent_song(song, seconds)
        timings = exe_render(folder, song, ["--seconds", str(NATIVE_MEMORY_SECONDS), "--size", NATIVE_MEMORY_SIZE])
        figures[name] = {key: timings[key] for key in ("peak_mb", "encoder_peak_mb")}
        os.remove(song)
    return figures


LONG_SONG_MINUTES = (3, 60)
LONG_SONG_SECONDS = 30  # of frames rendered of each, at 30 fps


def silent_song(path, seconds, rate=8000):
    """A mono WAV of silence whose samples take no disk (a sparse file): only its length counts."""
    data = int(seconds * rate) * 2
    with open(path, "wb") as f:
        f.write(struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + data, b"WAVE", b"fmt ", 16, 1, 1, rate, rate * 2, 2,
                            16, b"data", data))
        f.truncate(44 + data)


def run_of(pid):
    """The record of the run whose owner is pid, with its folder, or None."""
    for name in os.listdir(_run.RUNS):
        folder = os.path.join(_run.RUNS, name)
        try:
            with open(os.path.join(folder, _run.RECORD)) as f:
                record = json.load(f)
        except (OSError, ValueError):
            continue
        if record.get("owner") == pid:
            return dict(record, folder=folder)
    return None


def song_bytes(folder):
    """The disk a run's files take, less its Wine prefix and the plug-in's copy (the same for any song)."""
    total = 0
    for where, folders, files in os.walk(folder):
        folders[:] = [name for name in folders if name not in ("prefix", "plugin")]
        for name in files:
            try:
                total += os.lstat(os.path.join(where, name)).st_blocks * 512
            except OSError:
                continue
    return total


def peak_resident_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            return next((int(line.split()[1]) for line in f if line.startswith("VmHWM:")), 0)
    except (OSError, ValueError):
        return 0


def long_song_figures(folder, minutes, size):
    """{"host_mb": the host's peak resident memory, "disk_mb": the most disk the run's own files
    took} of a Wine render of a silent song of that length, in a process of its own, stopped by
    a Ctrl-C once its first LONG_SONG_SECONDS of frames are drawn."""
    song = os.path.join(folder, "song-%dmin.wav" % minutes)
    silent_song(song, minutes * 60)
    command = [sys.executable, os.path.abspath(__file__), "render", song, "--out", os.path.join(folder, "long.mp4"),
               "--size", "%dx%d" % size, "--wine"]
    env = {k: v for k, v in os.environ.items() if k != "HALCYON_WINE_SESSION"}  # Wine of its own, as a user's
    err_path = os.path.join(folder, "long.err")
    with open(err_path, "wb") as err:
        process = _run.current().spawn(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=err)
    peak_kb = disk = frames = 0
    deadline = time.monotonic() + START_TIMEOUT
    try:
        while frames < LONG_SONG_SECONDS * 30:
            if process.poll() is not None or time.monotonic() > deadline:
                with open(err_path, "rb") as f:
                    lines = f.read().decode("utf-8", "replace").strip().splitlines()
                raise Failure("the render of a %d-minute song stopped after %d frames%s" % (
                    minutes, frames, ": " + lines[-1].strip() if lines else ""))
            record = run_of(process.pid)
            if record:
                for child in record["children"]:
                    if child["name"] in ("wine", "wine64"):
                        peak_kb = max(peak_kb, peak_resident_kb(child["pid"]))
                disk = max(disk, song_bytes(record["folder"]))
                frames = sum(1 for path in glob.glob(os.path.join(record["folder"], "render-*", "events.jsonl"))
                             for e in read_events(path) if e["event"] == "frame")
            time.sleep(0.1)
    finally:
        process.send_signal(signal.SIGINT)
        wait_quietly(process, 10)
        stop(process)
        os.remove(song)
    return {"host_mb": peak_kb / 1024, "disk_mb": disk / 1e6}


def first_frame_seconds(render_args, folder):
    """Seconds from the start of a render, in a process of its own, to its first frame."""
    timings = os.path.join(folder, "timings.json")
    command = [sys.executable, os.path.abspath(__file__), "render", render_args.audio, "--out",
               os.path.join(folder, "first.mp4"), "--start", render_args.start, "--seconds", "1",
               "--timings", timings]
    if render_args.plugin:
        command += ["--plugin", render_args.plugin]
    else:
        command += ["--size", render_args.size, "--wine"]
    # Without this process's Wine session, so that a Wine render starts its own.
    env = {k: v for k, v in os.environ.items() if k != "HALCYON_WINE_SESSION"}
    with open(os.path.join(folder, "first.err"), "wb") as err:
        status = _run.current().call(command, START_TIMEOUT, env=env, stderr=err)
    if status != 0:
        with open(os.path.join(folder, "first.err"), "rb") as f:
            lines = f.read().decode("utf-8", "replace").strip().splitlines()
        raise Failure("a render to time its first frame failed" + (": " + lines[-1].strip() if lines else ""))
    with open(timings) as f:
        return json.load(f)["first_frame_s"]


# ---------------------------------------------------------------------------------------------


def add_player_arguments(parser, offscreen=True):
    parser.add_argument("--wine", action="store_true", help="run the Windows DLL in the host under Wine, as "
                                                            "players run it (--plugin always does)")
    if not offscreen:  # a window draws with the display's driver
        return
    parser.add_argument("--gl", metavar="auto|software|device:N",
                        help="the native program's GL: auto (default) takes a graphics card where there is one, "
                             "else Mesa's llvmpipe; software is llvmpipe; device:N is EGL device N")


class Parser(argparse.ArgumentParser):
    """Options in full only (an abbreviation would reach this layer and not the one that chose
    the build); a refusal is one line with its reason, status 2, no usage text."""

    command = None  # the command asked for, named in refusals the top level makes for it

    def __init__(self, **options):
        super().__init__(allow_abbrev=False, **options)

    def error(self, message):
        if message.startswith("unrecognized arguments: "):
            message = "unknown option or argument %s (options are written in full)" % message.split(": ", 1)[1]
        name = self.prog.replace("./halcyon", "halcyon", 1)
        if name == "halcyon" and Parser.command:
            name += " " + Parser.command
        _run.tell("%s: %s" % (name, message))
        sys.exit(2)


def refuse_empty_values(parser, args):
    """An empty value means nothing, and must not read as the default."""
    for action in parser._actions:
        if action.dest in vars(args) and getattr(args, action.dest) == "":
            name = action.option_strings[0] if action.option_strings else action.metavar or action.dest
            parser.error("%s is empty; give a value" % name)


def main(argv):
    parser = Parser(prog="./halcyon", description="Music in, visualization out.")
    # sheet and bench are demo.sh's and bench.sh's, not commands of ./halcyon's own.
    commands = parser.add_subparsers(dest="command", required=True, parser_class=Parser, metavar="render|play")
    audio_help = "a WAV, FLAC, Ogg Vorbis or MP3 file"
    r = commands.add_parser("render", help="a video (or PNG frames) of the visualization of AUDIO",
                            description="A video of the visualization of AUDIO, with its sound: the plug-in "
                                        "runs in the native program (or with --wine as the DLL under Wine on a "
                                        "private virtual display) with a deterministic clock.")
    r.add_argument("audio", metavar="AUDIO", help=audio_help)
    r.add_argument("--out", metavar="FILE|FOLDER/", help="FILE.mp4 (or .mov, .mkv), or a FOLDER/ for numbered "
                                                        "PNG frames (default: AUDIO's name with .mp4, here)")
    r.add_argument("--size", metavar="WxH", help="the plug-in's window in even numbers (default 1280x720, "
                                                  "or the options file's size)")
    r.add_argument("--fps", metavar="N", default="30", help="frames a second (default 30; N or N/D)")
    r.add_argument("--seconds", metavar="S", help="length (default: to the end of the audio)")
    r.add_argument("--start", metavar="S", default="0", help="where in the audio to begin, in seconds")
    r.add_argument("--options", metavar="FILE", help="the plug-in's options file (useropt.cfg) to use")
    r.add_argument("--plugin", metavar="PATH", help="another visualization DLL to use instead of ours; "
                                                     "it runs beside its own files, at its own size")
    r.add_argument("--force", action="store_true", help="with a FOLDER/ that holds files: replace its "
                                                        "frame_*.png (other files stay)")
    add_player_arguments(r)
    r.add_argument("--log", help=argparse.SUPPRESS)  # a copy of the host's event log
    r.add_argument("--timings", help=argparse.SUPPRESS)  # the render's timings as JSON, for the benchmark
    p = commands.add_parser("play", help="the visualization of AUDIO live in a window, with its sound",
                            description="The visualization of AUDIO live in a window on your display, in real "
                                        "time, with the sound where there is an output for it. Escape or "
                                        "closing the window ends it.")
    p.add_argument("audio", metavar="AUDIO", help=audio_help)
    p.add_argument("--size", metavar="WxH", help="the window (default: the options file's, or 512x384)")
    p.add_argument("--start", metavar="S", default="0", help="where in the audio to begin, in seconds")
    p.add_argument("--options", metavar="FILE", help="the plug-in's options file (useropt.cfg) to use")
    p.add_argument("--plugin", metavar="PATH", help="another visualization DLL to use instead of ours")
    p.add_argument("--sound-latency", metavar="MS", help="the sound output's delay that no API reports (a "
                                                         "Bluetooth headset's own), 0 to 10000 ms; natively")
    add_player_arguments(p, offscreen=False)
    s = commands.add_parser("sheet", description="A contact sheet of a video's frames, with their times.")
    s.add_argument("video")
    s.add_argument("out")
    s.add_argument("--columns", type=int, default=4)
    s.add_argument("--rows", type=int, default=3)
    s.add_argument("--width", type=int, default=1280)
    b = commands.add_parser("bench", description="Render alone against the whole export.")
    b.add_argument("--size", default="512x384")
    b.add_argument("--frames", type=int, default=150)
    b.add_argument("--plugin", help="time another visualization DLL instead of ours")
    b.add_argument("--json", help="also write the export's figures to this file")
    if argv and argv[0] in ("render", "play", "sheet", "bench"):
        Parser.command = argv[0]
    args = parser.parse_args(argv)
    refuse_empty_values({"render": r, "play": p, "sheet": s, "bench": b}[args.command], args)
    try:
        _run.begin(args.command)
        try:
            return {"render": render, "play": play, "sheet": sheet, "bench": bench}[args.command](args)
        finally:
            _run.close()
    except Failure as failure:
        return complain(args.command, str(failure), failure.status)
    except OSError as error:  # the disk filled up, a folder went away while the run used it
        where = " (%s)" % error.filename if error.filename else ""
        full = "; the disk is full" if error.errno == errno.ENOSPC else ""
        return complain(args.command, "%s%s%s%s" % (error.strerror or error, where, full, NOTHING_WRITTEN.get(
            args.command, "")), 1)
    except KeyboardInterrupt:
        output = getattr(args, "output", None)
        told = (" after %s was written whole" % output.path if output is not None and output.done
                else NOTHING_WRITTEN.get(args.command, ""))
        return complain(args.command, "interrupted%s." % told, 130)


NOTHING_WRITTEN = {"render": "; nothing was written under the output name",
                   "sheet": "; nothing was written under the output name"}


def complain(command, text, status):
    _run.tell("halcyon %s: %s" % (command, text))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
