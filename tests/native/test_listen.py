"""halcyonsphere listen end to end, in a window on a private Xvfb display, against a private
PulseAudio server with two null sinks ("out", the default, and "hp") and a null source ("mic", the
default input): noise on the left channel, then on the right, shows in the frames' rows in that
order and lights the picture in each channel's colours, with silence and a dark picture around
them; a switch of the default output is followed, a server that dies and returns is said once
while the frames go on, and Escape ends the run; the sources are listed; a missing source, display,
options file or sound server, a failed Init and a bad command line are one line each.

HALCYONSPHERE names the program (ctest sets it; default build/native/native/halcyonsphere)."""

import json
import os
import random
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import wave

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = os.environ.get("HALCYONSPHERE") or os.path.join(REPO, "build", "native", "native", "halcyonsphere")
RATE = 44100


def noise_wav(path, parts):
    """parts: (seconds, channel) with channel 0 left, 1 right, None silence; the other channel exact zeros."""
    rng = random.Random(7)
    frames = bytearray()
    for seconds, channel in parts:
        for _ in range(int(seconds * RATE)):
            value = rng.randint(-12000, 12000) if channel is not None else 0
            frames += struct.pack("<hh", value if channel == 0 else 0, value if channel == 1 else 0)
    with wave.open(path, "wb") as f:
        f.setnchannels(2)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(bytes(frames))


