"""What render and play refuse before anything runs, and how (scripts/_video.py over a fake
analyser that records its command line and stops the run): an output that is one of the inputs by
the file itself, options abbreviated or left empty, sizes; one line each, nothing changed. And
the bash layer's choice between the native program and Wine, and the temporary output's name."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(REPO, "scripts")
sys.path.insert(0, SCRIPTS)
import _host_run  # noqa: E402
import _run  # noqa: E402
import _video  # noqa: E402

FAKE_ANALYSER = '#!/bin/sh\nprintf "%s\\n" "$@" >"$(dirname "$0")/analysed"\necho "fake analysis: stopped here" >&2\nexit 1\n'
OPTIONS = b"".join(v.to_bytes(4, "little", signed=True) for v in (640, 360, 0, 1, 0, 0, 0, 512, 384, 768, 1, 1, 0, 2))


def fake_x_server(test):
    """A display whose X socket accepts connections (and says nothing): its DISPLAY."""
    number = 64000 + os.getpid() % 1000
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    test.addCleanup(listener.close)
    listener.bind("\0/tmp/.X11-unix/X%d" % number)
    listener.listen(8)
    return ":%d" % number


class Refusals(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="halcyon-video-test-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.tools = os.path.join(self.root, "tools")
        os.makedirs(self.tools)
        for name, body in (("analyse_audio", FAKE_ANALYSER),):
            with open(os.path.join(self.tools, name), "w") as f:
                f.write(body)
            os.chmod(os.path.join(self.tools, name), 0o755)

    def tree(self):
        """Inputs, links to them and folders: the names the cases use."""
        here = os.path.join(self.root, "here")
        os.makedirs(os.path.join(here, "d"))
        os.makedirs(os.path.join(here, "frames"))
        for name, data in (("d/song.mp4", b"RIFF audio"), ("opts.mkv", OPTIONS), ("plug.mov", b"MZ"),
                           ("frames/frame_00003.png", b"RIFF audio"), ("-dash.wav", b"RIFF audio"),
                           ("bad.cfg", OPTIONS[:36] + (5000).to_bytes(4, "little") + OPTIONS[40:]),
                           ("odd.cfg", (641).to_bytes(4, "little") + OPTIONS[4:])):
            with open(os.path.join(here, name), "wb") as f:
                f.write(data)
        os.symlink("d", os.path.join(here, "alias"))
        os.symlink("d/song.mp4", os.path.join(here, "link.mp4"))
        os.link(os.path.join(here, "d", "song.mp4"), os.path.join(here, "hard.mp4"))
        return here

    def run_video(self, here, args, display=None):
        env = dict(os.environ, HALCYON_TOOLS_DIR=self.tools)
        env.pop("DISPLAY", None)
        if display:
            env["DISPLAY"] = display
        return subprocess.run([sys.executable, os.path.join(SCRIPTS, "_video.py")] + args, cwd=here,
                              capture_output=True, text=True, timeout=60, env=env)

    def test_refusals_in_one_line_before_anything_runs(self):
        here = self.tree()
        song = "d/song.mp4"
        cases = [  # arguments, exit status, the message (exactly, after "halcyon render: ")
            ([song, "--out", "alias/song.mp4"], 2, "the output alias/song.mp4 is the audio file d/song.mp4; name "
                                                   "another output"),
            ([song, "--out", "link.mp4"], 2, "the output link.mp4 is the audio file d/song.mp4; name another output"),
            ([song, "--out", "hard.mp4"], 2, "the output hard.mp4 is the audio file d/song.mp4; name another output"),
            ([song, "--options", "opts.mkv", "--out", "opts.mkv"], 2, "the output opts.mkv is the options file "
                                                                      "opts.mkv; name another output"),
            ([song, "--plugin", "plug.mov", "--out", "alias/../plug.mov"], 2, "the output alias/../plug.mov is the "
                                                                              "plug-in plug.mov; name another output"),
            (["frames/frame_00003.png", "--out", "frames/", "--force"], 2, "the output folder frames holds the audio "
             "file frames/frame_00003.png, which its frames would replace; name another output"),
            ([song, "--out", "x.mp4", "--wi"], 2, "unknown option or argument --wi (options are written in full)"),
            ([song, "--out", "x.mp4", "--plug", "plug.mov"], 2, "unknown option or argument --plug plug.mov "
                                                                "(options are written in full)"),
            ([song, "--seconds", ""], 2, "--seconds is empty; give a value"),
            ([song, "--size", ""], 2, "--size is empty; give a value"),
            ([song, "--options", ""], 2, "--options is empty; give a value"),
            ([song, "--size", "1280"], 2, "bad size '1280': give WIDTHxHEIGHT (e.g. 1280x720)"),
            ([song, "--out", "x.mp4", "--options", "bad.cfg"], 1, "the options file bad.cfg has values the options "
             "dialog never writes: sphere_size 5000 (0 to 1024)"),
            ([song, "--out", "x.mp4", "--options", "odd.cfg"], 1, "the options file odd.cfg asks for a 641x360 "
             "window, but the video needs even numbers; give --size WxH"),
        ]
        cases = [("render", args, None, status, message) for args, status, message in cases] + [
            ("play", [song], ":65001", 1, "play shows the visualization in a window, but no X server answers at "
                                          "DISPLAY=:65001; ./halcyon render makes a video instead"),
            ("play", [song, "--size", "17x17", "--wine"], fake_x_server(self), 2,
             "bad size '17x17': the window can be 112 to 4096 pixels wide and 16 to 4096 high (e.g. 1280x720)")]
        before = sorted(os.walk(here))
        for command, args, display, status, message in cases:
            result = self.run_video(here, [command] + args, display)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (status, "", "halcyon %s: %s\n" % (command, message)), args)
            self.assertFalse(os.path.exists(os.path.join(self.tools, "analysed")), args)
            self.assertEqual(sorted(os.walk(here)), before, args)

    def test_what_passes_reaches_the_analyser(self):
        """A name with a leading dash after --, and play's window at an odd size (no video there)."""
        here = self.tree()
        display = fake_x_server(self)
        for command, args, display in (("play", ["--", "-dash.wav"], display),
                                       ("play", ["--size", "113x101", "--", "-dash.wav"], display)):
            result = self.run_video(here, [command] + args, display)
            self.assertEqual((result.returncode, result.stderr), (1, "halcyon %s: fake analysis: stopped here\n"
                                                                  % command), args)
            with open(os.path.join(self.tools, "analysed")) as f:
                self.assertEqual(f.read().split("\n")[0], os.path.join(here, "-dash.wav"))
            os.remove(os.path.join(self.tools, "analysed"))
            self.assertEqual(sorted(os.listdir(here))[:1], ["-dash.wav"])  # no temporary output left

    def test_the_bash_layer_chooses_wine_exactly_as_the_parser_does(self):
        cases = [(["x.wav", "--wine"], "wine"), (["x.wav", "--plugin=a.dll"], "wine"),
                 (["x.wav", "--plugin", "a.dll"], "wine"), (["x.wav", "--wi"], "native"),
                 (["x.wav", "--plug", "a.dll"], "native"), (["x.wav", "--options", "--wine"], "native"),
                 (["--", "--wine"], "native"), (["x.wav", "--seconds", "2"], "native"),
                 (["x.wav", "--assets", "--wine"], "native"), (["--source", "--plugin", "--wine"], "wine"),
                 (["--record", "--wine"], "native"), (["--source", "--plugin"], "native")]
        for args, mode in cases:
            result = subprocess.run(["bash", "-c", 'source "$0/_video.sh"; video_mode "$@"', SCRIPTS] + args,
                                    capture_output=True, text=True, check=True)
            self.assertEqual(result.stdout.strip(), mode, args)

    def test_a_long_output_name_and_its_words(self):
        """A 250-character output name (the longest a file system takes, less its extension's room)
        gets a temporary name no longer than itself; and the words for times and channels."""
        runs = os.path.join(self.root, "runs")
        with mock.patch.object(_run, "RUNS", runs):
            _run.begin("test")
            try:
                out = os.path.join(self.root, "n" * 246 + ".mp4")
                output = _video.Output(out, "mp4", {"audio file": None}, False)
                name = os.path.basename(output.temporary)
                self.assertTrue(os.path.isfile(output.temporary))
                self.assertLessEqual(len(name), 32)
                self.assertTrue(name.endswith(".mp4"))
            finally:
                _run.close()
        self.assertEqual(os.listdir(self.root).count(name), 0)
        words = [(_host_run.seconds_text(59.6), "1:00"), (_host_run.seconds_text(3599), "59:59"),
                 (_host_run.seconds_text(6 * 3600), "6:00:00"), (_host_run.seconds_text(3600 + 61), "1:01:01"),
                 (_host_run.channels_text(1), "mono"), (_host_run.channels_text(2), "stereo"),
                 (_host_run.channels_text(8), "8 channels")]
        for got, wanted in words:
            self.assertEqual(got, wanted)


    def test_a_long_render_tells_its_time_once_from_its_first_seconds(self):
        for total, told in ((3 * 3600 * 30, ["about 6:00:00"]), (2 * 60 * 30, [])):  # at 15 frames a second
            clock = [100.0]
            notes = []
            with mock.patch.object(_video.time, "monotonic", lambda: clock[0]), \
                    mock.patch.object(_run, "tell", notes.append):
                progress = _video.Progress(total, quiet=False)
                progress.tty = True
                progress.stream = open(os.devnull, "w")
                self.addCleanup(progress.stream.close)
                for second in range(1, 11):
                    clock[0] = 100.0 + second
                    progress.update(15 * second)
            self.assertEqual([n[n.index("about"):n.index("about") + 13] for n in notes], told, total)


if __name__ == "__main__":
    unittest.main()
