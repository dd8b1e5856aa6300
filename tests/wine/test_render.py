"""Music in, video out: the render command end to end, on short clips."""

import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

from harness import BIN, ensure_session, read_minimal_log, windows_path

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VIDEO = os.path.join(REPO, "scripts", "_video.py")


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

    def foreign_plugin(self, where="minimal", **keys):
        """minimal_vis.dll in a folder of its own, with its control file beside it."""
        folder = os.path.join(self.folder, where)
        os.makedirs(folder, exist_ok=True)
        shutil.copy2(os.path.join(BIN, "minimal_vis.dll"), folder)
        with open(os.path.join(folder, "minimal_vis.txt"), "w") as f:
            f.write("".join("%s=%s\n" % item for item in keys.items()))
        return os.path.join(folder, "minimal_vis.dll")

    def render(self, *args, audio=None):
        result = subprocess.run([sys.executable, VIDEO, "render", audio or self.clip] + list(args),
                                capture_output=True, text=True, timeout=300, cwd=self.folder)
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
                                   "--seconds", "0.5", "--start", "1")
        self.assertEqual(status, 0, text)
        names = sorted(os.listdir(os.path.join(self.out, "frames")))
        self.assertEqual(names, ["frame_%05d.png" % i for i in range(15)])
        self.assertEqual(os.listdir(self.out), ["frames"])
        with open(os.path.join(self.out, "frames", names[0]), "rb") as f:
            self.assertEqual(struct.unpack(">II", f.read(24)[16:24]), (320, 240))
        # Our plug-in still starts and draws: a lit sphere on the music's loud part.
        [last] = decoded_frames(os.path.join(self.out, "frames", names[-1]), 320, 240)
        self.assertGreater(sum(last) / len(last), 5)

    def test_failures_are_clean(self):
        garbage = os.path.join(self.folder, "noise.wav")
        with open(garbage, "wb") as f:
            f.write(b"RIFF\x10\x00\x00\x00WAVEnothing useful")
        failing = self.foreign_plugin(init_result=1, box="ok|Oops|No player here")
        cases = [
            (["--out", "out/x.mp4"], os.path.join(self.folder, "missing.wav"), 1, "no such audio file"),
            (["--out", "out/x.mp4"], garbage, 1, "cannot read"),
            (["--out", "out/x.mp4", "--size", "641x360"], None, 2, "bad size"),
            (["--out", "out/x.avi"], None, 2, "name a .mp4"),
            (["--out", "out/x.mp4", "--plugin", os.path.join(self.folder, "none.dll")], None, 1, "no such plug-in"),
        ]
        for args, audio, expected, message in cases:
            status, text = self.render(*args, audio=audio)
            self.assertEqual(status, expected, text)
            self.assertIn(message, text)
            self.assertEqual(len(text.strip().splitlines()), 1, text)
            self.assertEqual(os.listdir(self.out), [], text)
        # A plug-in whose Init fails: its message box is what the user reads.
        status, text = self.render("--out", "out/x.mp4", "--plugin", failing)
        self.assertEqual(status, 1, text)
        self.assertIn('failed to start: "No player here"', text)
        self.assertEqual(os.listdir(self.out), [])

    def test_interrupted_run_leaves_nothing(self):
        plugin = self.foreign_plugin(window=1, gl_clear="0,0,90", render_sleep=40)
        command = [sys.executable, VIDEO, "render", self.clip, "--out", "out/x.mp4", "--plugin", plugin,
                   "--fps", "120"]
        with open(os.path.join(self.folder, "log.txt"), "w+") as log:
            process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, cwd=self.folder)
            try:
                deadline = time.monotonic() + 120
                while not os.listdir(self.out) and process.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.1)
                self.assertIsNone(process.poll(), "the render ended before the frames flowed")
                time.sleep(1)
                process.send_signal(signal.SIGINT)
                status = process.wait(60)
            finally:
                if process.poll() is None:
                    process.kill()
            log.seek(0)
            text = log.read()
        self.assertEqual(status, 130, text)
        self.assertIn("interrupted", text)
        self.assertEqual(os.listdir(self.out), [])


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


if __name__ == "__main__":
    unittest.main()
