"""Music in, video out: the render command end to end, on short clips."""

import glob
import json
import math
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

from harness import BIN, BUILD, PRODUCT_BIN, ensure_session, read_minimal_log, windows_path
from _host_run import NATIVE_DIR, TOOLS, read_events  # noqa: E402  (the scripts' folder is on the path through harness)
from _windows_build import BUILDS  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VIDEO = os.path.join(REPO, "scripts", "_video.py")
HARNESS = os.path.join(REPO, "tests", "wine", "harness.py")
RUNS = os.path.join(REPO, "build", "runs")


def own_session_env(**changes):
    """The environment of a command that starts Wine of its own, as a user's does, with a
    WINEPREFIX of the user's own that it must leave alone."""
    env = {k: v for k, v in os.environ.items() if k not in ("HALCYON_WINE_SESSION", "DISPLAY")}
    env.update(WINEPREFIX=os.path.join(tempfile.gettempdir(), "halcyon-users-own-prefix"), **changes)
    return env


def processes_of(record, wait=0):
    """The processes still alive of a run's record (its children, and anything in its prefixes),
    after giving them up to wait seconds to end."""
    deadline = time.monotonic() + wait
    while True:
        alive = processes_alive(record)
        if not alive or time.monotonic() > deadline:
            return alive
        time.sleep(0.2)


def processes_alive(record):
    alive = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if any(b"WINEPREFIX=" + p.encode() in environ for p in record["prefixes"]):
            alive.append(int(pid))
    for child in record["children"]:
        if os.path.exists("/proc/%d" % child["pid"]) and child["pid"] not in alive:
            with open("/proc/%d/stat" % child["pid"], "rb") as f:
                if int(f.read().rsplit(b")", 1)[1].split()[19]) == child["start"]:
                    alive.append(child["pid"])
    return alive


def bytes_of_the_song(folder):
    """The bytes of the files in a run's folder, less its Wine prefix and the plug-in's copy (the
    same for any song)."""
    total = 0
    for where, folders, files in os.walk(folder):
        folders[:] = [name for name in folders if name not in ("prefix", "plugin")]
        for name in files:
            try:
                total += os.lstat(os.path.join(where, name)).st_size
            except OSError:
                continue
    return total


def program_of(pid):
    """The file name of the program a process runs ("" when it is gone)."""
    try:
        return os.path.basename(os.readlink("/proc/%d/exe" % pid))
    except OSError:
        return ""


