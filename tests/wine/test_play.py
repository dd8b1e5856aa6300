"""play --wine on a display of the test's own (an Xvfb with no window manager, as a bare desktop
session may be): Escape and every stop signal end it within a second, and the stop's time is told;
on a desktop with a window manager, Escape and the close box are told apart."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from harness import ensure_session
from test_render import VIDEO, own_session_env, parent_of, program_of, write_clip


def children_of(pid):
    return [int(name) for name in filter(str.isdigit, os.listdir("/proc")) if parent_of(int(name)) == pid]


class PlayTest(unittest.TestCase):
    def setUp(self):
        if shutil.which("xdotool") is None:
            self.skipTest("xdotool is needed to press Escape")
        ensure_session()
        self.folder = tempfile.mkdtemp(prefix="halcyon-play-test-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.clip = os.path.join(self.folder, "clip.wav")
        write_clip(self.clip, seconds=30, rate=8000)
        self.short_clip = os.path.join(self.folder, "short.wav")
        write_clip(self.short_clip, seconds=2.5, rate=8000)
        reader, writer = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(writer)
        self.addCleanup(lambda: (xvfb.kill(), xvfb.wait()))
        with os.fdopen(reader) as f:
            self.display = ":" + f.readline().strip()

    def test_escape_and_signals_end_it_within_a_second(self):
        env = own_session_env(DISPLAY=self.display)
        cases = ["Escape", signal.SIGINT, signal.SIGTERM, signal.SIGHUP, "the end", "the analyser killed"]
        for stop in cases:
            clip = self.clip if stop != "the end" else self.short_clip
            process = subprocess.Popen([sys.executable, VIDEO, "play", clip, "--wine", "--size", "320x240"],
                                       cwd=self.folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       text=True)
            self.addCleanup(lambda process=process: process.poll() is None and process.kill())
            lines = []
            while not lines or "live" not in lines[-1]:
                lines.append(process.stdout.readline())
                self.assertTrue(lines[-1], (stop, lines))
            time.sleep(2)
            asked = time.monotonic()
            if stop == "Escape":
                subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ".", "windowfocus", "--sync", "key",
                                "Escape"], env=env, check=True, timeout=30, capture_output=True)
            elif stop == "the analyser killed":  # its rows stream into the host as it plays
                [analyser] = [pid for pid in children_of(process.pid) if program_of(pid) == "analyse_audio"]
                os.kill(analyser, signal.SIGKILL)
            elif stop != "the end":
                process.send_signal(stop)
            text = process.communicate(timeout=60)[0]
            took = time.monotonic() - asked
            self.assertLess(took, 1.0, (stop, text))
            last = text.strip().splitlines()[-1]
            if stop == "Escape":
                self.assertEqual(process.returncode, 0, text)
                self.assertRegex(last, r"^Stopped by Escape at 0:0[23]\.$")
            elif stop == "the end":
                self.assertEqual((process.returncode, last), (0, "Played to the end."))
            elif stop == "the analyser killed":
                self.assertEqual(process.returncode, 1, text)
                self.assertRegex(last, r"^halcyon play: the analysis of \S*clip.wav was stopped by SIGKILL from "
                                       r"outside$")
            else:
                self.assertEqual((process.returncode, last), (130, "halcyon play: interrupted."))

    @unittest.skipUnless(shutil.which("evilwm"), "the close box needs a window manager")
    def test_escape_and_the_close_box_are_told_apart(self):
        env = own_session_env(DISPLAY=self.display)
        manager = subprocess.Popen(["evilwm", "-fn", "fixed"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (manager.terminate(), manager.wait(10)))
        # evilwm's ctrl+alt+Escape asks the focused window to close (WM_DELETE_WINDOW).
        cases = [(["Escape"], r"^Stopped by Escape at 0:0[23]\.$"),
                 (["ctrl+alt+Escape"], r"^The window was closed at 0:0[23]\.$")]
        for keys, told in cases:
            with self.subTest(keys):
                process = subprocess.Popen([sys.executable, VIDEO, "play", self.clip, "--wine", "--size", "320x240"],
                                           cwd=self.folder, env=env, stdout=subprocess.PIPE,
                                           stderr=subprocess.STDOUT, text=True)
                self.addCleanup(lambda process=process: process.poll() is None and process.kill())
                lines = []
                while not lines or "live" not in lines[-1]:
                    lines.append(process.stdout.readline())
                    self.assertTrue(lines[-1], (keys, lines))
                time.sleep(2)
                # The pointer over the window gives it evilwm's focus; the keys then go through the server
                # (XTEST), where evilwm's grab sees its own.
                for command in (["search", "--onlyvisible", "--name", ".", "mousemove", "--window", "%1", "20", "20"],
                                ["sleep", "0.3", "key"] + keys):
                    done = subprocess.run(["xdotool"] + command, env=env, timeout=30, capture_output=True, text=True)
                    self.assertEqual(done.returncode, 0, done.stderr)
                text = process.communicate(timeout=60)[0]
                self.assertEqual(process.returncode, 0, text)
                self.assertRegex(text.strip().splitlines()[-1], told, text)


if __name__ == "__main__":
    unittest.main()
