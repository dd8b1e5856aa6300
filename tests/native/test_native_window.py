"""The native player's window on a display of its own (Xvfb, with evilwm as the desktop's window
manager where it is installed): its frames are the offscreen ones; Escape and the close box end
the run; fullscreen and a resize keep the picture filling the window; without vsync the frames
are paced, not spun.

HALCYON_NATIVE names the player (ctest sets it; default build/native/native/halcyon_native)."""

import os
import resource
import shutil
import subprocess
import tempfile
import time
import unittest

from test_native_player import NATIVE, Run, read_events, stream_bytes

SCREEN = (320, 240)
SIZE = (128, 96)
WINDOW = ["--window", "--size", "%dx%d" % SIZE, "--delay", "0"]


class Display:
    """A private X display, and a window manager on it where one is installed and wanted."""

    def __init__(self, manager=True):
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN,
                                        "-nolisten", "tcp"], pass_fds=[write], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.name = ":" + f.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.name, LP_NUM_THREADS="1", ASAN_OPTIONS="detect_leaks=0")
        self.manager = None
        if manager and shutil.which("evilwm"):
            self.manager = subprocess.Popen(["evilwm", "-fn", "fixed"], env=self.env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)

    def close(self):
        for process in (self.manager, self.server):
            if process:
                process.terminate()
                process.wait(10)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=30).stdout.strip()


