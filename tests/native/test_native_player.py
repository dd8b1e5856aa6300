"""The native player end to end, offscreen on llvmpipe: a short run to the end and one stopped by
Escape, with the events the Windows host writes and the frames; every failed start with its exit
status and its one line; captures that cannot be written; runs stopped by a signal or killed, and
the private folder each leaves (none).

HALCYON_NATIVE names the player (ctest sets it; default build/native/native/halcyon_native)."""

import errno
import json
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import wave

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NATIVE = os.environ.get("HALCYON_NATIVE") or os.path.join(REPO, "build", "native", "native", "halcyon_native")
WIDTH, HEIGHT = 128, 96
BASE = ["--gl", "software", "--size", "%dx%d" % (WIDTH, HEIGHT), "--delay", "0"]


def stream_record(level):
    return bytes([level]) * (2 * 576) + bytes(2 * 576)


def stream_bytes(levels, count=None):
    """A spectrum stream of 30 rows a second whose frame N has every bin of both channels at levels[N]
    (count: the header's frame count, when it is to lie)."""
    count = len(levels) if count is None else count
    header = b"HSPS" + struct.pack("<9I", 2, 2, 576, 30, 1, count, 0, count * 1000 // 30, 0)
    return header + b"".join(stream_record(level) for level in levels)


kHalfRecord = 576
LIVE_HEADER = b"HSPS" + struct.pack("<9I", 2, 2, 576, 60, 1, 0, 0, 0, 1)


class Run:
    def __init__(self, folder, args, timeout=240, stdin=subprocess.DEVNULL, **env_changes):
        """stdin: bytes (through a pipe), a file, or none."""
        self.folder = folder
        events = os.path.join(folder, "events.jsonl")
        env = dict(os.environ, TMPDIR=folder, **env_changes)  # where a private plug-in folder would be left
        feed = dict(input=stdin) if isinstance(stdin, bytes) else dict(stdin=stdin)
        result = subprocess.run([NATIVE, "--log", events] + args, cwd=folder, env=env, capture_output=True,
                                timeout=timeout, **feed)
        self.status, self.stdout, self.stderr = result.returncode, result.stdout, result.stderr.decode("latin-1")
        self.events = []
        if os.path.exists(events):
            with open(events, "rb") as f:
                self.events = [json.loads(line) for line in f.read().decode("ascii").splitlines() if line]

    def of(self, name):
        return [e for e in self.events if e["event"] == name]

    def one(self, name):
        found = self.of(name)
        if len(found) != 1:
            raise AssertionError("expected one %r event:\n%s" % (name, self.describe()))
        return found[0]

    def describe(self):
        return "status %s\n%s\nstderr: %s" % (self.status, "\n".join(json.dumps(e) for e in self.events),
                                              self.stderr[-2000:])


def private_folders(folder):
    """The private plug-in folders a run made in folder (its TMPDIR)."""
    return sorted(n for n in os.listdir(folder) if n.startswith("halcyon-native-"))


def read_events(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [json.loads(line) for line in f.read().decode("ascii").splitlines() if line.endswith("}")]


class NativeTestCase(unittest.TestCase):
    def run_native(self, args):
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        with open(os.path.join(folder, "music.hsps"), "wb") as f:
            f.write(stream_bytes([0] * 4 + [220] * 4))
        return Run(folder, args)


class PlayerRun(NativeTestCase):
    def test_frames_follow_the_music_and_the_events_are_the_hosts(self):
        run = self.run_native(BASE + ["--clock-ms", "1000/30", "--spectrum", "stream:music.hsps", "--capture", "shots",
                                      "--video", "-", "--track", "song.flac"])
        self.assertEqual(run.status, 0, run.describe())
        names = [e["event"] for e in run.events if e["event"] not in ("host_message", "capture")]
        self.assertEqual(names, ["loaded", "player_files", "clock", "init", "gl", *["frame"] * 8, "quit", "end"],
                         run.describe())
        self.assertEqual(run.one("end")["reason"], "frames")
        self.assertEqual(run.one("end")["frames"], 8)
        self.assertEqual(run.one("clock")["start"], 10000)
        self.assertIn("llvmpipe", run.one("gl")["renderer"])
        self.assertEqual(run.one("gl")["display"], "software")
        self.assertEqual(run.one("player_files")["plugin_folder"], os.path.dirname(os.path.realpath(NATIVE)))
        registrations = [e for e in run.of("host_message") if e["lparam"] == 611]
        self.assertEqual([(e["phase"], e["wparam"] != 0) for e in registrations], [("init", True), ("quit", False)])
        self.assertEqual((registrations[0]["client_width"], registrations[0]["client_height"]), (WIDTH, HEIGHT))
        self.assertEqual(registrations[0]["window_class"], "f_Halcyonsphere")
        embed = [e for e in run.of("host_message") if e["lparam"] == 505]
        self.assertTrue(embed and embed[0]["answer"] != 0 and embed[0]["known"], run.describe())
        quit = run.one("quit")
        self.assertEqual((quit["render_window_alive"], quit["window_class_registered"], quit["windows"]),
                         (False, False, 0))
        self.assertFalse(private_folders(run.folder), "the private plug-in folder is removed")
        # Our plug-in never asks for the player's ini file: none is made.
        files = run.one("player_files")
        self.assertEqual((files["ini_file"], files["writable"]), (os.path.join(run.folder, "winamp.ini"), True))
        self.assertNotIn("winamp.ini", os.listdir(run.folder))

        # The raw frames on stdout, as an encoder reads them.
        magic, width, height, order = struct.unpack_from("<4sII4s", run.stdout)
        self.assertEqual((magic, width, height, order), (b"HRAW", WIDTH, HEIGHT, b"BGRA"))
        size = WIDTH * HEIGHT * 4
        self.assertEqual(len(run.stdout), 16 + 8 * size)
        frames = [run.stdout[16 + i * size:16 + (i + 1) * size] for i in range(8)]
        means = [[sum(frame[c::4]) / (WIDTH * HEIGHT) for c in (2, 1, 0)] for frame in frames]  # R, G, B

        # Each frame captured as it went to the encoder.
        captures = run.of("capture")
        self.assertEqual(len(captures), 8)
        for index, (capture, mean) in enumerate(zip(captures, means)):
            self.assertTrue(capture["captured"], capture)
            with open(capture["path"], "rb") as f:
                png = f.read(24)
            self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", png[16:24]), (WIDTH, HEIGHT))
            for got, want in zip(capture["mean_rgb"], mean):
                self.assertAlmostEqual(got, want, places=2, msg="frame %d" % index)

        brightness = [sum(mean) / 3 for mean in means]
        self.assertGreater(brightness[0], 2, "the sphere is lit in silence")
        self.assertTrue(all(a != b for a, b in zip(frames, frames[1:])), "every frame moves")
        self.assertGreater(min(brightness[4:]), max(brightness[:4]) + 1, "the music brightens the frames")

    def test_the_sound_heard_paces_the_rows_and_ends_the_run(self):
        # SDL's dummy output takes the sound at its real pace, as a sound card does; the sound is a
        # little shorter than the rows, and its end ends the run.
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        with open(os.path.join(folder, "music.hsps"), "wb") as f:
            f.write(stream_bytes([100] * 90))
        with wave.open(os.path.join(folder, "music.wav"), "wb") as f:
            f.setnchannels(2)
            f.setsampwidth(2)
            f.setframerate(44100)
            f.writeframes(bytes(4 * 44100 * 29 // 10))
        run = Run(folder, BASE + ["--realtime", "--spectrum", "stream:music.hsps", "--sound", "music.wav"],
                  timeout=60, SDL_AUDIODRIVER="dummy")
        self.assertEqual(run.status, 0, run.describe())
        self.assertTrue(run.one("sound")["playing"], run.describe())
        self.assertEqual(run.one("end")["reason"], "stream_end", run.describe())
        rows = [e["row"] for e in run.of("frame")]
        self.assertEqual(rows, sorted(rows))
        self.assertGreater(run.one("end")["loop_ms"], 2800)  # the sound's own time, however fast the frames
        # The first frame compiles the shaders: on a busy machine it may outlast the sound.
        self.assertGreaterEqual(rows[-1], 45 if len(rows) > 1 else 0, run.describe())

    @unittest.skipUnless(shutil.which("pulseaudio") and shutil.which("pactl"), "needs pulseaudio and pactl")
    def test_the_picture_waits_for_the_sound_to_be_heard(self):
        # A private sound server with a null sink: the server's latency for our stream is found,
        # and with the user's 300 ms the last frame shows the sound heard, not the sound handed over.
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        runtime = os.path.join(folder, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, PULSE_RUNTIME_PATH=os.path.join(runtime, "pulse"),
                   SDL_AUDIODRIVER="pulseaudio")
        server = subprocess.Popen(["pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
                                   "--disallow-exit", "-L", "module-native-protocol-unix",
                                   "-L", "module-null-sink sink_name=out"], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (server.terminate(), server.wait(10)))
        give_up = time.monotonic() + 20
        while subprocess.run(["pactl", "set-default-sink", "out"], env=env, capture_output=True).returncode != 0:
            self.assertIsNone(server.poll(), "the sound server ended at its start")
            self.assertLess(time.monotonic(), give_up, "the sound server does not answer")
            time.sleep(0.1)
        with open(os.path.join(folder, "music.hsps"), "wb") as f:
            f.write(stream_bytes([100] * 90))
        with wave.open(os.path.join(folder, "music.wav"), "wb") as f:
            f.setnchannels(2)
            f.setsampwidth(2)
            f.setframerate(44100)
            f.writeframes(bytes(4 * 44100 * 2))
        run = Run(folder, BASE + ["--realtime", "--spectrum", "stream:music.hsps", "--sound", "music.wav",
                                  "--sound-latency", "300"], timeout=60, **env)
        self.assertEqual(run.status, 0, run.describe())
        latency = run.one("sound_latency")
        self.assertGreater(latency["reported_ms"], 0, run.describe())
        self.assertEqual(latency["extra_ms"], 300)
        last = run.of("frame")[-1]["row"]
        heard = (2 - (300 + latency["reported_ms"]) / 1000) * 30
        self.assertTrue(heard - 6 <= last <= heard + 1.5, "last row %d, the sound heard at row %.1f" % (last, heard))

    def test_a_sound_device_that_stalls_still_ends_the_run(self):
        # SDL's file output into a FIFO nobody reads: the device takes what the pipe holds, a
        # fraction of a second, then stops asking for sound. The clock goes on without it.
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        with open(os.path.join(folder, "music.hsps"), "wb") as f:
            f.write(stream_bytes([100] * 60))
        with wave.open(os.path.join(folder, "music.wav"), "wb") as f:
            f.setnchannels(2)
            f.setsampwidth(2)
            f.setframerate(44100)
            f.writeframes(bytes(4 * 44100 * 3))
        fifo = os.path.join(folder, "device")
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        log = os.path.join(folder, "events.jsonl")
        env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=fifo, TMPDIR=folder)
        process = subprocess.Popen([NATIVE, "--log", log] + BASE + ["--realtime", "--spectrum", "stream:music.hsps",
                                                                    "--sound", "music.wav"],
                                   cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        give_up = time.monotonic() + 60
        while not any(e["event"] == "end" for e in read_events(log)):
            self.assertIsNone(process.poll(), "the run ended without its end")
            self.assertLess(time.monotonic(), give_up, "the run never ends")
            time.sleep(0.1)
        # Drained, the device's writes go through and the process can go.
        while process.poll() is None and time.monotonic() < give_up:
            try:
                os.read(reader, 1 << 16)
            except BlockingIOError:
                time.sleep(0.01)
        self.assertEqual(process.wait(10), 0)
        events = read_events(log)
        self.assertTrue([e for e in events if e["event"] == "sound"][0]["playing"])
        end = events[-1]
        self.assertEqual(end["reason"], "stream_end")
        self.assertLess(end["loop_ms"], 2000 + 1500, "the stall is bounded")
        rows = [e["row"] for e in events if e["event"] == "frame"]
        self.assertEqual(rows, sorted(rows))

    def test_escape_stops_the_run_as_a_user_does(self):
        run = self.run_native(BASE + ["--frames", "6", "--escape-at", "2", "--spectrum", "tone:20@180"])
        self.assertEqual(run.status, 0, run.describe())
        poke = run.one("poke")
        self.assertEqual((poke["what"], poke["frame"], poke["posted"]), ("escape", 2, True))
        self.assertEqual(run.one("quit_message")["after_frames"], 2)
        self.assertEqual((run.one("end")["reason"], run.one("end")["frames"]), ("quit_message", 2))
        self.assertEqual(run.one("quit")["windows"], 0)


class PlayerFailures(NativeTestCase):
    def test_each_failure_has_its_status_and_its_line(self):
        cases = [
            # (what, arguments, status, the box's text or the error's what, a word of stderr)
            ("no asset folder", ["--plugin-folder", "."], 1,
             "Unable to locate fragment program at 'vis_halcyonsphere_assets/light_std.fp'.", "[OK]"),
            ("a player too old", ["--no-embed"], 1, "This plugin requires Winamp 5.0+", "[OK]"),
            ("no GL", ["--gl", "device:999"], 1, "ERRORCODE3", "no EGL device 999"),
            ("the video cannot be written", ["--video", "/dev/full"], 3, "video", "cannot write"),
            ("a folder as the video", ["--video", "."], 3, "video", "cannot open the video output .: Is a directory"),
            ("a bad stream", ["--spectrum", "stream:junk.hsps"], 2, "spectrum_stream", "not a spectrum stream"),
            ("no capture folder", ["--capture", "junk.hsps/shots"], 3, "capture",
             "cannot make the capture folder %s/junk.hsps/shots: Not a directory"),
            ("a file as the capture folder", ["--capture", "junk.hsps"], 3, "capture",
             "cannot make the capture folder %s/junk.hsps: it exists and is not a folder"),
            ("a short options file", ["--options", "music.hsps.short"], 2, "plugin_folder", "holds 5 bytes"),
            ("a FIFO as the options file", ["--options", "fifo"], 2, "plugin_folder", "fifo is not a regular file"),
            ("another plug-in", ["--dll", "vis_other.dll"], 2, None, "halcyon_host.exe"),
            ("the options dialog", ["--config"], 2, None, "only on Windows"),
            ("a size too small", ["--size", "8x8"], 2, None, "bad value for --size"),
            ("a latency out of range", ["--sound-latency", "-5"], 2, None, "bad value for --sound-latency: -5"),
            ("real time without a stream", ["--realtime"], 2, None, "needs --spectrum stream:FILE"),
            ("the sound without its rows", ["--sound", "song.flac"], 2, None, "needs --spectrum stream:FILE"),
            ("a FIFO as the sound", ["--spectrum", "stream:junk.hsps", "--sound", "fifo"], 2, "sound",
             "the sound %s/fifo is not a regular file"),
        ]
        whole = stream_bytes([200] * 8)
        streams = [  # (what, the stream's file or stdin, the error's text)
            ("a FIFO by name, which would wait for a writer", "fifo", "not a regular file"),
            ("a device by name", "/dev/zero", "not a regular file"),
            ("a device on stdin", open("/dev/zero", "rb"), "not a regular file or a pipe"),
            ("zeros through a pipe", bytes(100000), "not a spectrum stream"),
            ("a pipe that breaks off", whole[:-kHalfRecord], "the stream ended after 7 of its 8 records and part"),
            ("a pipe longer than its header", whole + stream_record(9), "the stream holds more than its header's 8"),
            ("a live stream as a file", "live.hsps", "a live stream comes through a pipe, not a file"),
            ("a live stream in real time", LIVE_HEADER, "a live stream goes without --realtime"),
        ]
        for what, stream, text in streams:
            self.addCleanup(lambda f=stream: f.close() if hasattr(f, "close") else None)
            args = ["--spectrum", "stream:" + (stream if isinstance(stream, str) else "-")]
            if "real time" in what:
                args.append("--realtime")
            cases.append((what, args, 2, "spectrum_stream", text, None if isinstance(stream, str) else stream))
        for what, args, status, said, line, *stdin in cases:
            with self.subTest(what):
                folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
                self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
                with open(os.path.join(folder, "music.hsps.short"), "wb") as f:
                    f.write(b"short")
                with open(os.path.join(folder, "junk.hsps"), "wb") as f:
                    f.write(b"{}\n" * 20)
                with open(os.path.join(folder, "live.hsps"), "wb") as f:
                    f.write(LIVE_HEADER)
                os.mkfifo(os.path.join(folder, "fifo"))
                frames = [] if "--spectrum" in args and "stream:-" in args else ["--frames", "3"]
                run = Run(folder, BASE + frames + args, timeout=60, stdin=stdin[0] if stdin and stdin[0] is not None else subprocess.DEVNULL)
                self.assertEqual(run.status, status, run.describe())
                self.assertIn(line.replace("%s", folder), run.stderr, run.describe())
                if status == 1:
                    self.assertEqual(run.one("message_box")["text"], said)
                    self.assertEqual(run.one("init")["result"], 1)
                    self.assertEqual((run.one("end")["reason"], run.one("end")["frames"]), ("init_failed", 0))
                elif said:
                    self.assertEqual(run.one("error")["what"], said, run.describe())

    def test_a_lost_gl_context_ends_the_run_with_its_line(self):
        # Swap 0 is Init's: frame 1's swap finds the context gone.
        run = self.run_native(BASE + ["--frames", "5", "--spectrum", "tone:20", "--lose-gl-at", "2"])
        self.assertEqual(run.status, 1, run.describe())
        self.assertEqual(run.one("error")["what"], "gl_lost")
        self.assertEqual((run.one("end")["reason"], run.one("end")["frames"]), ("gl_lost", 2))
        self.assertEqual(len(run.of("quit")), 1, "the plug-in is stopped as after its last frame")
        lines = [line for line in run.stderr.splitlines() if "GL context" in line]
        self.assertEqual(lines, ["halcyon_native: the GL context was lost: showing the frame failed: "
                                 "EGL_CONTEXT_LOST (a test's)"])

    def small_tmpfs(self, options):
        """A tmpfs of its own (root only), unmounted when the test ends."""
        if os.geteuid() != 0:
            self.skipTest("a full disk needs a small tmpfs, and mounting one needs root")
        mount = tempfile.mkdtemp(prefix="halcyon-native-test-mount-")
        self.addCleanup(os.rmdir, mount)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", mount], capture_output=True)
        if result.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: %s" % result.stderr.decode().strip())
        self.addCleanup(subprocess.run, ["umount", mount], check=True)
        return mount

    def unwritable_folder(self):
        """A folder that takes no files: on a tmpfs made read-only as root (who may write anywhere
        else), else one without write permission."""
        if os.geteuid() == 0:
            mount = self.small_tmpfs("size=64k")
            os.mkdir(os.path.join(mount, "shots"))
            subprocess.run(["mount", "-o", "remount,ro", mount], check=True)
            return os.path.join(mount, "shots"), "Read-only file system"
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        os.chmod(folder, 0o555)
        self.addCleanup(os.chmod, folder, 0o755)
        return folder, "Permission denied"

    def full_folder(self):
        mount = self.small_tmpfs("size=64k")
        shots = os.path.join(mount, "shots")
        os.mkdir(shots)
        try:
            with open(os.path.join(mount, "filler"), "wb") as f:
                while True:
                    f.write(bytes(4096))
                    f.flush()
        except OSError as e:
            self.assertEqual(e.errno, errno.ENOSPC)
        return shots, "No space left on device"

    def test_a_capture_that_cannot_be_written_fails_the_run(self):
        for what, make in (("an unwritable folder", self.unwritable_folder), ("a full disk", self.full_folder)):
            with self.subTest(what):
                shots, reason = make()
                run = self.run_native(BASE + ["--frames", "3", "--spectrum", "tone:20", "--capture", shots])
                self.assertEqual(run.status, 3, run.describe())
                error = run.one("error")
                self.assertEqual(error["what"], "capture")
                self.assertIn(reason, error["text"])
                self.assertIn("cannot write %s/frame_00000.png: %s" % (shots, reason), run.stderr)
                self.assertEqual([c["captured"] for c in run.of("capture")], [False])
                self.assertEqual((run.one("end")["reason"], run.one("end")["frames"]), ("capture_failed", 1))
                self.assertEqual(len(run.of("quit")), 1, "the plug-in is stopped as after its last frame")
                if os.path.isdir(shots):
                    self.assertEqual(os.listdir(shots), [], "no partial picture is left")


class PlayerLive(NativeTestCase):
    def test_a_live_stream_shows_its_newest_record_until_the_pipe_closes(self):
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        events = os.path.join(folder, "events.jsonl")
        process = subprocess.Popen([NATIVE, "--log", events] + BASE[:-1] + ["5", "--spectrum", "stream:-"], cwd=folder,
                                   env=dict(os.environ, TMPDIR=folder), stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        self.addCleanup(process.stderr.close)

        def frames():
            return [e for e in read_events(events) if e["event"] == "frame"]

        def wait_for(check, what):
            give_up = time.monotonic() + 60
            while not check(frames()):
                self.assertIsNone(process.poll(), "the run ended before %s" % what)
                self.assertLess(time.monotonic(), give_up, "no frame %s" % what)
                time.sleep(0.02)
            return len(frames())

        def send(data):
            process.stdin.write(data)
            process.stdin.flush()

        send(LIVE_HEADER)
        wait_for(lambda f: len(f) >= 3, "before any record")  # frames go on while nothing comes
        send(stream_record(10))
        first = wait_for(lambda f: f and f[-1].get("row") == 0, "showing the first record")
        held = wait_for(lambda f: len(f) >= first + 5, "holding it")
        send(stream_record(20) + stream_record(30) + stream_record(40))  # at once: the newest wins
        wait_for(lambda f: f[-1].get("row") == 3, "showing the newest")
        process.stdin.close()
        started = time.monotonic()
        self.assertEqual(process.wait(30), 0, process.stderr.read().decode("latin-1"))
        self.assertLess(time.monotonic() - started, 5, "the closed pipe ends the run")
        shown = [f.get("row") for f in frames()]
        self.assertEqual(shown[:3], [None] * 3)
        self.assertEqual(set(shown[first - 1:held]), {0})
        self.assertNotIn(1, shown)
        self.assertNotIn(2, shown)
        self.assertEqual(shown[-1], 3)
        end = [e for e in read_events(events) if e["event"] == "end"]
        self.assertEqual((end[0]["reason"], end[0]["frames"]), ("stream_end", len(shown)))


class PlayerStops(NativeTestCase):
    """Signals and kill -9: the run's private folder goes however the run ends."""

    def start(self, folder, log):
        events = os.path.join(folder, log)
        process = subprocess.Popen([NATIVE, "--log", events] + BASE + ["--frames", "100000", "--spectrum", "tone:20"],
                                   cwd=folder, env=dict(os.environ, TMPDIR=folder), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        self.addCleanup(process.stderr.close)
        give_up = time.monotonic() + 120
        while sum(e["event"] == "frame" for e in read_events(events)) < 2:
            self.assertIsNone(process.poll(), "the run ended before its frames")
            self.assertLess(time.monotonic(), give_up, "no frames")
            time.sleep(0.05)
        return process, events

    def folder(self):
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder

    def test_each_stop_signal_ends_the_run_as_its_last_frame_would(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(number.name):
                folder = self.folder()
                process, log = self.start(folder, "events.jsonl")
                self.assertEqual(len(private_folders(folder)), 1)
                process.send_signal(number)
                self.assertEqual(process.wait(60), 128 + number)
                events = read_events(log)
                names = [e["event"] for e in events]
                self.assertEqual(names[-2:], ["quit", "end"])
                self.assertEqual(events[-1]["reason"], "interrupted")
                self.assertEqual(private_folders(folder), [])

    def test_what_a_killed_run_leaves_the_next_one_removes_and_a_live_ones_stays(self):
        folder = self.folder()
        killed, _ = self.start(folder, "killed.jsonl")
        [left] = private_folders(folder)
        killed.kill()
        killed.wait(60)
        self.assertEqual(private_folders(folder), [left])
        live, _ = self.start(folder, "live.jsonl")
        [live_folder] = private_folders(folder)
        self.assertNotEqual(live_folder, left)
        run = Run(folder, BASE + ["--frames", "1"])
        self.assertEqual(run.status, 0, run.describe())
        self.assertEqual(private_folders(folder), [live_folder], "a run's folder stays while it runs")
        live.terminate()
        self.assertEqual(live.wait(60), 128 + signal.SIGTERM)
        self.assertEqual(private_folders(folder), [])


if __name__ == "__main__":
    unittest.main()
