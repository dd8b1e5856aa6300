"""The options dialog of vis_halcyonsphere.dll, opened by Config in the host and driven without a person."""

import unittest

from harness import ASSET_FOLDER, DEFAULT_OPTIONS, OPTION_FIELDS, PRODUCT_DLL, HostTestCase, options_record, read_png

OPTIONS_FILE = ASSET_FOLDER + "/useropt.cfg"
CHECK_BOXES = {1003: "fullscreen", 1004: "light_panning", 1005: "detailed_height", 1008: "alt_sphere",
               1014: "mipmaps", 1011: "floating", 1012: "rotating"}
SLIDERS = {1006: ("light_brightness", 0, 1024), 1007: ("radial_brightness", 0, 1024),
           1009: ("sphere_size", 0, 1024), 1010: ("sphere_count", 1, 256), 1013: ("delay", 0, 2)}

BUTTON, EDIT, STATIC, TRACKBAR = "Button", "Edit", "Static", "msctls_trackbar32"
CHECK = 0x50010003
SLIDER = 0x50010018
LABEL = 0x50020000
FIELD = 0x50810080
# id, class, text, x, y, cx, cy, style; in tab order. The credit line's text is checked apart.
TEMPLATE = [
    (1, BUTTON, "OK", 93, 7, 38, 14, 0x50010001),
    (2, BUTTON, "Cancel", 93, 24, 38, 14, 0x50010000),
    (1001, EDIT, "", 43, 7, 43, 12, FIELD),
    (-1, STATIC, "Width:", 7, 8, 30, 9, LABEL),
    (1002, EDIT, "", 43, 21, 43, 12, FIELD),
    (-1, STATIC, "Height:", 7, 23, 30, 9, LABEL),
    (1003, BUTTON, "&Fullscreen", 7, 40, 51, 8, CHECK),
    (1004, BUTTON, "&Light panning", 72, 40, 59, 8, CHECK),
    (1005, BUTTON, "&Detailed height", 7, 51, 60, 8, CHECK),
    (1006, TRACKBAR, "", 7, 96, 124, 11, SLIDER),
    (-1, STATIC, "Light brightness:", 11, 87, 68, 8, LABEL),
    (1007, TRACKBAR, "", 7, 117, 124, 11, SLIDER),
    (-1, STATIC, "Radial brightness:", 11, 109, 68, 8, LABEL),
    (-1, STATIC, None, 7, 200, 124, 16, LABEL),
    (1008, BUTTON, "&Alt sphere", 72, 51, 59, 8, CHECK),
    (1009, TRACKBAR, "", 7, 138, 124, 11, SLIDER),
    (-1, STATIC, "Sphere size:", 11, 130, 68, 8, LABEL),
    (1010, TRACKBAR, "", 7, 160, 124, 11, SLIDER),
    (-1, STATIC, "Number of spheres:", 11, 152, 68, 8, LABEL),
    (1011, BUTTON, "Fl&oat", 7, 62, 59, 8, CHECK),
    (1012, BUTTON, "Ro&tate", 72, 62, 59, 8, CHECK),
    (1013, TRACKBAR, "", 7, 183, 124, 11, SLIDER),
    (-1, STATIC, "Delay:", 11, 175, 68, 8, LABEL),
    (1014, BUTTON, "&Mipmaps", 7, 73, 59, 8, CHECK),
]


def shown(run, when):
    """What the dialog's controls showed, by id: text, check state, or (range, position)."""
    [event] = [e for e in run.of("dialog_controls") if e["when"] == when]
    controls = {}
    for c in event["controls"]:
        if c["id"] in CHECK_BOXES:
            controls[c["id"]] = c["checked"]
        elif c["id"] in SLIDERS:
            controls[c["id"]] = (tuple(c["range"]), c["position"])
        elif c["id"] in (1001, 1002):
            controls[c["id"]] = c["text"]
    return controls


# Every control changed: both edits, each check box clicked, each slider moved.
CHANGE_EVERYTHING = ["--dialog-text", "1001=800x600", "--dialog-text", "1002= 99999999999"]
for _id in CHECK_BOXES:
    CHANGE_EVERYTHING += ["--dialog-click", _id]
CHANGE_EVERYTHING += ["--dialog-slider", "1006=1024", "--dialog-slider", "1007=0", "--dialog-slider", "1009=5000",
                      "--dialog-slider", "1013=0"]


class TemplateTest(HostTestCase):
    def test_resource_102_as_the_dll_holds_it(self):
        run = self.host(PRODUCT_DLL, ["--config", "--dialog-template", "102", "--answer", "cancel"], assets="empty")
        t = run.one("dialog_template")
        self.assertTrue(t["found"] and t["extended"] and t["parsed"], run.describe())
        self.assertEqual((t["style"], t["ex_style"]), (0x90C800C8, 0))
        self.assertEqual((t["x"], t["y"], t["cx"], t["cy"]), (0, 0, 138, 223))
        self.assertEqual((t["title"], t["menu"], t["class"]), ("Halcyonsphere Options", "", ""))
        self.assertEqual(t["font"], {"points": 8, "weight": 400, "italic": 0, "charset": 1, "face": "MS Shell Dlg"})
        self.assertEqual(len(t["controls"]), len(TEMPLATE))
        for c, (id_, cls, text, x, y, cx, cy, style) in zip(t["controls"], TEMPLATE):
            # Class names match regardless of case; windres writes the trackbar's in capitals.
            got = (c["id"], c["class"].lower(), c["text"] if text is not None else None,
                   c["x"], c["y"], c["cx"], c["cy"], c["style"], c["ex_style"])
            self.assertEqual(got, (id_, cls.lower(), text, x, y, cx, cy, style, 0), c)
        self.assertIn("Halcyonsphere", t["controls"][13]["text"])
        # Opened from it: a dialog (no message box) owned by the player's window.
        dialog = run.one("dialog")
        self.assertEqual((dialog["caption"], dialog["buttons"], dialog["owner_is_parent"], dialog["phase"]),
                         ("Halcyonsphere Options", ["ok", "cancel"], True, "config"))


