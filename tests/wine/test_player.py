"""What other people's plug-ins expect from a player, with minimal_vis.dll acting as they do: the
answers to their questions, embedded windows, the ini file, the waveform, frames read back however
they draw, and boxes from their own threads."""

import os
import shutil
import unittest

from harness import BIN, HostTestCase, make_folder, read_png, remove_folder, windows_path
from test_host import MINIMAL, control, entries, spectrum_stream

ASKED = "0,104,105:0,105:1,124,125,211,211:1,212,999,999:5"


def asked(run, when):
    """The answers minimal_vis logged at Init, each Render or Quit: [{question: answer}]."""
    return [{k: int(v) for k, v in fields.items() if k not in ("when", "frame")}
            for fields in entries(run, "asked") if fields["when"] == when]


def texts(run, number):
    return [fields["value"] for fields in entries(run, "text") if fields["number"] == str(number)]


class PlayerMessagesTest(HostTestCase):
    def test_answers_follow_the_track(self):
        # Four frames at 10 a second from 1:01 into a track of 3:05.4.
        stream = spectrum_stream([1, 2, 3, 4], rate=(10, 1), start_ms=61000, length_ms=185400)
        run = self.host(MINIMAL, ["--spectrum", "stream:s.hsps", "--track", "Z:\\music\\Song.name.flac"],
                        files=dict(control(ask=ASKED), **{"s.hsps": stream}))
        [init], renders, [quit] = asked(run, "init"), asked(run, "render"), asked(run, "quit")
        self.assertEqual([r["105:0"] for r in renders], [61000, 61100, 61200, 61300])
        self.assertEqual((init["104"], [r["104"] for r in renders], quit["104"]), (0, [1, 1, 1, 1], 0))
        for answers in [init, quit] + renders:
            self.assertEqual({k: answers[k] for k in ("0", "105:1", "124", "125", "211:1", "999", "999:5")},
                             {"0": 0x5066, "105:1": 185, "124": 1, "125": 0, "211:1": 0, "999": 0, "999:5": 0})
        self.assertEqual(set(texts(run, 211)), {"Z:\\music\\Song.name.flac", "(null)"})  # the list has no entry 1
        self.assertEqual(set(texts(run, 212)), {"Song.name"})
        # Logged once per number and wParam (an unknown number once), though asked every frame.
        logged = [(e["lparam"], e["wparam"], e["known"]) for e in run.of("host_message")]
        self.assertEqual(sorted(logged), sorted(set(logged)))
        self.assertIn((105, 1, True), logged)
        self.assertEqual([m for m in logged if m[0] == 999], [(999, 0, False)])

    def test_without_a_track_position_and_length_are_zero(self):
        run = self.host(MINIMAL, ["--frames", "2", "--spectrum", "tone:5"], files=control(ask="105:0,105:1,211,212"))
        self.assertEqual(asked(run, "render"), [{"105:0": 0, "105:1": 0, "211": r["211"], "212": r["212"]}
                                                for r in asked(run, "render")])
        self.assertEqual(set(texts(run, 211) + texts(run, 212)), {""})


class PlayerFilesTest(HostTestCase):
    def test_ini_beside_the_plugins_folder_else_in_the_run_folder(self):
        folder = make_folder()
        self.addCleanup(remove_folder, folder)
        player = os.path.join(folder, "Player")
        plugins = os.path.join(player, "pLuGiNs")  # the folder's name in any case
        os.makedirs(plugins)
        shutil.copy2(os.path.join(BIN, MINIMAL), plugins)
        with open(os.path.join(plugins, "minimal_vis.txt"), "w") as f:
            f.write("ini=1\n")
        for starts in (1, 2):  # the ini is kept between starts
            run = self.host(os.path.join(plugins, MINIMAL), ["--frames", "0"], in_place=True)
            files = run.one("player_files")
            self.assertEqual((files["ini_file"], files["ini_folder"], files["plugin_folder"]),
                             (windows_path(os.path.join(player, "winamp.ini")), windows_path(player),
                              windows_path(plugins)))
            self.assertEqual((files["writable"], files["beside_plugins"]), (True, True))
            [asked] = [e for e in run.of("host_message") if e["lparam"] == 334]
            self.assertEqual((asked["text"], asked["created"]), (files["ini_file"], starts == 1))
            [used] = entries(run, "ini")[-1:]
            self.assertEqual((used["file"], used["starts"], used["written"], used["found_self"]),
                             (files["ini_file"], str(starts), "1", "1"))
        with open(os.path.join(player, "winamp.ini")) as f:
            self.assertIn("starts=2", f.read())
        # Elsewhere the run's folder (the current one) holds it.
        run = self.host(MINIMAL, ["--frames", "0"], files=control(ini=1))
        files = run.one("player_files")
        self.assertEqual((files["ini_file"], files["beside_plugins"]), (windows_path(run.path("winamp.ini")), False))
        self.assertEqual(entries(run, "ini")[0]["found_self"], "0")
        # A plug-in that never asks for its path gets no file.
        run = self.host(MINIMAL, ["--frames", "0"])
        self.assertTrue(run.one("player_files")["writable"])
        self.assertFalse(os.path.exists(run.path("winamp.ini")))