def parent_of(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            return int(f.read().rsplit(b")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError):
        return None


def runs_of(pid):
    """The run folders whose owner is pid."""
    found = []
    for name in os.listdir(RUNS):
        try:
            with open(os.path.join(RUNS, name, "run.json")) as f:
                if json.load(f)["owner"] == pid:
                    found.append(name)
        except (OSError, ValueError, KeyError):
            continue
    return found


def write_clip(path, seconds=2.0, rate=44100):
    """Silence, then from the middle on a 100 Hz square wave on the left channel only."""
    frames = bytearray()
    for i in range(int(seconds * rate)):
        t = i / rate
        left = 0.5 if t >= seconds / 2 and math.sin(2 * math.pi * 100 * t) >= 0 else -0.5 if t >= seconds / 2 else 0
        frames += struct.pack("<hh", int(left * 32767), 0)
    with wave.open(path, "wb") as f:
        f.setnchannels(2)
        f.setsampwidth(2)
        f.setframerate(rate)
        f.writeframes(bytes(frames))


def probe(path, stream, entries):
    result = subprocess.run(["ffprobe", "-v", "error", "-select_streams", stream, "-count_frames",
                             "-show_entries", "stream=" + entries, "-of", "default=nw=1", path],
                            capture_output=True, text=True, check=True)
    return dict(line.split("=", 1) for line in result.stdout.split())


def decoded_frames(path, width, height):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    size = width * height * 3
    return [raw[i:i + size] for i in range(0, len(raw), size)]


def pixel(frame, width, x, y):
    at = (y * width + x) * 3
    return tuple(frame[at:at + 3])


# Children of a render stopped from outside: which, by their names in the run's record, and how.
OUTSIDE = {"SIGTERM to the host": (("wine", "wine64"), signal.SIGTERM),
           "SIGKILL to the analyser": (("analyse_audio",), signal.SIGKILL)}


class RenderRuns:
    """Each test gets a two-second clip, an output folder, and these helpers."""

    def setUp(self):
        ensure_session()
        self.folder = tempfile.mkdtemp(prefix="halcyon-render-test-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.clip = os.path.join(self.folder, "clip.wav")
        write_clip(self.clip)
        self.out = os.path.join(self.folder, "out")
        os.makedirs(self.out)
        self.temporary = os.path.join(self.folder, "tmp")  # TMPDIR of the runs a test stops
        os.makedirs(self.temporary)

    def foreign_plugin(self, where="minimal", **keys):
        """minimal_vis.dll in a folder of its own, with its control file beside it."""
        folder = os.path.join(self.folder, where)
        os.makedirs(folder, exist_ok=True)
        shutil.copy2(os.path.join(BIN, "minimal_vis.dll"), folder)
        with open(os.path.join(folder, "minimal_vis.txt"), "w") as f:
            f.write("".join("%s=%s\n" % item for item in keys.items()))
        return os.path.join(folder, "minimal_vis.dll")

    def render(self, *args, audio=None, env=None):
        result = subprocess.run([sys.executable, VIDEO, "render", audio or self.clip] + list(args),
                                capture_output=True, text=True, timeout=300, cwd=self.folder, env=env)
        return result.returncode, result.stdout + result.stderr

    def frames_follow_the_music(self, video):
        """The decoded frames of the clip's video, 60 with its sound, after checking that the
        plug-in painted the lower right with the loudness of each row: silent, then the left
        channel's square wave (red) while the right row stays silent (green). And the width."""
        v = probe(video, "v:0", "codec_name,width,height,nb_read_frames")
        a = probe(video, "a:0", "codec_name,duration")
        self.assertEqual((v["codec_name"], v["nb_read_frames"], a["codec_name"]), ("h264", "60", "aac"))
        self.assertAlmostEqual(float(a["duration"]), 2.0, delta=0.05)
        width, height = int(v["width"]), int(v["height"])
        frames = decoded_frames(video, width, height)
        quiet, loud = (pixel(frames[n], width, width - 10, height - 10) for n in (10, 50))
        self.assertLess(max(quiet[:2]), 12, quiet)
        self.assertGreater(loud[0], 60, loud)
        self.assertLess(loud[1], 12, loud)
        return frames, width, height

    def stopped_runs_leave_nothing(self, args, stops):
        """Renders stopped by each signal: Ctrl-C, SIGTERM or a hang-up within a second, kill -9 of
        the command, SIGTERM to the host or SIGKILL to the analyser from outside, leave no output,
        run folder or process."""
        for stop in stops:
            process, record = self.start_render_of_its_own(args)
            try:
                time.sleep(1)
                asked = time.monotonic()
                if stop in OUTSIDE:
                    names, signum = OUTSIDE[stop]
                    with open(os.path.join(record["folder"], "run.json")) as f:
                        [child] = [c["pid"] for c in json.load(f)["children"] if c["name"] in names]
                    os.kill(child, signum)
                else:
                    process.send_signal(stop)
                text = process.communicate(timeout=60)[0]
                took = time.monotonic() - asked
            finally:
                if process.poll() is None:
                    process.kill()
                    process.communicate()
            if stop == signal.SIGKILL:
                # What the killed run left is ended by the next run to start.
                self.render("--out", "out/x.mp4", "--size", "3x3", "--wine")
            elif stop in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                self.assertEqual(process.returncode, 130, text)
                self.assertEqual(text.strip().splitlines()[-1], "halcyon render: interrupted; nothing was written "
                                                                "under the output name.")
                self.assertLess(took, 1.0, stop)
            else:  # not a crash: someone else ended it
                self.assertEqual(process.returncode, 1, text)
                self.assertRegex(text.strip().splitlines()[-1], {
                    "SIGTERM to the host": r"^halcyon render: the host was stopped by SIGTERM from outside, after \d+ "
                                           r"frames \(\d+ of \d+ frames drawn\)$",
                    "SIGKILL to the analyser": r"^halcyon render: the analysis of \S*clip.wav was stopped by SIGKILL "
                                               r"from outside \(\d+ of \d+ frames drawn\)$"}[stop])
            self.assertEqual(os.listdir(self.out), [], stop)
            self.assertEqual(os.listdir(self.temporary), [], stop)
            self.assertFalse(os.path.exists(record["folder"]), stop)
            self.assertEqual(processes_of(record, wait=10), [], stop)

    def start_render_of_its_own(self, args):
        """A render (under Wine: in a session of its own), once its frames flow: (process, its run's
        record with the run's folder)."""
        # Wine's runs keep their TMPDIR: the Wine server makes a folder of its own there (wine-XXXXXX).
        process = subprocess.Popen([sys.executable, VIDEO, "render", self.clip, "--out", "out/x.mp4"] + args,
                                   cwd=self.folder, env=own_session_env(),
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        deadline = time.monotonic() + 120
        while not os.listdir(self.out) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIsNone(process.poll(), "the render ended before the frames flowed")
        time.sleep(1)  # the frames flow into the temporary output
        for name in os.listdir(RUNS):  # other tests' runs are there too
            try:
                with open(os.path.join(RUNS, name, "run.json")) as f:
                    record = dict(json.load(f), folder=os.path.join(RUNS, name))
            except (OSError, ValueError):
                continue
            if record["owner"] == process.pid:
                self.assertTrue(processes_of(record), record)
                self.assertEqual(bool(record["prefixes"]), "--plugin" in args or "--wine" in args, record)
                return process, record
        self.fail("no run folder of the render")


class RenderTest(RenderRuns, unittest.TestCase):
    def test_video_of_a_two_second_clip(self):
        plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", meter=1, size="160,120")
        video = os.path.join(self.out, "clip.mp4")
        status, text = self.render("--out", video, "--plugin", plugin)
        self.assertEqual(status, 0, text)
        self.assertEqual(os.listdir(self.out), ["clip.mp4"])
        self.assertNotIn("real time", text)  # GL on the host's thread: the deterministic clock
        self.frames_follow_the_music(video)

    def test_our_plugin_to_png_frames(self):
        status, text = self.render("--out", os.path.join(self.out, "frames") + "/", "--size", "320x240",
                                   "--seconds", "0.5", "--start", "1", "--wine")
        self.assertEqual(status, 0, text)
        names = sorted(os.listdir(os.path.join(self.out, "frames")))
        self.assertEqual(names, ["frame_%05d.png" % i for i in range(15)])
        self.assertEqual(os.listdir(self.out), ["frames"])
        with open(os.path.join(self.out, "frames", names[0]), "rb") as f:
            self.assertEqual(struct.unpack(">II", f.read(24)[16:24]), (320, 240))
        # Our plug-in still starts and draws: a lit sphere on the music's loud part.
        [last] = decoded_frames(os.path.join(self.out, "frames", names[-1]), 320, 240)
        self.assertGreater(sum(last) / len(last), 5)

    def test_interrupted_and_killed_runs_leave_nothing(self):
        plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", render_sleep=40)
        self.stopped_runs_leave_nothing(["--plugin", plugin, "--fps", "120"],
                                        (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL,
                                         "SIGTERM to the host", "SIGKILL to the analyser"))

    def test_a_run_killed_outright_during_the_analysis_takes_the_analyser_with_it(self):
        # Two hours of 8 kHz mono: seconds of analysis, long enough to be caught at it.
        song = os.path.join(self.folder, "long.wav")
        with wave.open(song, "wb") as f:
            f.setnchannels(1)
            f.setsampwidth(2)
            f.setframerate(8000)
            f.writeframes(bytes(8000 * 2 * 7200))
        process = subprocess.Popen([sys.executable, VIDEO, "render", song, "--out", "out/x.mp4", "--wine"],
                                   cwd=self.folder, env=own_session_env(), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        deadline = time.monotonic() + 60
        analyser = None
        while analyser is None and process.poll() is None and time.monotonic() < deadline:
            analyser = next((int(pid) for pid in filter(str.isdigit, os.listdir("/proc"))
                             if program_of(int(pid)) == "analyse_audio" and parent_of(int(pid)) == process.pid), None)
            time.sleep(0.01)
        self.assertIsNotNone(analyser, "no analysis seen")
        [run] = runs_of(process.pid)
        with open(os.path.join(RUNS, run, "run.json")) as f:
            self.assertIn("analyse_audio", [c["name"] for c in json.load(f)["children"]])
        process.kill()
        process.wait()
        deadline = time.monotonic() + 1
        while program_of(analyser) == "analyse_audio" and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertNotEqual(program_of(analyser), "analyse_audio")

    def test_a_long_song_streams_into_the_host(self):
        """Ten minutes of music: the first frame comes while the analyser is still at the song's
        start, its rows going through a pipe straight into the host (no stream file in the run's
        folder), both on the run's record, and a Ctrl-C ends both within a second."""
        song = os.path.join(self.folder, "long.wav")
        with wave.open(song, "wb") as f:
            f.setnchannels(1)
            f.setsampwidth(2)
            f.setframerate(8000)
            f.writeframes(bytes(8000 * 2 * 600))
        started = time.monotonic()
        process = subprocess.Popen([sys.executable, VIDEO, "render", song, "--out", "out/x.mp4", "--size", "320x240",
                                    "--wine"], cwd=self.folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        deadline, largest, first_frame, record = time.monotonic() + 120, 0, None, None
        while first_frame is None and process.poll() is None and time.monotonic() < deadline:
            for name in runs_of(process.pid):
                folder = os.path.join(RUNS, name)
                largest = max(largest, bytes_of_the_song(folder))
                if any(e["event"] == "frame" for path in glob.glob(os.path.join(folder, "render-*", "events.jsonl"))
                       for e in read_events(path)):
                    first_frame = time.monotonic() - started
                    with open(os.path.join(folder, "run.json")) as f:
                        record = dict(json.load(f), folder=folder)
            time.sleep(0.02)
        self.assertIsNotNone(first_frame, "no frame seen")
        self.assertLess(first_frame, 10)
        children = {c["name"]: c["pid"] for c in record["children"]}
        analyser, host = children["analyse_audio"], children.get("wine", children.get("wine64"))
        self.assertEqual(program_of(analyser), "analyse_audio", "the song was analysed whole before the frames")
        self.assertEqual(os.readlink("/proc/%d/fd/1" % analyser), os.readlink("/proc/%d/fd/0" % host))
        asked = time.monotonic()
        process.send_signal(signal.SIGINT)
        text = process.communicate(timeout=60)[0]
        self.assertEqual(process.returncode, 130, text)
        self.assertLess(time.monotonic() - asked, 1.0)
        self.assertEqual(processes_of(record), [])
        self.assertFalse(os.path.exists(record["folder"]))
        self.assertLess(largest, 1 << 20)  # 18,000 rows of a stream file would be 41 MB

    def test_ctrl_c_at_early_moments_ends_with_one_line(self):
        """./halcyon render interrupted while its wrapper checks the set-up, as the interpreter
        starts (where a signal once ended it unsaid) and as the run begins: status 130, one line
        that says so, nothing written, nothing of the run left."""
        halcyon = self.command_tree()
        set_up = lambda pid: os.path.exists(os.path.join(self.folder, "dpkg-query-ran"))  # noqa: E731
        moments = [  # our plug-in natively runs halcyonsphere; under Wine the Python run
            ("checking the set-up", [], set_up),
            ("the program starting", [], lambda pid: program_of(pid).startswith("halcyonsphere")),
            ("checking the set-up for Wine", ["--wine"], set_up),
            ("the interpreter starting", ["--wine"], lambda pid: program_of(pid).startswith("python")),
            ("the run beginning", ["--wine"], runs_of)]
        for moment, player, reached in moments:
            if os.path.exists(os.path.join(self.folder, "dpkg-query-ran")):
                os.remove(os.path.join(self.folder, "dpkg-query-ran"))
            process = subprocess.Popen([halcyon, "render", self.clip, "--out", "out/x.mp4", "--size", "320x240"]
                                       + player, cwd=self.folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.addCleanup(lambda process=process: process.poll() is None and process.kill())
            deadline = time.monotonic() + 60
            while not reached(process.pid) and process.poll() is None and time.monotonic() < deadline:
                time.sleep(0.002)
            process.send_signal(signal.SIGINT)
            text = process.communicate(timeout=120)[0].decode()
            told = [line for line in text.splitlines() if "interrupted" in line]
            self.assertEqual((process.returncode, len(told)), (130, 1), (moment, text))
            self.assertNotIn("Traceback", text, moment)
            self.assertEqual(os.listdir(self.out), [], moment)
            self.assertEqual(runs_of(process.pid), [], moment)

    def command_tree(self):
        """./halcyon in a tree of its own: these scripts, the build's products, and a set-up check
        and build tools that find nothing to do (so that the command starts at once and the build
        folders stay as they are). Its path."""
        tree, fakes = os.path.join(self.folder, "tree"), os.path.join(self.folder, "fakes")
        for folder in [os.path.join(tree, "build", name) for name in ("win32", "win64", "release")] + [fakes]:
            os.makedirs(folder)
        for link, target in (("halcyon", os.path.join(REPO, "halcyon")), ("scripts", os.path.join(REPO, "scripts")),
                             ("build/win32/bin", os.path.join(BUILDS["i686"].folder, "bin")),
                             ("build/win64/bin", os.path.join(BUILDS["x86_64"].folder, "bin")),
                             ("build/release/tools", os.environ["HALCYON_TOOLS_DIR"]), ("build/release/native", NATIVE_DIR),
                             ("build/runs", RUNS), ("build/wine", os.path.join(REPO, "build", "wine"))):
            os.symlink(target, os.path.join(tree, link))
        marker = os.path.join(self.folder, "dpkg-query-ran")
        for name, body in (("dpkg-query", 'touch "%s"; sleep 0.3; for p; do echo "ii ${p%%%%:*} ${p#*:}"; done' % marker),
                           ("cmake", "echo cmake version 0"), ("ninja", "true")):
            with open(os.path.join(fakes, name), "w") as f:
                f.write("#!/bin/sh\n" + body + "\n")
            os.chmod(os.path.join(fakes, name), 0o755)
        self.addCleanup(os.environ.__setitem__, "PATH", os.environ["PATH"])
        os.environ["PATH"] = fakes + os.pathsep + os.environ["PATH"]
        return os.path.join(tree, "halcyon")


def in_mounts_of_its_own(script, *args):
    """A command line that runs the shell script in a mount namespace of its own (root only):
    a test mounts small file systems there that vanish with it."""
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        raise unittest.SkipTest("mounting a file system needs root and unshare")
    return ["unshare", "-m", "sh", "-c", script, "sh"] + list(args)


class FailureTest(RenderRuns, unittest.TestCase):
    def test_bad_inputs_and_outputs_are_refused_before_rendering(self):
        files = {"noise.wav": b"RIFF\x10\x00\x00\x00WAVEnothing useful", "notes.mp3": b"a text file\n",
                 "short.cfg": bytes(20), "taken/notes.txt": b"mine", "afile": b"mine", "text.dll": b"not a DLL",
                 "wild.cfg": struct.pack("<14i", 640, 480, 0, 1, 0, 0, 0, 5000, 384, 768, 0, 1, 0, 2)}
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(self.folder, name)), exist_ok=True)
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)
        os.mkdir(os.path.join(self.folder, "dir.mp4"))
        os.mkfifo(os.path.join(self.folder, "fifo.wav"))
        os.mkfifo(os.path.join(self.folder, "fifo.cfg"))
        before = sorted(os.listdir(self.folder))
        x = ["--out", "out/x.mp4"]
        cases = [  # arguments, audio (None: the clip), exit status, what the message says
            (x, "missing.wav", 1, "no such audio file"),
            (x, "noise.wav", 1, "cannot read"),
            (x, "notes.mp3", 1, "not an audio file libsndfile can read"),
            (x, "fifo.wav", 1, "is not a regular file"),
            (x + ["--size", "641x360"], None, 2, "even numbers"),
            (x + ["--size", "64x64", "--wine"], None, 2, "112 to 4096 pixels wide"),
            (x + ["--gl", "software", "--wine"], None, 2, "under Wine the plug-in draws with Mesa's llvmpipe"),
            (["--out", "out/x.avi"], None, 2, "name a .mp4"),
            (x + ["--plugin", "none.dll"], None, 1, "no such plug-in"),
            (x + ["--plugin", "text.dll"], None, 1, "text.dll is not a Windows DLL (no MZ header)"),
            (["--out", "afile/"], None, 2, "afile is a file, not a folder"),
            (["--out", "dir.mp4"], None, 2, "dir.mp4 is a folder"),
            (["--out", "nowhere/x.mp4"], None, 1, "the folder for nowhere/x.mp4 does not exist"),
            (["--out", "taken/"], None, 2, "give --force"),
            (x + ["--options", "short.cfg"], None, 1, "holds 20 bytes"),
            (x + ["--options", "wild.cfg"], None, 1, "light_brightness 5000 (0 to 1024), sphere_count 0 (1 to 256)"),
            (x + ["--options", "fifo.cfg"], None, 1, "is not a regular file"),
        ]
        for args, audio, status, message in cases:
            code, text = self.render(*args, audio=audio and os.path.join(self.folder, audio))
            self.assertEqual((code, len(text.strip().splitlines())), (status, 1), (args, audio, text))
            self.assertIn(message, text, (args, audio))
            self.assertEqual((sorted(os.listdir(self.folder)), os.listdir(self.out)), (before, []), (args, text))
        # A folder that cannot be written: found before anything is rendered.
        script = 'mount -t tmpfs -o ro tmpfs "$1" && exec "$2" "$3" render "$4" --out "$1/x.mp4"'
        result = subprocess.run(in_mounts_of_its_own(script, self.out, sys.executable, VIDEO, self.clip),
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 1, result)
        self.assertIn("cannot write into %s: Read-only file system" % self.out, result.stderr)

    def test_a_32bit_plugin_where_no_32bit_code_runs(self):
        # Tried as such a machine runs it: every i386 process is killed at its first system call.
        plugin = os.path.join(PRODUCT_BIN, "minimal_vis.dll")
        env = dict(os.environ, HALCYON_WINDOWS_BUILD="x86_64")
        for command in ([VIDEO, "render", self.clip, "--out", os.path.join(self.out, "x.mp4"), "--plugin", plugin],
                        [HARNESS, plugin, "--frames", "1"]):
            result = subprocess.run([os.environ["HALCYON_WITHOUT_32BIT"], sys.executable] + command, env=env,
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual((result.returncode, result.stdout), (1, ""), result)
            # The filter's kill, or the kernel's own refusal where it runs no 32-bit code at all.
            self.assertRegex(result.stderr.strip(), r"^halcyon [a-z]+: %s is a 32-bit plug-in, and this machine(.s "
                             r"kernel)? runs no 32-bit code \(an i386 program (was ended by SIGSYS|fails: Exec format "
                             r"error)\); only 64-bit plug-ins run here$" % re.escape(plugin))
        self.assertEqual(os.listdir(self.out), [])

    def test_a_plugin_that_fails_leaves_what_was_there(self):
        video = os.path.join(self.out, "x.mp4")
        with open(video, "wb") as f:
            f.write(b"the user's earlier video")
        # Addresses in full: 8 hex digits from a 32-bit host, 16 from a 64-bit one.
        crashed = (r"the plug-in crashed: page fault at 0x([0-9A-F]{8}){1,2} \(writing 0x(0{8}){1,2}, "
                   r"in minimal_vis.dll, during ")
        cases = [  # how the plug-in fails, and what the user reads
            (dict(quit_after=20), r"asked to be stopped after 20 frames \(20 of 60 frames drawn\)"),
            (dict(end_after=21), r"Render asked to end after 20 frames \(20 of 60 frames drawn\)"),
            (dict(crash="init"), crashed + r"Init\)$"),
            (dict(crash=21), crashed + r"Render\) \(20 of 60 frames drawn\)"),
        ]
        for keys, message in cases:
            plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", **keys)
            status, text = self.render("--out", video, "--plugin", plugin)
            self.assertEqual(status, 1, text)
            self.assertRegex(text.strip().splitlines()[-1], message)
            self.assertEqual(os.listdir(self.out), ["x.mp4"], keys)
            with open(video, "rb") as f:
                self.assertEqual(f.read(), b"the user's earlier video", keys)


class OutputTest(RenderRuns, unittest.TestCase):
    """PNG frames into the folders users name, and what a render says of its input."""

    def test_frames_folders(self):
        plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", size="160,120")
        frames = ["frame_%05d.png" % i for i in range(15)]
        # A name with a % in it is a name, not a pattern; a folder in use is refused, then replaced.
        odd = os.path.join(self.out, "100% loud")
        os.makedirs(odd)
        for name in ("frame_00000.png", "frame_00099.png", "notes.txt"):
            with open(os.path.join(odd, name), "w") as f:
                f.write("earlier")
        self.assertEqual(self.render("--out", odd + "/", "--plugin", plugin, "--seconds", "0.5")[0], 2)
        status, text = self.render("--out", odd + "/", "--plugin", plugin, "--seconds", "0.5", "--force")
        self.assertEqual(status, 0, text)
        self.assertIn("Wrote 15 PNG frames", text)
        self.assertEqual(sorted(os.listdir(odd)), frames + ["notes.txt"])
        with open(os.path.join(odd, "notes.txt")) as f:
            self.assertEqual(f.read(), "earlier")
        # A mount point (another file system than the folder above it).
        script = ('mount -t tmpfs tmpfs "$1" && "$2" "$3" render "$4" --out "$1/" --plugin "$5" --seconds 0.5 >&2 && '
                  'ls -A "$1"')
        result = subprocess.run(in_mounts_of_its_own(script, self.out, sys.executable, VIDEO, self.clip, plugin),
                                capture_output=True, text=True, timeout=120)
        self.assertEqual((result.returncode, result.stdout.split()), (0, frames), result.stderr)

    def test_a_full_disk_and_a_file_cut_short(self):
        plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", size="640,480")
        script = ('mount -t tmpfs -o size=64k tmpfs "$1" && "$2" "$3" render "$4" --out "$1/frames/" --plugin "$5"; '
                  'echo "status $?"; ls -a "$1"')
        result = subprocess.run(in_mounts_of_its_own(script, self.out, sys.executable, VIDEO, self.clip, plugin),
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.stdout.split()[-4:], ["status", "1", ".", ".."], result)
        self.assertIn("the disk is full (No space left on device); the unfinished output was removed", result.stderr)
        # Half a FLAC file: the video is as long as the sound it holds, and the user is told.
        flac = os.path.join(self.folder, "clip.flac")
        subprocess.run(["ffmpeg", "-v", "error", "-i", self.clip, flac], check=True)
        with open(flac, "r+b") as f:
            f.truncate(os.path.getsize(flac) // 2)
        status, text = self.render("--out", "out/cut.mp4", "--plugin", plugin, audio=flac)
        self.assertEqual(status, 0, text)
        self.assertRegex(text, r"clip.flac is cut short: its sound ends at 0:0[01], though its header says 0:02")
        planned = int(re.search(r"fps: (\d+) frames", text).group(1))
        frames = int(probe(os.path.join(self.out, "cut.mp4"), "v:0", "nb_read_frames")["nb_read_frames"])
        self.assertEqual(frames, planned)
        self.assertLess(frames, 60)


class TogetherTest(RenderRuns, unittest.TestCase):
    def test_two_exports_and_a_host_run_at_once_finish_as_if_alone(self):
        plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", meter=1, size="160,120")
        env = own_session_env()

        def start(command):
            return subprocess.Popen(command, cwd=self.folder, env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True)

        def export(name):
            return start([sys.executable, VIDEO, "render", self.clip, "--out", os.path.join(self.out, name) + "/",
                          "--plugin", plugin])

        def host():
            return start([sys.executable, HARNESS, "minimal_vis.dll", "--frames", "20", "--spectrum", "tone:5"])

        def finished(process):
            output = process.communicate(timeout=300)[0]
            self.assertEqual(process.returncode, 0, output)
            return output

        def events(output):  # what the host did, without its timings
            lines = [json.loads(line) for line in output.splitlines() if line.startswith("{")]
            return [(e["event"], e.get("index"), e.get("result"), e.get("frames")) for e in lines]

        finished(export("alone"))
        alone = events(finished(host()))
        runs = [export("first"), export("second"), host()]
        outputs = [finished(process) for process in runs]
        self.assertEqual(events(outputs[2]), alone)
        frames = sorted(os.listdir(os.path.join(self.out, "alone")))
        self.assertEqual(len(frames), 60)
        for name in ("first", "second"):
            self.assertEqual(sorted(os.listdir(os.path.join(self.out, name))), frames)
            for frame in frames:
                with open(os.path.join(self.out, "alone", frame), "rb") as a, \
                        open(os.path.join(self.out, name, frame), "rb") as b:
                    self.assertEqual(a.read(), b.read(), (name, frame))
        self.assertFalse(os.path.exists(env["WINEPREFIX"]), "a run used the user's own prefix")


class OtherPluginsTest(RenderRuns, unittest.TestCase):
    """Plug-ins that draw as other people's do, exported end to end."""

    def test_embedded_gdi_window_with_the_waveform_in_real_time(self):
        plugin = self.foreign_plugin(embed=1, gdi="0,0,90", meter=1, wave=1, size="160,120")
        video = os.path.join(self.out, "clip.mp4")
        status, text = self.render("--out", video, "--plugin", plugin)
        self.assertEqual(status, 0, text)
        self.assertIn("exported in real time", text)
        frames, width, height = self.frames_follow_the_music(video)
        # The waveform's line (bright green, unlike the background) in the right half: flat in
        # silence, jumping between the square wave's two levels in the music.
        def line_rows(frame):
            return [y for y in range(height) if any(pixel(frame, width, x, y)[1] > 120
                                                    for x in range(width // 2 + 4, width))]
        quiet, loud = line_rows(frames[10]), line_rows(frames[50])
        self.assertTrue(quiet and max(quiet) - min(quiet) <= 3, quiet)
        self.assertGreater(max(loud) - min(loud), height // 3, loud)
        renders = [f for w, f in read_minimal_log(os.path.join(self.folder, "minimal", "minimal_vis.log"))
                   if w == "render"]
        self.assertEqual(len(renders), 60)
        left = [int(r["wave_peak0"]) for r in renders]
        self.assertEqual((left[:30], min(left[30:]), max(left)), ([0] * 30, 64, 64))
        self.assertEqual({r["wave_peak1"] for r in renders}, {"0"})

    def test_directdraw_and_gl_on_a_thread_of_its_own(self):
        for where, keys in (("ddraw", dict(window=1, ddraw="0,0,90")),
                            ("gl_thread", dict(embed=1, thread="own", gl_clear="0,0,90"))):
            plugin = self.foreign_plugin(where=where, meter=1, size="160,120", **keys)
            video = os.path.join(self.out, "clip.mp4")
            status, text = self.render("--out", video, "--plugin", plugin)
            self.assertEqual(status, 0, text)
            self.assertIn("exported in real time", text)
            self.frames_follow_the_music(video)

    def test_player_files_and_questions(self):
        plugin = self.foreign_plugin(where="winamp/Plugins", window=1, gdi="0,0,90", ini=1,
                                     ask="104,105:0,105:1,211,212,999")
        status, text = self.render("--out", "out/x.mp4", "--plugin", plugin, "--fps", "10", "--start", "0.5",
                                   "--seconds", "1")
        self.assertEqual(status, 0, text)
        self.assertIn("999 (wParam 0)", text)  # what the host could not answer
        log = read_minimal_log(os.path.join(self.folder, "winamp", "Plugins", "minimal_vis.log"))
        [ini] = [f for w, f in log if w == "ini"]
        self.assertEqual((ini["file"], ini["starts"], ini["found_self"]),
                         (windows_path(os.path.join(self.folder, "winamp", "winamp.ini")), "1", "1"))
        with open(os.path.join(self.folder, "winamp", "winamp.ini")) as f:
            self.assertIn("starts=1", f.read())
        answers = [(f["when"], int(f["104"]), int(f["105:0"]), int(f["105:1"])) for w, f in log if w == "asked"]
        self.assertEqual(answers, [("init", 0, 500, 2)] + [("render", 1, 500 + 100 * n, 2) for n in range(10)]
                         + [("quit", 0, 1400, 2)])
        texts = {(f["number"], f["value"]) for w, f in log if w == "text"}
        self.assertEqual(texts, {("211", windows_path(self.clip)), ("212", "clip")})



# How far the native program's frames may lie from the DLL's under Wine, per channel (red, green,
# blue) on 0-255: the mean absolute difference over every pixel, and the largest. Measured over the
# demo's 600 frames at 640x360: against the x86_64 DLL every frame is the same; against the i686 DLL
# 362 are, and the rest differ along a few triangle edges (the 32-bit Mesa rasterizes some edge
# pixels differently), mean 0.0000/0.0001/0.0002, largest 28/30/71; this clip: mean
# 0.0006/0.0008/0.0012, largest 34/41/68. The tolerances allow four times that mean, and edges:
# frames a step brighter over the blur (a frame copy without alpha) lie at a mean of 0.05 and more.
MEAN_TOLERANCE = 0.005
LARGEST_TOLERANCE = 100


class SamePicturesTest(RenderRuns, unittest.TestCase):
    def test_the_native_frames_are_the_dlls(self):
        music = os.path.join(self.folder, "music.wav")
        subprocess.run([os.path.join(TOOLS, "make_demo_music"), music, "--seconds", "20"], check=True,
                       stdout=subprocess.DEVNULL)
        folders = [os.path.join(self.out, name) for name in ("native", "dll")]
        part = ["--size", "320x180", "--start", "14", "--seconds", "3"]
        # Natively the installed program's render, with the plug-in's default options (a HOME of its own).
        home = os.path.join(self.folder, "home")
        os.makedirs(home)
        native = subprocess.run([os.path.join(NATIVE_DIR, "halcyonsphere"), "render", music, "--out", folders[0] + "/",
                                 "--gl", "software"] + part, capture_output=True, text=True, timeout=300,
                                env=dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config")))
        self.assertEqual(native.returncode, 0, native.stderr)
        status, text = self.render("--out", folders[1] + "/", "--wine", *part, audio=music)
        self.assertEqual(status, 0, text)
        [last] = decoded_frames(os.path.join(folders[0], "frame_00089.png"), 320, 180)
        self.assertGreater(sum(last) / len(last), 20, "the drop lights the frame")
        result = subprocess.run([os.path.join(TOOLS, "compare_frames")] + folders, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        figures = json.loads(result.stdout)
        self.assertEqual(figures["frames"], 90)
        if BUILD.name == "x86_64":
            self.assertEqual(figures["differing"], 0, figures)
        self.assertLessEqual(max(figures["mean"]), MEAN_TOLERANCE, figures)
        self.assertLessEqual(max(figures["largest"]), LARGEST_TOLERANCE, figures)


if __name__ == "__main__":
    unittest.main()
