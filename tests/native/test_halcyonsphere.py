"""halcyonsphere render and play end to end, as a user runs them: a clip with its sound, its
frames following the music; play in a window on a virtual display; every refusal in one line before anything runs; runs stopped by each
signal at each stage within a second, and killed ones, leaving no file and no process; a run
started with nohup going on through a hang-up.

HALCYONSPHERE names the program (ctest sets it; default build/release/native/halcyonsphere)."""

import math
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import wave

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = os.environ.get("HALCYONSPHERE") or os.path.join(REPO, "build", "release", "native", "halcyonsphere")


def write_clip(path, seconds=2.0, rate=44100):
    """Silence, then from the middle on a 100 Hz square wave on the left channel only."""
    frames = bytearray()
    for i in range(int(seconds * rate)):
        t = i / rate
        left = (0.5 if math.sin(2 * math.pi * 100 * t) >= 0 else -0.5) if t >= seconds / 2 else 0
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


def encoders_writing_into(folder):
    """ffmpeg processes whose command line names folder (the runs' own), by pid."""
    found = []
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        if words and os.path.basename(words[0]) == b"ffmpeg" and any(folder.encode() in w for w in words):
            found.append(int(pid))
    return found


class Runs(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="halcyonsphere-test-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.clip = os.path.join(self.folder, "clip.wav")
        write_clip(self.clip)
        self.out = os.path.join(self.folder, "out")
        os.makedirs(self.out)
        self.home = os.path.join(self.folder, "home")
        os.makedirs(self.home)
        self.temporary = os.path.join(self.folder, "tmp")  # the runs' TMPDIR: their private folders
        os.makedirs(self.temporary)
        self.env = dict(os.environ, HOME=self.home, TMPDIR=self.temporary)
        self.env.pop("XDG_CONFIG_HOME", None)

    def run_program(self, *args, timeout=120):
        result = subprocess.run([PROGRAM] + list(args), cwd=self.folder, env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=timeout)
        return result.returncode, result.stdout, result.stderr

    def start(self, *args, **popen):
        for name in ("events.jsonl",):  # a run's log, which the next run's waits read
            if os.path.exists(os.path.join(self.folder, name)):
                os.remove(os.path.join(self.folder, name))
        process = subprocess.Popen([PROGRAM] + list(args), cwd=self.folder, env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def assert_nothing_left(self, what):
        self.assertEqual(os.listdir(self.out), [], what)
        self.assertEqual(os.listdir(self.temporary), [], what)
        deadline = time.monotonic() + 1
        while encoders_writing_into(self.folder) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(encoders_writing_into(self.folder), [], what)


class RenderTest(Runs):
    def test_a_clip_with_its_sound_and_its_frames_following_the_music(self):
        status, out, err = self.run_program("render", self.clip, "--out", "out/clip.mp4", "--size", "160x120",
                                            "--gl", "software", "--log", "events.jsonl")
        self.assertEqual(status, 0, err)
        self.assertEqual(err, "")  # no terminal: no progress bar
        lines = out.splitlines()
        self.assertEqual(lines[0], "Rendering 0:02 of clip.wav (stereo) at 160x120 and 30/1 fps: 60 frames.")
        self.assertRegex(lines[1], r"^Drawn with llvmpipe .*: software rendering on the CPU, no display needed\.$")
        self.assertRegex(lines[2], r"^Wrote out/clip\.mp4: 60 frames at 160x120, 0:02 with sound, ")
        self.assertEqual(os.listdir(self.out), ["clip.mp4"])
        self.assertEqual(os.listdir(self.temporary), [])
        video = os.path.join(self.out, "clip.mp4")
        v = probe(video, "v:0", "codec_name,width,height,nb_read_frames")
        a = probe(video, "a:0", "codec_name,duration")
        self.assertEqual((v["codec_name"], v["width"], v["height"], v["nb_read_frames"], a["codec_name"]),
                         ("h264", "160", "120", "60", "aac"))
        self.assertAlmostEqual(float(a["duration"]), 2.0, delta=0.05)
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                             capture_output=True, check=True).stdout
        size = 160 * 120 * 3
        brightness = [sum(raw[i:i + size]) / size for i in range(0, len(raw), size)]
        self.assertEqual(len(brightness), 60)
        self.assertGreater(min(brightness[:30]), 2, "the sphere is lit in the silence")
        self.assertGreater(max(brightness[30:]), max(brightness[:30]) + 5, "the music brightens the frames")
        # The user's options file is made with the defaults on first use; the events name each frame.
        self.assertEqual(os.path.getsize(os.path.join(self.home, ".config", "halcyonsphere", "useropt.cfg")), 56)
        with open(os.path.join(self.folder, "events.jsonl")) as f:
            self.assertEqual(f.read().count('"event":"frame"'), 60)

    def test_png_frames_are_those_of_the_video_source(self):
        status, out, err = self.run_program("render", self.clip, "--out", "out/frames/", "--size", "64x48",
                                            "--gl", "software", "--seconds", "0.5")
        self.assertEqual(status, 0, err)
        self.assertEqual(sorted(os.listdir(os.path.join(self.out, "frames"))),
                         ["frame_%05d.png" % i for i in range(15)])
        # Into a folder that holds files only with --force, which keeps what is not a frame.
        with open(os.path.join(self.out, "frames", "notes.txt"), "w") as f:
            f.write("mine")
        status, _, err = self.run_program("render", self.clip, "--out", "out/frames/", "--size", "64x48",
                                          "--gl", "software", "--seconds", "0.2", "--force")
        self.assertEqual(status, 0, err)
        self.assertEqual(sorted(os.listdir(os.path.join(self.out, "frames"))),
                         ["frame_%05d.png" % i for i in range(6)] + ["notes.txt"])

    def test_refusals_in_one_line_before_anything_runs(self):
        os.makedirs(os.path.join(self.folder, "songs"))
        shutil.copy(self.clip, os.path.join(self.folder, "songs", "song.mp4"))
        os.symlink("songs", os.path.join(self.folder, "alias"))
        shutil.copy(self.clip, os.path.join(self.folder, "-dash.wav"))
        with open(os.path.join(self.folder, "short.cfg"), "wb") as f:
            f.write(b"\0" * 20)
        os.mkfifo(os.path.join(self.folder, "fifo.wav"))
        cases = [
            ([], 2, r"name a command \('halcyonsphere --help' lists them\)$"),
            (["rendr"], 2, r"no command 'rendr' \('halcyonsphere --help' lists them\)$"),
            (["render"], 2, r"name the audio file to render$"),
            (["render", "clip.wav", "--se", "1"], 2, r"unknown option --se "),
            (["render", "clip.wav", "--seconds", ""], 2, r"--seconds needs a value, not an empty one$"),
            (["render", "clip.wav", "--size", ""], 2, r"--size needs a value, not an empty one$"),
            (["render", "clip.wav", "--size", "17x16"], 2, r"bad size '17x16': the video needs even numbers, e\.g\. 1280x720$"),
            (["render", "clip.wav", "--fps", "0"], 2, r"bad frame rate '0': "),
            (["render", "clip.wav", "--gl", "device:5000"], 2, r"bad --gl 'device:5000': give auto, software or device:N \(N from 0 to 1000\)$"),
            (["render", "clip.wav", "--gl", "device:999"], 1, r"there is no EGL device 999 \(this machine has \d+\)$"),
            (["render", "clip.wav", "--wine"], 2, r"--wine and --plugin run a DLL under Wine"),
            (["render", "missing.wav"], 1, r"no such audio file: missing\.wav$"),
            (["render", "fifo.wav"], 1, r"the audio file fifo\.wav is not a regular file$"),
            (["render", "songs"], 1, r"the audio file songs is a folder$"),
            (["render", "clip.wav", "--options", "short.cfg"], 1, r"holds 20 bytes; an options file \(useropt\.cfg\) holds 56$"),
            (["render", "songs/song.mp4", "--out", "alias/song.mp4"], 1, r"is songs/song\.mp4 itself; name another output$"),
            (["render", "songs/song.mp4", "--log", "alias/song.mp4", "--out", "out/x.mp4"], 1,
             r"the log alias/song\.mp4 is songs/song\.mp4 itself; name another log$"),
            (["render", "clip.wav", "--out", "clip.ogg"], 2, r"cannot tell what to write from 'clip\.ogg'"),
            (["render", "clip.wav", "--out", "nowhere/x.mp4"], 1, r"the folder for nowhere/x\.mp4 does not exist$"),
            (["render", "clip.wav", "--out", "short.cfg/"], 1, r"short\.cfg is a file, not a folder for PNG frames"),
            (["render", "-dash.wav"], 2, r"unknown option -dash\.wav "),
            (["render", "clip.wav", "--start", "5"], 1, r"the start lies at or past the end of clip\.wav$"),
            (["play", "clip.wav", "--size", "1x1"], 2, r"bad size '1x1': the window can be 16 to 4096"),
            (["play", "clip.wav", "--frames", "3"], 2, r"unknown option --frames "),
            (["play", "clip.wav", "--sound-latency", "-1"], 2, r"--sound-latency takes milliseconds from 0 to 10000, not \"-1\"$"),
        ]
        for args, expected, pattern in cases:
            started = time.monotonic()
            status, out, err = self.run_program(*args, timeout=30)
            self.assertLess(time.monotonic() - started, 5, args)
            self.assertEqual(status, expected, (args, err))
            self.assertEqual(len(err.splitlines()), 1, (args, err))
            self.assertRegex(err, r"^halcyonsphere( render| play)?: ", args)
            self.assertRegex(err.strip(), pattern, args)
            self.assertEqual(os.listdir(self.out), [], args)
        self.assertEqual(sorted(os.listdir(os.path.join(self.folder, "songs"))), ["song.mp4"])
        # A name beginning with a dash works after --.
        status, _, err = self.run_program("render", "--size", "32x32", "--gl", "software", "--seconds", "0.1",
                                          "--out", "out/dash.mp4", "--", "-dash.wav")
        self.assertEqual(status, 0, err)
        # An old file of the output's name stays as it was when the run fails.
        with open(os.path.join(self.out, "kept.mp4"), "w") as f:
            f.write("old")
        status, _, err = self.run_program("render", self.clip, "--out", "out/kept.mp4", "--assets",
                                          self.temporary, "--size", "32x32", "--gl", "software")
        self.assertEqual((status, len(err.splitlines())), (1, 1), err)
        self.assertRegex(err.strip(), r"the plug-in failed to start: \"Unable to locate fragment "
                         r"program at 'vis_halcyonsphere_assets/light_std\.fp'\.\"; nothing was written")
        with open(os.path.join(self.out, "kept.mp4")) as f:
            self.assertEqual(f.read(), "old")


    def test_a_full_disk_and_a_read_only_folder(self):
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            self.skipTest("mounting a file system needs root and unshare")
        script = ('mount -t tmpfs -o size=200k tmpfs "$1" && mkdir "$1/ro" && mount -t tmpfs -o ro tmpfs "$1/ro" && '
                  'for out in x.mp4 frames/ ro/x.mp4; do "$2" render "$3" --out "$1/$out" --size 640x480 '
                  '--gl software; echo "status $?"; done; ls -A "$1"')
        result = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", self.out, PROGRAM, self.clip], env=self.env,
                                capture_output=True, text=True, timeout=120)
        statuses = [line for line in result.stdout.splitlines() if line.startswith("status")]
        self.assertEqual(statuses, ["status 1"] * 3, result)
        self.assertEqual(result.stdout.splitlines()[-1], "ro", "nothing left beside the folder: " + result.stdout)
        errors = result.stderr.splitlines()
        self.assertEqual(errors[:2], ["halcyonsphere render: ffmpeg could not write the %s: the disk is full; nothing "
                                      "was written under the output name" % kind for kind in ("video", "frames")])
        self.assertRegex(errors[2], r"cannot write into .*/ro: Read-only file system$")


