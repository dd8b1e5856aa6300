"""listen --plugin end to end: a private PulseAudio server with a null sink as the default output,
a tone played into it on the left channel alone, live_stream's capture of its monitor piped into the
host under Wine, a test plug-in drawing what it is handed; Ctrl-C ends the capture and the host, and
so does the plug-in closing."""

import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest
import wave

from harness import BIN, REPO, ensure_session, make_folder, read_minimal_log, remove_folder

TOOLS = os.environ.get("HALCYON_TOOLS_DIR") or os.path.join(REPO, "build", "native", "tools")
LIVE_STREAM = os.path.join(TOOLS, "live_stream")


def left_tone(path, seconds):
    """1 kHz on the left channel, silence on the right."""
    with wave.open(path, "wb") as f:
        f.setnchannels(2)
        f.setsampwidth(2)
        f.setframerate(44100)
        f.writeframes(b"".join(struct.pack("<hh", int(8000 * math.sin(2 * math.pi * 1000 * i / 44100)), 0)
                               for i in range(int(44100 * seconds))))


def commands_with(variable, value):
    """The command lines of the processes whose environment holds variable=value."""
    wanted = ("%s=%s" % (variable, value)).encode()
    found = []
    for name in os.listdir("/proc"):
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % name, "rb") as f:
                found.append(f.read().replace(b"\0", b" ").decode("latin-1"))
        except OSError:
            continue
    return found


@unittest.skipUnless(shutil.which("pulseaudio") and shutil.which("paplay") and os.path.exists(LIVE_STREAM),
                     "needs pulseaudio, paplay and the native build's live_stream")
class ListenTest(unittest.TestCase):
    def start_sound_server(self, folder):
        env = dict(os.environ, XDG_RUNTIME_DIR=folder, PULSE_RUNTIME_PATH=os.path.join(folder, "pulse"))
        env.pop("PULSE_SERVER", None)
        with open(os.path.join(folder, "server.log"), "wb") as log:
            server = subprocess.Popen(["pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no",
                                       "--exit-idle-time=-1", "--disallow-exit", "-L", "module-native-protocol-unix",
                                       "-L", "module-null-sink sink_name=out"], env=env, stdin=subprocess.DEVNULL,
                                      stdout=log, stderr=log)
        self.addCleanup(lambda: server.poll() is not None or (server.kill(), server.wait()))
        give_up = time.monotonic() + 20
        while subprocess.run(["pactl", "set-default-sink", "out"], env=env, capture_output=True).returncode != 0:
            self.assertIsNone(server.poll(), "pulseaudio ended at its start")
            self.assertLess(time.monotonic(), give_up, "pulseaudio did not answer")
            time.sleep(0.1)
        return env

    def test_a_plugin_shows_what_the_desktop_plays_until_ctrl_c(self):
        ensure_session()  # the tests' display and prefix, which listen runs inside
        folder = make_folder()
        self.addCleanup(remove_folder, folder)
        sound = os.path.join(folder, "sound")
        os.mkdir(sound)
        env = self.start_sound_server(sound)
        env["HALCYON_TOOLS_DIR"] = TOOLS
        env["ASAN_OPTIONS"] = "detect_leaks=0"
        plugin = os.path.join(folder, "plugin")
        os.mkdir(plugin)
        shutil.copy2(os.path.join(BIN, "minimal_vis.dll"), plugin)
        renders = os.path.join(plugin, "minimal_vis.log")
        events = os.path.join(folder, "events.jsonl")
        said, complaints = os.path.join(folder, "listen.out"), os.path.join(folder, "listen.err")

        def start():
            # Output to files: Wine's helper processes inherit handles and would hold a pipe open.
            with open(said, "wb") as out, open(complaints, "wb") as err:
                listen = subprocess.Popen([sys.executable, "-B", os.path.join(REPO, "scripts", "_listen.py"),
                                           "--plugin", os.path.join(plugin, "minimal_vis.dll"), "--log", events],
                                          env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            self.addCleanup(lambda: listen.poll() is not None or (listen.kill(), listen.wait()))
            return listen

        def left_behind():
            return [c for c in commands_with("XDG_RUNTIME_DIR", sound) if "live_stream" in c or "halcyon_host" in c]

        listen = start()

        def text(path):
            with open(path, "rb") as f:
                return f.read().decode("utf-8", "replace")

        def drawn():
            return [fields for word, fields in read_minimal_log(renders) if word == "render"]

        def wait_for(check, what):
            give_up = time.monotonic() + 120
            while not check(drawn()):
                self.assertIsNone(listen.poll(), "listen ended before %s: %s" % (what, text(complaints)))
                self.assertLess(time.monotonic(), give_up, "no frame %s" % what)
                time.sleep(0.05)
            return len(drawn())

        before = wait_for(lambda d: len(d) >= 10, "before the sound")
        tone = os.path.join(folder, "tone.wav")
        left_tone(tone, 2.0)
        player = subprocess.Popen(["paplay", "--device=out", tone], env=env)
        self.addCleanup(lambda: player.poll() is not None or (player.kill(), player.wait()))
        wait_for(lambda d: any(int(f["sum0"]) > 0 for f in d[before:]), "showing the tone")
        player.wait(30)
        wait_for(lambda d: int(d[-1]["sum0"]) == 0, "dark after the tone")

        asked = time.monotonic()
        listen.send_signal(signal.SIGINT)
        status = listen.wait(30)
        took = time.monotonic() - asked
        out, err = text(said), text(complaints)
        self.assertEqual(status, 130, err)
        self.assertIn("halcyon listen: interrupted.", err)
        self.assertLess(took, 2.5, "Ctrl-C ends the capture and the host at once")
        self.assertEqual(left_behind(), [], "nothing listen started is left")

        frames = drawn()[before:]
        self.assertTrue(all(int(f["sum1"]) == 0 for f in frames), "the right channel stays dark")
        loud = [int(f["sum0"]) for f in frames]
        self.assertGreater(max(loud), 300, "the left channel lights up with the tone")
        self.assertTrue(out.startswith("Capturing out.monitor from pulseaudio"), out)

        # The plug-in closed (as by Escape or its close box): the end the user chose, status 0.
        with open(os.path.join(plugin, "minimal_vis.txt"), "w") as f:
            f.write("quit_after=20\n")
        listen = start()
        self.assertEqual(listen.wait(120), 0, text(complaints))
        self.assertIn(": the plug-in was closed.", text(said))
        self.assertEqual(left_behind(), [])

if __name__ == "__main__":
    unittest.main()