def read_events(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [json.loads(line) for line in f.read().decode("latin-1").splitlines() if line.endswith("}")]


@unittest.skipUnless(shutil.which("pulseaudio") and shutil.which("pactl") and shutil.which("paplay") and
                     shutil.which("Xvfb"), "needs pulseaudio, pactl, paplay (pulseaudio-utils) and Xvfb")
class Listen(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="halcyon-listen-test-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        # Only this server: libpulse looks in these folders, and HOME holds the user's options.
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.folder, PULSE_RUNTIME_PATH=self.folder + "/pulse",
                        HOME=self.folder, TMPDIR=self.folder, ASAN_OPTIONS="detect_leaks=0")
        self.env.pop("PULSE_SERVER", None)
        self.env.pop("XDG_CONFIG_HOME", None)
        read, write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "320x240x24", "-nolisten", "tcp"],
                                pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        self.addCleanup(self.end, xvfb)
        with os.fdopen(read) as f:
            self.env["DISPLAY"] = ":" + f.readline().strip()
        self.server = None

    def end(self, process):
        if process.poll() is None:
            process.kill()
        process.wait()

    def start_server(self):
        log = open(os.path.join(self.folder, "server.log"), "ab")
        self.addCleanup(log.close)
        self.server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit",
             "-L", "module-native-protocol-unix",
             "-L", "module-null-sink sink_name=out sink_properties=device.description=Speakers",
             "-L", "module-null-sink sink_name=hp sink_properties=device.description=Headphones",
             # A microphone, the server's default source: never what listen shows unless named.
             "-L", "module-null-source source_name=mic description=Microphone"],
            env=self.env, stdout=log, stderr=log)
        self.addCleanup(self.end, self.server)
        for _ in range(200):
            if self.pactl("set-default-sink", "out") and self.pactl("set-default-source", "mic"):
                return
            time.sleep(0.1)
        self.fail("pulseaudio did not start")

    def pactl(self, *arguments):
        return subprocess.run(["pactl"] + list(arguments), env=self.env, capture_output=True).returncode == 0

    def listen(self, *arguments):
        self.log = os.path.join(self.folder, "events.jsonl")
        return subprocess.Popen([PROGRAM, "listen", "--size", "96x72", "--log", self.log] + list(arguments),
                                env=self.env, cwd=self.folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_for_frames(self, process, count, timeout=120):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and process.poll() is None:
            if len([e for e in read_events(self.log) if e["event"] == "live_frame"]) >= count:
                return
            time.sleep(0.05)
        self.fail("no %d frames: %s" % (count, process.communicate()[1].decode("latin-1")))

    def stop(self, process, escape=False):
        """Ends the run as a user does: SIGTERM, or Escape in its window (xdotool)."""
        if escape:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], env=self.env,
                                   capture_output=True, timeout=30)
            windows = found.stdout.decode().split()
            self.assertEqual(len(windows), 1, found)
            subprocess.run(["xdotool", "windowfocus", "--sync", windows[0], "key", "Escape"], env=self.env,
                           check=True, timeout=30)
        else:
            process.send_signal(signal.SIGTERM)
        stdout, stderr = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0 if escape else 128 + signal.SIGTERM, stderr)
        self.assertEqual(stderr.decode("latin-1"), "" if escape else "halcyonsphere listen: interrupted\n")
        events = read_events(self.log)
        self.assertEqual(events[-1]["event"], "end", stderr)
        self.assertEqual(events[-1]["reason"], "quit_message" if escape else "interrupted")
        # The run's private plug-in folder went with it.
        self.assertEqual([n for n in os.listdir(self.folder) if n.startswith("halcyon-native-")], [])
        return [e for e in events if e["event"] == "live_frame"], events, stdout.decode("latin-1")

    def test_left_then_right_then_silence_show_in_that_order_and_light_the_picture(self):
        self.start_server()
        sound = os.path.join(self.folder, "bursts.wav")
        noise_wav(sound, [(0.6, None), (0.8, 0), (0.8, None), (0.8, 1), (1.5, None)])
        process = self.listen("--capture", "frames")
        self.wait_for_frames(process, 5)
        subprocess.run(["paplay", "--device=out", sound], env=self.env, check=True, timeout=60)
        frames, events, said = self.stop(process)
        self.assertIn("Showing out.monitor (Monitor of Speakers) from pulseaudio", said)
        self.assertIn("following the default output; Escape or closing the window ends it.", said)
        means_rgb = {e["index"]: e["mean_rgb"] for e in events if e["event"] == "capture"}
        means = {index: sum(rgb) for index, rgb in means_rgb.items()}
        self.assertEqual(len(means), len(frames))

        def kind(frame):
            left, right = frame["left"], frame["right"]
            if left == 0 and right == 0:
                return "silence"
            if left > 4 * right:
                return "left"
            if right > 4 * left:
                return "right"
            return "both"  # a window across both channels' edges is still one of them

        # Runs of one kind with their length in time. A loaded machine may drop a moment of the
        # capture (the server's buffer overflows while the capture waits for a core): a silence
        # far shorter than the gaps between bursts is such a moment, not the signal.
        runs = []
        for frame in frames:
            if kind(frame) == "both":
                continue
            if runs and runs[-1][0] == kind(frame):
                runs[-1][2] = frame["shown_at"]
            else:
                runs.append([kind(frame), frame["shown_at"], frame["shown_at"]])
        order = []
        for k, first, last in runs:
            if k == "silence" and last - first < 0.2 and order and order[-1] != "silence":
                continue
            if not order or order[-1] != k:
                order.append(k)
        self.assertEqual(order, ["silence", "left", "silence", "right", "silence"],
                         [(f["left"], f["right"]) for f in frames])
        # Each frame's rows are of the sound as it is shown, not as its drawing began.
        misses = sorted(abs(f["shown_at"] - f["heard_at"]) for f in frames)
        self.assertLess(misses[len(misses) // 2], 0.010)
        loud = [means[f["index"]] for f in frames if kind(f) in ("left", "right")]
        quiet = [means[f["index"]] for f in frames[:5]]
        self.assertGreater(min(loud[len(loud) // 2:]), 2 * max(quiet))
        # Each channel has its colours: the left's bursts light the picture red and blue, the
        # right's green (the later frames of each, once the colour has built up; on a loaded
        # machine, with fewer frames, it builds up less).
        def green_to_red(channel):
            picked = [means_rgb[f["index"]] for f in frames if kind(f) == channel]
            picked = picked[len(picked) // 2:]
            return sum(c[1] for c in picked) / max(1e-6, sum(c[0] for c in picked))

        self.assertGreater(green_to_red("right"), 2 * green_to_red("left"))
        # The picture fades back once the sound is over.
        self.assertLess(means[frames[-1]["index"]], max(loud) / 2)

    def test_the_default_output_is_followed_and_a_server_restart_is_said_once(self):
        self.start_server()
        sound = os.path.join(self.folder, "left.wav")
        noise_wav(sound, [(3.0, 0)])
        process = self.listen()
        self.wait_for_frames(process, 5)
        player = subprocess.Popen(["paplay", "--device=hp", sound], env=self.env)
        self.addCleanup(self.end, player)
        time.sleep(1.0)
        self.assertTrue(self.pactl("set-default-sink", "hp"))
        player.wait(timeout=60)
        # The server dies as in a crash and comes back: the frames go on meanwhile, dark.
        self.server.kill()
        self.server.wait()
        time.sleep(1.5)
        self.start_server()
        subprocess.run(["paplay", "--device=out", sound], env=self.env, check=True, timeout=60)
        frames, events, said = self.stop(process, escape=shutil.which("xdotool") is not None)
        notices = [(i, e["text"]) for i, e in enumerate(events) if e["event"] == "listen_notice"]
        self.assertEqual([text for _, text in notices], [
            "following the default output: now capturing hp.monitor (Monitor of Headphones)",
            "the sound server went away; reconnecting",
            "the sound server is back: capturing out.monitor"], said)
        self.assertIn("Following the default output: now capturing hp.monitor (Monitor of Headphones).", said)
        self.assertEqual(said.count("went away"), 1)

        def between(first, last):
            return [e for e in events[first:last] if e["event"] == "live_frame"]

        (switch, _), (gone, _), (back, _) = notices
        self.assertTrue(between(0, switch) and all(f["left"] == 0 for f in between(0, switch)))
        self.assertGreater(max(f["left"] for f in between(switch, gone)), 0)
        self.assertGreater(len(between(gone, back)), 5)
        self.assertTrue(all(f["left"] == 0 for f in between(gone, back)))
        self.assertGreater(max(f["left"] for f in between(back, len(events))), 0)

    def test_sources_are_listed_and_each_refusal_is_one_line(self):
        self.start_server()
        listed = subprocess.run([PROGRAM, "listen", "--list-sources"], env=self.env, capture_output=True, timeout=60)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual([line.split()[:3] for line in listed.stdout.decode().splitlines()],
                         [["output", "out.monitor", "(default)"], ["output", "hp.monitor", "Monitor"],
                          ["input", "mic", "(default"]], listed.stdout)
        no_display = dict(self.env)
        no_display.pop("DISPLAY")
        no_display.pop("WAYLAND_DISPLAY", None)
        os.mkdir(os.path.join(self.folder, "empty"))
        for arguments, env, status, line in [
                (["--source", "nosuch"], self.env, 1, "no source named nosuch on the sound server"),
                ([], no_display, 1, "listen shows the visualization in a window and needs a display"),
                (["--options", "nonesuch.cfg"], self.env, 1, "no such options file: nonesuch.cfg"),
                # After the plug-in's own box line, which says why.
                (["--assets", "empty"], self.env, 1, "the plug-in failed to start: \"Unable to locate"),
                (["song.mp3"], self.env, 2, "listen takes no file (song.mp3)"),
                (["--size", "10x10"], self.env, 2, "bad size '10x10'"),
                (["--frames"], self.env, 2, "--frames needs a value"),
                (["--sound-latency", "1001"], self.env, 2, "--sound-latency takes milliseconds")]:
            result = subprocess.run([PROGRAM, "listen"] + arguments, env=env, cwd=self.folder, capture_output=True,
                                    timeout=60)
            lines = result.stderr.decode("latin-1").splitlines()
            self.assertEqual(result.returncode, status, (arguments, lines))
            self.assertTrue(lines and lines[-1].startswith("halcyonsphere listen: " + line), lines)
            self.assertLessEqual(len(lines), 2 if "--assets" in arguments else 1, lines)

    def test_a_sound_latency_the_server_does_not_know_delays_the_picture(self):
        self.start_server()
        process = self.listen("--sound-latency", "300", "--frames", "20")
        _, stderr = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 0, stderr)
        frames = [e for e in read_events(self.log) if e["event"] == "live_frame"]
        delays = sorted(f["shown_at"] - f["heard_at"] for f in frames)
        self.assertAlmostEqual(delays[len(delays) // 2], 0.300, delta=0.010)

    def ffmpeg_processes(self):
        """ffmpeg children of this test's runs, found by the runtime folder in their environment."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/comm" % pid) as f:
                    name = f.read().strip()
                with open("/proc/%s/environ" % pid, "rb") as f:
                    marked = ("XDG_RUNTIME_DIR=" + self.folder).encode() in f.read().split(b"\0")
            except OSError:
                continue
            if name == "ffmpeg" and marked:
                found.append(int(pid))
        return found

    def decoded(self, video, *arguments):
        return subprocess.run(["ffmpeg", "-v", "error", "-i", video] + list(arguments) + ["-"],
                              capture_output=True, check=True, timeout=120).stdout

    @unittest.skipUnless(shutil.which("xdotool") and shutil.which("ffmpeg") and shutil.which("ffprobe"),
                         "needs xdotool and ffmpeg")
    def test_a_recording_holds_the_frames_at_their_times_with_the_sound_heard(self):
        self.start_server()
        sound = os.path.join(self.folder, "bursts.wav")
        noise_wav(sound, [(0.6, None), (0.6, 0), (1.0, None), (0.6, 1), (1.0, None)])
        process = self.listen("--record", "shown.mp4")
        self.wait_for_frames(process, 5)
        subprocess.run(["paplay", "--device=out", sound], env=self.env, check=True, timeout=60)
        frames, events, said = self.stop(process, escape=True)
        video = os.path.join(self.folder, "shown.mp4")
        self.assertIn("Recorded shown.mp4: %d frames at 96x72" % len(frames), said)
        self.assertEqual(self.ffmpeg_processes(), [])
        streams = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-show_entries", "stream=codec_type,codec_name,width,height,sample_rate",
             "-of", "json", video], capture_output=True, check=True).stdout)["streams"]
        self.assertEqual([(s["codec_type"], s["codec_name"]) for s in streams], [("video", "h264"), ("audio", "aac")])
        self.assertEqual((streams[0]["width"], streams[0]["height"]), (96, 72))
        # Every frame drawn, each at the time it reached the screen (to the millisecond).
        times = [float(line.split(",")[1]) for line in subprocess.run(
            ["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "frame=pts_time", "-of", "csv",
             video], capture_output=True, check=True).stdout.decode().split() if line.startswith("frame,")]
        self.assertEqual(len(times), len(frames))
        # Measured from the first frame: where the track starts against the sound is the bursts' check.
        shown = [f["shown_at"] - frames[0]["shown_at"] for f in frames]
        errors = [abs(a - times[0] - b) for a, b in zip(times, shown)]
        worst = errors.index(max(errors))
        # Within a few milliseconds: swaps that bunch on a loaded machine are set a millisecond apart.
        self.assertLess(errors[worst], 0.005, (worst, shown[max(0, worst - 3):worst + 2], times[max(0, worst - 3):worst + 2]))
        # The loud parts of the sound track begin with the bright frames, in that channel.
        pixels = self.decoded(video, "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "gray")
        size = 96 * 72
        brightness = [sum(pixels[i:i + size]) / size for i in range(0, len(pixels), size)]
        self.assertEqual(len(brightness), len(times))
        samples = self.decoded(video, "-f", "f32le", "-ac", "2", "-ar", str(RATE))
        values = struct.unpack("<%df" % (len(samples) // 4), samples)
        step = RATE // 100  # 10 ms
        loudness = [(max(map(abs, values[i:i + 2 * step:2])), max(map(abs, values[i + 1:i + 2 * step:2])))
                    for i in range(0, len(values) - 2 * step, 2 * step)]

        def onsets(levels, threshold, gap):
            """The times levels[i] (at times[i]) rises past threshold after at least gap seconds below it."""
            found, last_loud = [], None
            for at, level in levels:
                if level > threshold:
                    if last_loud is None or at - last_loud > gap:
                        found.append(at)
                    last_loud = at
            return found

        quiet = max(brightness[:5])
        bright = onsets(zip(times, brightness), quiet + (max(brightness) - quiet) / 4, 0.5)
        left = onsets([(i * 0.01, l) for i, (l, r) in enumerate(loudness)], 0.05, 0.5)
        right = onsets([(i * 0.01, r) for i, (l, r) in enumerate(loudness)], 0.05, 0.5)
        self.assertEqual((len(left), len(right)), (1, 1), loudness)
        self.assertLess(left[0], right[0])
        self.assertEqual(len(bright), 2, brightness)
        self.assertLess(abs(bright[0] - left[0]), 0.1)
        self.assertLess(abs(bright[1] - right[0]), 0.1)

        # A stop leaves no file and no ffmpeg, and an old file of that name as it was; a refused
        # name is one line before anything runs.
        old = os.path.join(self.folder, "old.mp4")
        with open(old, "wb") as f:
            f.write(b"an old recording")
        os.unlink(self.log)  # else the last run's frames would count
        before = sorted(os.listdir(self.folder) + ["events.jsonl"])
        process = self.listen("--record", "old.mp4")
        self.wait_for_frames(process, 5)
        process.send_signal(signal.SIGTERM)
        _, stderr = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 128 + signal.SIGTERM)
        self.assertEqual(stderr.decode(), "halcyonsphere listen: interrupted; nothing was written under the output name\n")
        with open(old, "rb") as f:
            self.assertEqual(f.read(), b"an old recording")
        self.assertEqual(sorted(os.listdir(self.folder)), before)
        self.assertEqual(self.ffmpeg_processes(), [])
        shutil.copy(os.path.join(self.folder, ".config", "halcyonsphere", "useropt.cfg"),
                    os.path.join(self.folder, "same.mp4"))
        for arguments, status, line in [
                (["--record", "nosuch/shown.mp4"], 1, "the folder for nosuch/shown.mp4 does not exist"),
                (["--options", "same.mp4", "--record", "same.mp4"], 1, "the output same.mp4 is same.mp4 itself"),
                (["--record", "shown.txt"], 2, "cannot tell what to write from 'shown.txt'")]:
            result = subprocess.run([PROGRAM, "listen"] + arguments, env=self.env, cwd=self.folder,
                                    capture_output=True, timeout=60)
            lines = result.stderr.decode().splitlines()
            self.assertEqual((result.returncode, result.stdout, len(lines)), (status, b"", 1), (arguments, lines))
            self.assertTrue(lines[0].startswith("halcyonsphere listen: " + line), lines)

    def test_no_sound_server_is_one_line_and_exit_status_1(self):
        process = self.listen()
        stdout, stderr = process.communicate(timeout=60)
        lines = stderr.decode("latin-1").splitlines()
        self.assertEqual(process.returncode, 1, lines)
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith("halcyonsphere listen: no sound server: tried "), lines)
        self.assertIn(self.folder + "/pulse/native", lines[0])
        self.assertEqual(stdout, b"")


if __name__ == "__main__":
    unittest.main()