class PlayTest(Runs):
    def test_play_in_a_window_on_a_virtual_display(self):
        if shutil.which("Xvfb") is None:
            self.skipTest("no Xvfb")
        read, write = os.pipe()
        display = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "320x240x24", "-nolisten", "tcp"],
                                   pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        self.addCleanup(lambda: (display.terminate(), display.wait()))
        with os.fdopen(read) as f:
            number = f.readline().strip()
        self.env["DISPLAY"] = ":" + number
        self.env.pop("WAYLAND_DISPLAY", None)
        started = time.monotonic()
        status, out, err = self.run_program("play", self.clip, "--size", "64x48", "--log", "events.jsonl",
                                            "--sound-latency", "120")
        self.assertEqual(status, 0, err)
        self.assertRegex(out, r"(?m)^Drawn with .* in a window on your display\.$")
        self.assertIn("Playing clip.wav (0:02) live; Escape or closing the window ends it.", out)
        self.assertTrue(out.rstrip().endswith("Played to the end."), out)
        self.assertNotIn("ALSA lib", err, "where there is no sound card, SDL's probing of it says nothing")
        self.assertLess(time.monotonic() - started, 30)
        with open(os.path.join(self.folder, "events.jsonl")) as f:
            self.assertGreater(f.read().count('"event":"frame"'), 10)
        # The sound client may leave a folder of its own there (pulse-*); none of the run's.
        self.assertEqual([n for n in os.listdir(self.temporary) if n.startswith("halcyon-")], [])


    def test_a_display_that_does_not_answer_is_named_in_one_line(self):
        # No runtime folder, as for root in CI: Wayland's probing must not add a line of its own.
        number = next(n for n in range(170, 270) if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        self.env.update(DISPLAY=":%d" % number)
        for name in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "SDL_VIDEODRIVER"):
            self.env.pop(name, None)
        status, _, err = self.run_program("play", self.clip)
        self.assertEqual((status, err), (1, "halcyonsphere play: no display to show the window on (nothing answers "
                                            "at DISPLAY=:%d)\n" % number))