@unittest.skipUnless(shutil.which("Xvfb") and shutil.which("xdotool"), "needs Xvfb and xdotool")
class PlayerWindow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display()

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def folder(self):
        folder = tempfile.mkdtemp(prefix="halcyon-native-test-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        with open(os.path.join(folder, "music.hsps"), "wb") as f:
            f.write(stream_bytes([0] * 3 + [220] * 5))
        return folder

    def start(self, folder, args, display=None):
        """A run left going in the window, once its first frames are drawn."""
        display = display or self.display
        log = os.path.join(folder, "events.jsonl")
        process = subprocess.Popen([NATIVE, "--log", log] + WINDOW + args, cwd=folder, env=display.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        self.addCleanup(process.stderr.close)
        give_up = time.monotonic() + 120
        while sum(e["event"] == "frame" for e in read_events(log)) < 3:
            self.assertIsNone(process.poll(), "the run ended before its frames")
            self.assertLess(time.monotonic(), give_up, "no frames")
            time.sleep(0.05)
        window = display.xdotool("search", "--pid", str(process.pid), "--name", "Halcyonsphere").split()
        self.assertTrue(window, "no window on the display")
        display.xdotool("windowfocus", "--sync", window[0])
        return process, log, window[0]

    def geometry(self, window, display=None):
        lines = (display or self.display).xdotool("getwindowgeometry", window).splitlines()
        return tuple(int(n) for n in lines[-1].split()[-1].split("x"))

    def captures_after(self, log, count, process):
        """The next `count` captures from now on, as (width, height, mean brightness)."""
        seen = len([e for e in read_events(log) if e["event"] == "capture"])
        give_up = time.monotonic() + 60
        while True:
            captures = [e for e in read_events(log) if e["event"] == "capture"][seen:]
            if len(captures) >= count:
                return [(c["width"], c["height"], sum(c["mean_rgb"]) / 3) for c in captures[:count]]
            self.assertIsNone(process.poll(), "the run ended")
            self.assertLess(time.monotonic(), give_up, "no captures")
            time.sleep(0.05)

    def test_the_window_shows_the_offscreen_frames(self):
        args = ["--clock-ms", "1000/30", "--spectrum", "stream:music.hsps", "--capture", "shots", "--video", "-"]
        on_screen = Run(self.folder(), WINDOW + args, **self.display.env)
        offscreen = Run(self.folder(), ["--gl", "software", "--size", "%dx%d" % SIZE, "--delay", "0"] + args)
        for run in (on_screen, offscreen):
            self.assertEqual(run.status, 0, run.describe())
        self.assertEqual(on_screen.one("gl")["display"], "window")
        self.assertEqual(len(on_screen.stdout), 16 + 8 * SIZE[0] * SIZE[1] * 4)
        self.assertTrue(on_screen.stdout == offscreen.stdout, "the video's frames differ")
        for window, shown in zip(on_screen.of("capture"), offscreen.of("capture")):
            with open(window["path"], "rb") as a, open(shown["path"], "rb") as b:
                self.assertTrue(a.read() == b.read(), "capture %s differs" % window["path"])
        self.assertEqual(len(on_screen.of("capture")), 8)

    def test_escape_and_the_close_box_end_the_run(self):
        cases = [("escape", ["key", "Escape"], "escape")]
        if self.display.manager:
            cases.append(("the close box", ["key", "ctrl+alt+Escape"], "close"))  # evilwm's close: WM_DELETE_WINDOW
        for what, keys, cause in cases:
            with self.subTest(what):
                process, log, _ = self.start(self.folder(), ["--frames", "100000", "--spectrum", "tone:20@180"])
                self.display.xdotool(*keys)
                self.assertEqual(process.wait(60), 0)
                events = read_events(log)
                self.assertEqual(events[-1]["event"], "end")
                self.assertEqual(events[-1]["reason"], "quit_message")
                self.assertEqual([e.get("cause") for e in events if e["event"] == "quit_message"], [cause])
                self.assertEqual([e["windows"] for e in events if e["event"] == "quit"], [0])

    @unittest.skipUnless(shutil.which("evilwm"), "fullscreen on a desktop needs a window manager")
    def test_fullscreen_and_a_resize_keep_the_picture_filling_the_window(self):
        process, log, window = self.start(self.folder(), ["--frames", "100000", "--spectrum", "tone:20@180",
                                                          "--capture", "shots"])
        steps = [
            ("F11", ["key", "F11"], SCREEN),
            ("F", ["key", "f"], SIZE),
            ("a double click", ["click", "--repeat", "2", "--delay", "60", "1"], SCREEN),
            ("F11 again", ["key", "F11"], SIZE),
            ("a resize", ["windowsize", window, "200", "150"], (200, 150)),
        ]
        for what, action, size in steps:
            with self.subTest(what):
                if action[0] == "click":
                    self.display.xdotool("mousemove", "--window", window, "20", "20")
                self.display.xdotool(*action)
                give_up = time.monotonic() + 30
                while self.geometry(window) != size:
                    self.assertLess(time.monotonic(), give_up, "the window is %s" % (self.geometry(window),))
                    time.sleep(0.05)
                # A frame or two may still be on their way at the old size; then every frame fills
                # the window, lit.
                captures = self.captures_after(log, 6, process)
                self.assertEqual(captures[-3:], [c for c in captures[-3:] if c[:2] == size], captures)
                self.assertGreater(min(c[2] for c in captures[-3:]), 10, captures)
        self.display.xdotool("key", "Escape")
        self.assertEqual(process.wait(60), 0)

    def test_fullscreen_that_no_window_manager_grants_cuts_no_frame(self):
        # A bare X server: SDL counts the window as filling the display, which it never does.
        bare = Display(manager=False)
        self.addCleanup(bare.close)
        process, log, window = self.start(self.folder(), ["--frames", "100000", "--spectrum", "tone:20@180",
                                                          "--capture", "shots"], bare)
        bare.xdotool("key", "F11")
        time.sleep(0.5)
        self.assertEqual(self.geometry(window, bare), SIZE)
        captures = self.captures_after(log, 6, process)
        self.assertEqual([c[:2] for c in captures], [SIZE] * 6)
        bare.xdotool("key", "Escape")
        self.assertEqual(process.wait(60), 0)

    def test_without_vsync_the_frames_are_paced(self):
        # Xvfb has no vertical blank to wait for: the frames come at 60 a second, with the CPU idle
        # between them rather than spinning.
        folder = self.folder()
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.monotonic()
        run = Run(folder, WINDOW + ["--frames", "180", "--spectrum", "tone:20@180"], **self.display.env)
        wall = time.monotonic() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        self.assertEqual(run.status, 0, run.describe())
        cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
        loop = run.one("end")["loop_ms"] / 1000
        self.assertGreater(loop, 180 / 60 * 0.9, "faster than the display refreshes")
        self.assertLess(loop, 180 / 60 * 2, "paced slower than the display refreshes")
        self.assertLess(cpu, 0.6 * wall, "%.2f s of CPU in %.2f s" % (cpu, wall))


if __name__ == "__main__":
    unittest.main()