class DialogTest(HostTestCase):
    def test_ok_stores_every_control(self):
        opened = options_record(width=640, light_brightness=100, sphere_count=300, delay=7)
        run = self.host(PRODUCT_DLL, ["--config", "--answer", "ok", "--dialog-shot", "options.png"]
                        + CHANGE_EVERYTHING, files={OPTIONS_FILE: opened})
        before = shown(run, "opened")
        self.assertEqual((before[1001], before[1002]), ("640", "384"))
        self.assertEqual({i: before[i] for i in CHECK_BOXES}, {i: DEFAULT_OPTIONS[f] for i, f in CHECK_BOXES.items()})
        # Out-of-range values show at the end of their slider.
        self.assertEqual({i: before[i] for i in SLIDERS},
                         {1006: ((0, 1024), 100), 1007: ((0, 1024), 384), 1009: ((0, 1024), 768),
                          1010: ((1, 256), 256), 1013: ((0, 2), 2)})
        after = shown(run, "answered")
        self.assertEqual({i: after[i] for i in CHECK_BOXES}, {i: 1 - DEFAULT_OPTIONS[f] for i, f in CHECK_BOXES.items()},
                         "each click toggled its box")
        with open(run.path(OPTIONS_FILE), "rb") as f:
            saved = f.read()
        expected = options_record(width=800, height=2**31 - 1, light_brightness=1024, radial_brightness=0,
                          sphere_size=1024, sphere_count=256, delay=0,
                          **{f: 1 - DEFAULT_OPTIONS[f] for f in CHECK_BOXES.values()})
        self.assertEqual(saved, expected)
        self.assertEqual(run.one("dialog")["pressed"], "ok")
        self.assertEqual(run.one("end")["reason"], "config_done")

        # The picture shows a painted dialog: a light face with dark text on it.
        shot = run.one("dialog_shot")
        self.assertTrue(shot["written"], run.describe())
        width, height, rows = read_png(run.path("options.png"))
        self.assertEqual((width, height), (shot["width"], shot["height"]))
        self.assertGreater(height, width)
        greys = [sum(p[:3]) // 3 for row in rows for p in row]
        self.assertGreater(sum(g > 192 for g in greys), len(greys) // 2)
        self.assertGreater(sum(g < 64 for g in greys), len(greys) // 100)

    def test_cancel_and_close_box_change_nothing(self):
        opened = options_record(width=640, sphere_count=3) + b"\xde\xad\xbe\xef"
        for answer in ("cancel", "close"):
            run = self.host(PRODUCT_DLL, ["--config", "--answer", answer] + CHANGE_EVERYTHING,
                            files={OPTIONS_FILE: opened})
            self.assertEqual(run.one("dialog")["pressed"], answer)
            self.assertEqual(shown(run, "answered")[1001], "800x600", "the controls did change")
            with open(run.path(OPTIONS_FILE), "rb") as f:
                self.assertEqual(f.read(), opened, answer)
            self.assertEqual(run.names()[-2:], ["config", "end"], answer)

    def test_no_file_ok_writes_the_defaults(self):
        run = self.host(PRODUCT_DLL, ["--config", "--answer", "ok", "--dialog-dump"], assets="empty")
        self.assertEqual(shown(run, "opened")[1001], "512")
        with open(run.path(OPTIONS_FILE), "rb") as f:
            self.assertEqual(f.read(), options_record())

    def test_second_config_while_open_does_nothing(self):
        run = self.host(PRODUCT_DLL, ["--config", "--config-reenter", "--answer", "cancel"], assets="empty")
        self.assertEqual(len(run.of("dialog")), 1, run.describe())
        self.assertTrue(run.one("config_reentry")["returned"])
        self.assertEqual(run.one("end")["dialogs"], 1)

    def test_saved_options_are_what_the_next_init_uses(self):
        run = self.host(PRODUCT_DLL, ["--config-then-init", "--frames", "1", "--answer", "ok",
                                      "--dialog-text", "1001=320", "--dialog-text", "1002=200",
                                      "--dialog-slider", "1010=5", "--dialog-slider", "1013=0"], assets=True)
        init = run.one("init")
        self.assertEqual((init["result"], init["delay_ms"]), (0, 0), run.describe())
        [window] = [e for e in run.of("host_message") if e["lparam"] == 611 and e["wparam"]]
        self.assertEqual((window["client_width"], window["client_height"]), (320, 200))
        with open(run.path(OPTIONS_FILE), "rb") as f:
            self.assertEqual(f.read(), options_record(width=320, height=200, sphere_count=5, delay=0))


if __name__ == "__main__":
    unittest.main()