class EmbedWindowTest(HostTestCase):
    def test_frame_from_the_state_follows_the_plugin_and_goes_after_quit(self):
        for mode in ("1", "direct"):
            run = self.host(MINIMAL, ["--frames", "2", "--capture", "shots"],
                            files=control(embed=mode, gdi="0,0,90", size="200,150", embed_resize="300,200"))
            embed = run.one("embed")
            self.assertEqual((embed["r"], embed["host_thread"]), ([40, 40, 240, 190], True), mode)
            self.assertEqual(entries(run, "embed")[0]["state_me"], "1", mode)
            # The frame took the plug-in's new size and its window filled it: the white quadrant
            # is a quarter of the whole capture.
            border = (200 - embed["client_width"], 150 - embed["client_height"])
            capture = run.of("capture")[-1]
            self.assertEqual((capture["width"], capture["height"], capture["source"]),
                             (300 - border[0], 200 - border[1], "window"), mode)
            width, height, rows = read_png(run.path("shots", capture["path"].split("\\")[-1]))
            self.assertEqual((rows[0][0], rows[height - 1][width - 1]), ((255, 255, 255, 255), (0, 0, 90, 255)))
            self.assertEqual(rows[0][width // 2 - 1], (255, 255, 255, 255))
            self.assertEqual(run.names()[-3:], ["quit", "embed_frames_closed", "end"], mode)
            self.assertEqual(run.one("embed_frames_closed")["count"], 1)

    def test_a_rectangle_too_wide_for_an_int_is_clamped_like_a_large_one(self):
        sizes = []
        for rect in ("0,0,100000,100000", "-2000000000,-2000000000,2000000000,2000000000", "-2147483648,0,2147483647,9"):
            run = self.host(MINIMAL, ["--frames", "1"], files=control(embed=1, embed_rect=rect))
            embed = run.one("embed")
            sizes.append((embed["client_width"], embed["client_height"]))
        self.assertGreater(sizes[0][0], 400, sizes)  # larger than the frame for an empty rectangle
        self.assertEqual((sizes[1], sizes[2][0]), (sizes[0], sizes[0][0]))

    def test_a_player_without_embedded_windows(self):
        run = self.host(MINIMAL, ["--frames", "1", "--no-embed"], files=control(embed=1))
        self.assertEqual([e["answer"] for e in run.of("host_message") if e["lparam"] == 505], [0])
        self.assertEqual(run.of("embed"), [])
        self.assertEqual(entries(run, "embed"), [{"frame": "0", "state_me": "0"}])


class WaveformTest(HostTestCase):
    def test_rows_as_the_module_asks(self):
        # The stream's left samples run up to 99, the right ones to 49 (see spectrum_stream).
        stream = {"s.hsps": spectrum_stream([7, 7])}
        cases = [("silence", 2, (0, 0)), ("tone:10@200", 2, (25, 25)), ("stream:s.hsps", 2, (99, 49)),
                 ("stream:s.hsps", 1, (74, 0)),  # the mix of the two rows in the first
                 ("stream:s.hsps", 0, (0, 0))]  # not asked for: left alone
        for spectrum, channels, peaks in cases:
            run = self.host(MINIMAL, ["--frames", "2", "--spectrum", spectrum],
                            files=dict(control(wave_channels=channels), **stream))
            seen = [(int(r["wave_peak0"]), int(r["wave_peak1"])) for r in entries(run, "render")]
            self.assertEqual(seen, [peaks, peaks], (spectrum, channels))
        run = self.host(MINIMAL, ["--frames", "2", "--spectrum", "constant:80"])
        self.assertTrue(all(0 < int(r["wave_peak0"]) <= 10 for r in entries(run, "render")), run.minimal_log())


# The pack state minimal_vis sets with gl_state=1, as it must find it before every frame.
OWN_PACK_STATE = {"alignment": "2", "row_length": "16", "skip_rows": "3", "skip_pixels": "5", "read_buffer": "front",
                  "pack_buffer": "own", "read_framebuffer": "own", "error": "0"}


class CaptureTest(HostTestCase):
    ARGS = ["--capture", "shots", "--clock-ms", "100", "--pacing", "auto"]

    def test_every_way_of_drawing_is_read_back_and_paced(self):
        colour = "200,40,10"
        late = dict(embed=1, gl_clear=colour, thread="own")
        cases = [  # how it draws, the source read back, the pacing the host chose
            (dict(window=1, gl_clear=colour), "gl", "clock"),
            (dict(window=1, gl_clear=colour, gl_state=1), "gl", "clock"),
            (dict(window=1, gdi=colour), "window", "wall"),
            (dict(window=1, ddraw=colour), "window", "wall"),
            (dict(window=1, gdi=colour, thread=1), "window", "wall"),
            (dict(embed=1, gl_clear=colour, thread="own"), "gl_thread", "wall"),
            (dict(embed=1, gl_clear=colour, thread="own", gl_state=1), "gl_thread", "wall"),
            # A thread that starts GL, or draws its first frame, well after its window.
            (dict(late, thread_open_wait=800), "gl_thread", "wall"),
            (dict(late, thread_wait=800), "gl_thread", "wall"),
        ]
        for keys, source, pacing in cases:
            run = self.host(MINIMAL, ["--frames", "4"] + self.ARGS, files=control(**keys))
            self.assertEqual(run.one("pacing")["mode"], pacing, keys)
            captures = run.of("capture")
            self.assertEqual([c["source"] for c in captures], [source] * 4, keys)  # the first frame's too
            for capture in captures[0], captures[-1]:
                width, height, rows = read_png(run.path("shots", capture["path"].split("\\")[-1]))
                self.assertEqual((rows[0][0], rows[height - 1][width - 1]),
                                 ((255, 255, 255, 255), (200, 40, 10, 255)), keys)
            if pacing == "wall":  # each frame took its step of real time
                self.assertGreaterEqual(run.one("end")["loop_ms"], 400, keys)
            self.assertEqual(run.of("no_picture"), [], keys)
            # The host's read-backs, on its thread or in the plug-in's swaps, left its GL state alone.
            if keys.get("gl_state"):
                states = entries(run, "gl_state")
                self.assertGreater(len(states), 2, keys)
                self.assertEqual([s for s in states if s != OWN_PACK_STATE], [], keys)

    def test_a_picture_that_never_comes_is_said(self):
        # The thread's GL is up, its first frame 30 s away: the host waits its 10 s and says so.
        run = self.host(MINIMAL, ["--frames", "2"] + self.ARGS,
                        files=control(embed=1, gl_clear="200,40,10", thread="own", thread_wait=30000))
        missing = run.one("no_picture")
        self.assertEqual((missing["window"], missing["gl_thread"]), (True, True))
        self.assertLess(run.events.index(missing), run.events.index(run.of("frame")[0]))
        self.assertEqual(run.one("end")["reason"], "frames")


class ThreadDialogTest(HostTestCase):
    def test_boxes_from_the_plugin_thread_are_answered(self):
        run = self.host(MINIMAL, ["--frames", "5", "--delay", "100"],
                        files=control(window=1, gdi="0,0,90", thread=1, thread_box="yesno|Thread|Go on?"))
        box = run.one("message_box")
        self.assertEqual((box["caption"], box["text"], box["pressed"], box["host_thread"]),
                         ("Thread", "Go on?", "no", False))
        self.assertEqual(entries(run, "thread_box"), [{"answer": "7"}])

    def test_a_dialog_with_labels_is_not_a_message_box(self):
        run = self.host(MINIMAL, ["--config", "--dialog-dump", "--dialog-text", "1001=hello", "--answer", "ok"],
                        files=control(config="labels"))
        self.assertEqual(run.of("message_box"), [])
        self.assertEqual(run.one("dialog")["caption"], "Minimal settings")
        opened, answered = ({c["id"]: c["text"] for c in e["controls"]} for e in run.of("dialog_controls"))
        self.assertEqual((opened[1001], answered[1001], answered[1]), ("minimal", "hello", "OK"))
        self.assertEqual(entries(run, "config"), [{"answer": "1"}])


if __name__ == "__main__":
    unittest.main()