class StopTest(Runs):
    """A render long enough to stop at each stage: 60 s of music at 30 fps, 160x120 (small frames,
    so a loaded machine still ends one well within the second)."""

    def setUp(self):
        super().setUp()
        self.long = os.path.join(self.folder, "long.wav")
        write_clip(self.long, seconds=60, rate=8000)
        self.args = ["render", self.long, "--out", "out/long.mp4", "--size", "160x120", "--gl", "software",
                     "--log", os.path.join(self.folder, "events.jsonl")]

    def wait_for_frames(self, process):
        events = os.path.join(self.folder, "events.jsonl")
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and process.poll() is None:
            if os.path.exists(events):
                with open(events) as f:
                    if f.read().count('"event":"frame"') >= 5:
                        return
            time.sleep(0.05)
        self.fail("no frames came")

    def test_each_signal_at_each_stage_ends_the_run_within_a_second(self):
        for stage in ("start", "frames"):
            for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                what = (stage, number)
                # Started as ./halcyon starts it, with the stop signals blocked until its handlers are
                # set: one sent while a loaded machine still loads the program then counts too.
                process = self.start(*self.args, preexec_fn=lambda: signal.pthread_sigmask(
                    signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}))
                if stage == "frames":
                    self.wait_for_frames(process)
                else:
                    time.sleep(0.03)
                asked = time.monotonic()
                process.send_signal(number)
                _, err = process.communicate(timeout=10)
                self.assertLess(time.monotonic() - asked, 1.0, what)
                self.assertEqual(process.returncode, 128 + number, (what, err))
                self.assertEqual(err.strip().splitlines()[-1], "halcyonsphere render: interrupted; nothing was "
                                 "written under the output name", what)
                self.assert_nothing_left(what)

    def test_a_second_ctrl_c_and_kill_9_leave_nothing(self):
        process = self.start(*self.args)
        self.wait_for_frames(process)
        process.send_signal(signal.SIGINT)
        process.send_signal(signal.SIGINT)
        process.communicate(timeout=10)
        self.assertEqual(process.returncode, 130)
        self.assert_nothing_left("two Ctrl-C")
        for out in ("out/long.mp4", "out/frames/"):
            process = self.start(*self.args + ["--out", out])
            self.wait_for_frames(process)
            process.kill()
            process.communicate(timeout=10)
        # The encoder dies with the program, and the unnamed video with both; the private asset
        # folders and the frames' folder the killed runs left go with the next run.
        deadline = time.monotonic() + 1
        while encoders_writing_into(self.folder) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(encoders_writing_into(self.folder), [], "kill -9")
        # The frames' temporary folder is all that is left, and the next run into the folder removes it.
        self.assertEqual([name[:4] for name in os.listdir(self.out)], [".hs-"], "kill -9")
        status, _, err = self.run_program("render", self.clip, "--out", "out/next.mp4", "--size", "32x32",
                                          "--gl", "software", "--seconds", "0.1")
        self.assertEqual(status, 0, err)
        os.remove(os.path.join(self.out, "next.mp4"))
        self.assert_nothing_left("the run after kill -9")

    def test_on_a_terminal_a_slow_stop_says_what_it_waits_for(self):
        """Frames of 4096x4096 on llvmpipe take seconds: a Ctrl-C waits for the frame under way,
        says so after a second, and a second Ctrl-C ends the run at once."""
        pid, terminal = pty.fork()
        if pid == 0:
            os.chdir(self.folder)
            os.execve(PROGRAM, [PROGRAM] + self.args + ["--size", "4096x4096"], self.env)
        seen = b""

        def read_for(seconds, until):
            nonlocal seen
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline and until not in seen:
                if select.select([terminal], [], [], 0.05)[0]:
                    try:
                        seen += os.read(terminal, 4096)
                    except OSError:
                        return
        read_for(60, b"1/1800 frames")  # a frame drawn: the next one is under way
        time.sleep(0.3)
        os.kill(pid, signal.SIGINT)
        asked = time.monotonic()
        read_for(5, b"waiting for")
        self.assertIn(b"stopping: waiting for the plug-in's frame (Ctrl-C again ends it at once)", seen)
        self.assertGreater(time.monotonic() - asked, 1.0)
        os.kill(pid, signal.SIGINT)
        read_for(0.5, b"nothing was written")
        _, status = os.waitpid(pid, 0)
        os.close(terminal)
        self.assertEqual(os.waitstatus_to_exitcode(status), 130, seen)
        self.assertLess(time.monotonic() - asked, 2.0, "the second Ctrl-C ends it at once")
        self.assert_nothing_left("a second Ctrl-C on a terminal")

    def test_nohup_runs_through_a_hang_up(self):
        args = ["render", self.clip, "--out", "out/clip.mp4", "--size", "64x48", "--gl", "software",
                "--log", os.path.join(self.folder, "events.jsonl")]
        process = subprocess.Popen(["nohup", PROGRAM] + args, cwd=self.folder, env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.wait_for_frames(process)
        process.send_signal(signal.SIGHUP)
        process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0)
        self.assertEqual(os.listdir(self.out), ["clip.mp4"])

    def test_two_runs_at_once_finish_as_if_alone(self):
        runs = [self.start("render", self.clip, "--out", "out/%d.mp4" % i, "--size", "64x48", "--gl", "software")
                for i in range(2)]
        for process in runs:
            process.communicate(timeout=120)
            self.assertEqual(process.returncode, 0)
        self.assertEqual(sorted(os.listdir(self.out)), ["0.mp4", "1.mp4"])
        self.assertEqual(os.listdir(self.temporary), [])


if __name__ == "__main__":
    unittest.main()
