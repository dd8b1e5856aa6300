"""The product's render window, GL context and fragment program under Wine and llvmpipe."""

import os
import unittest

from harness import ASSET_FOLDER, PRODUCT_DLL, HostTestCase, options_record, read_png, windows_path

OPTIONS_FILE = ASSET_FOLDER + "/useropt.cfg"
PROGRAM_FILE = ASSET_FOLDER + "/light_std.fp"
WINDOWED_STYLE = 0x06C80000  # caption, system menu, clip siblings and children
WINDOWED_EX_STYLE = 0x00040100


def registration(run):
    """The 611 message that registered the render window."""
    [event] = [e for e in run.of("host_message") if e["lparam"] == 611 and e["wparam"]]
    return event


class WindowTest(HostTestCase):
    def test_client_area_is_the_options_size(self):
        for width, height in ((640, 480), (300, 200)):
            run = self.host(PRODUCT_DLL, ["--frames", "1"], assets=True,
                            files={OPTIONS_FILE: options_record(width=width, height=height)})
            self.assertEqual(run.one("init")["result"], 0, run.describe())
            window = registration(run)
            self.assertEqual((window["window_class"], window["window_title"]), ("f_Halcyonsphere", "Halcyonsphere"))
            self.assertEqual((window["client_width"], window["client_height"]), (width, height))
            self.assertEqual((window["x"], window["y"]), (0, 0))
            self.assertEqual((window["style"], window["ex_style"]), (WINDOWED_STYLE, WINDOWED_EX_STYLE))
            self.assertTrue(window["same_thread"])
            self.assertEqual(run.of("message_box"), [])

    def test_render_presents_the_frame_at_the_window_size(self):
        run = self.host(PRODUCT_DLL, ["--frames", "1", "--capture", "frames", "--spectrum", "silence"], assets=True)
        capture = run.one("capture")
        self.assertTrue(capture["captured"], run.describe())
        width, height, rows = read_png(run.path("frames", os.path.basename(capture["path"].replace("\\", "/"))))
        self.assertEqual((width, height), (512, 384))
        # The first frame: the sphere at the centre, nothing yet in the corners.
        self.assertGreater(sum(rows[192][256][:3]), 0)
        self.assertEqual(rows[0][0][:3], (0, 0, 0))


class StopTest(HostTestCase):
    def check_stop(self, run):
        self.assertEqual(len(run.of("quit_message")), 1, run.describe())
        self.assertEqual(run.one("quit_message")["exit_code"], 0)
        names = run.names()
        self.assertEqual(names[names.index("quit_message") + 1:], ["host_message", "quit", "end"], run.describe())
        self.assertEqual(run.one("end")["reason"], "quit_message")
        quit = run.one("quit")
        self.assertFalse(quit["render_window_alive"], "Quit leaves no window")
        self.assertFalse(quit["window_class_registered"], "Quit unregisters the class")

    def test_escape_posts_one_quit_message(self):
        run = self.host(PRODUCT_DLL, ["--frames", "20", "--escape-at", "3"], assets=True)
        self.assertTrue(run.one("poke")["posted"])
        self.check_stop(run)
        self.assertEqual(len(run.of("frame")), 3)

    def test_close_box_posts_one_quit_message(self):
        run = self.host(PRODUCT_DLL, ["--frames", "20", "--close-at", "2"], assets=True)
        self.check_stop(run)
        self.assertEqual(len(run.of("frame")), 2)

    def test_a_second_start_in_the_same_process_opens_the_display_again(self):
        run = self.host(PRODUCT_DLL, ["--frames", "2", "--cycles", "2"], assets=True)
        self.assertEqual([e["result"] for e in run.of("init")], [0, 0], run.describe())
        windows = [e for e in run.of("host_message") if e["lparam"] == 611 and e["wparam"]]
        self.assertEqual(len(windows), 2)
        self.assertTrue(all(w["is_window"] and w["window_class"] == "f_Halcyonsphere" for w in windows))
        for quit in run.of("quit"):
            self.assertFalse(quit["render_window_alive"])
            self.assertFalse(quit["window_class_registered"])


class FullscreenTest(HostTestCase):
    def check_windowed_fallback(self, run, width, height):
        self.assertEqual(run.one("init")["result"], 0, run.describe())
        window = registration(run)
        self.assertEqual((window["client_width"], window["client_height"]), (width, height))
        self.assertEqual((window["x"], window["y"]), (0, 0))
        self.assertEqual(window["style"], WINDOWED_STYLE)
        self.assertFalse(run.one("end")["parent_minimized"])

    def test_prompt_then_fallback_to_a_window_when_the_mode_is_refused(self):
        # This stack refuses every display mode change, so both answers end in a window.
        for answer in ("no", "yes"):
            run = self.host(PRODUCT_DLL, ["--frames", "1", "--answer", answer], assets=True,
                            files={OPTIONS_FILE: options_record(width=640, height=480, fullscreen=1)})
            [prompt] = run.of("message_box")
            self.assertEqual(prompt["caption"], "Crappy multimon support")
            self.assertRegex(prompt["text"], r"^Use device '\\\\\.\\DISPLAY\d+' for fullscreen display\?$")
            self.assertEqual(sorted(prompt["buttons"]), ["no", "yes"])
            self.assertFalse(prompt["owner_is_parent"], "the prompt has no owner")
            self.check_windowed_fallback(run, 640, 480)


class ProgramTest(HostTestCase):
    def test_shipped_program_compiles(self):
        run = self.host(PRODUCT_DLL, ["--frames", "1"], assets=True)
        self.assertEqual(run.one("init")["result"], 0, run.describe())
        self.assertEqual(run.of("message_box"), [])

    def test_rejected_program_shows_the_drivers_text_and_tears_down(self):
        broken = "!!ARBfp1.0\nFROB result.color, fragment.color;\nEND\n"
        run = self.host(PRODUCT_DLL, ["--frames", "1"], assets=True, files={PROGRAM_FILE: broken}, expect_status=1)
        box = run.one("message_box")
        self.assertEqual(box["caption"], "Error")
        self.assertTrue(box["text"].startswith("Fragment program error: "), box["text"])
        self.assertGreater(len(box["text"]), len("Fragment program error: "))
        self.assertTrue(box["owner_is_parent"])
        init = run.one("init")
        self.assertEqual(init["result"], 1)
        # The host was given the window, then told to let go of it before it was destroyed.
        self.assertEqual([e["wparam"] != 0 for e in run.of("host_message") if e["lparam"] == 611], [True, False])
        self.assertFalse(init["render_window_alive"], run.describe())
        self.assertFalse(init["window_class_registered"], run.describe())

    def test_missing_program_names_its_path(self):
        run = self.host(PRODUCT_DLL, ["--frames", "1"], assets="empty", expect_status=1)
        box = run.one("message_box")
        self.assertEqual(box["caption"], "Error")
        self.assertRegex(box["text"], r"^Unable to locate fragment program at '.*\\vis_halcyonsphere_assets/light_std\.fp'\.$")
        self.assertEqual(run.one("init")["result"], 1)


if __name__ == "__main__":
    unittest.main()
