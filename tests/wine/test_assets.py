"""The asset folder as the real DLL reads it at Init: which files it opens, what a missing one does,
and many starts in one process."""

import os
import struct
import unittest

from harness import ASSET_FOLDER, BIN, PRODUCT_DLL, HostTestCase, options_record


def bitmap(width, height, rgb):
    """A 24-bit bitmap of one colour."""
    stride = (width * 3 + 3) & ~3
    row = bytes(rgb[::-1]) * width + b"\0" * (stride - width * 3)
    pixels = row * height
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    header += struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return header + pixels


def asset(name):
    return ASSET_FOLDER + "/" + name


NOT_A_BITMAP = b"this is not a bitmap"


def shipped_program():
    with open(os.path.join(BIN, ASSET_FOLDER, "light_std.fp"), "rb") as f:
        return f.read()


class AssetChoiceTest(HostTestCase):
    def test_options_choose_the_files_and_a_missing_model_is_harmless(self):
        cases = [
            ("detailed height reads height_d.bmp only", {asset("height.bmp"): NOT_A_BITMAP,
                                                         asset("useropt.cfg"): options_record(detailed_height=1)}),
            ("plain height reads height.bmp only", {asset("height_d.bmp"): NOT_A_BITMAP}),
            ("the alternative sphere", {asset("sphere.qtl"): b"", asset("useropt.cfg"): options_record(alt_sphere=1)}),
        ]
        for what, files in cases:
            run = self.host(PRODUCT_DLL, ["--frames", "2"], assets=True, files=files)
            self.assertEqual(run.one("init")["result"], 0, what + "\n" + run.describe())
            self.assertEqual(run.of("message_box"), [], what)
            self.assertEqual(len(run.of("frame")), 2, what)

    def test_without_a_sphere_model_the_decal_shows_on_a_flat_quad(self):
        run = self.host(PRODUCT_DLL, ["--frames", "1", "--capture", "shots", "--spectrum", "silence"],
                        assets="empty",
                        files={asset(name): bitmap(4, 4, rgb) for name, rgb in
                               (("height.bmp", (0, 0, 0)), ("decal.bmp", (250, 20, 20)),
                                ("normal.bmp", (128, 128, 255)))} | {
                            asset("light_std.fp"): shipped_program(),
                            # Turned so that the quad faces the camera instead of lying flat.
                            asset("modeloffsets.txt"): b"(0 0 0) (0 -90 90)",
                            asset("useropt.cfg"): options_record(floating=0, rotating=0, sphere_size=1000)})
        self.assertEqual(run.one("init")["result"], 0, run.describe())
        red, green, blue = run.one("capture")["mean_rgb"]
        self.assertGreater(red, 1.0, run.describe())  # a small red square at the centre
        self.assertLess(green + blue, red / 2)

    def test_a_missing_or_refused_image_stops_the_start_with_one_box(self):
        for what, files in (("missing decal", {asset("decal.bmp"): None}),
                            ("refused normal map", {asset("normal.bmp"): NOT_A_BITMAP})):
            run = self.host(PRODUCT_DLL, ["--frames", "2"], assets=True, files=files, expect_status=1)
            self.assertEqual(run.one("init")["result"], 1, what + "\n" + run.describe())
            box = run.one("message_box")
            self.assertEqual((box["caption"], box["text"]), ("Halcyonsphere", "Image load failed."), what)
            self.assertEqual(run.one("quit_message")["exit_code"], 0, what)
            self.assertEqual(run.of("frame"), [], what)


class ManyStartsTest(HostTestCase):
    def test_three_hundred_starts_in_one_process(self):
        small = {asset(name): bitmap(8, 8, rgb) for name, rgb in
                 (("height.bmp", (90, 90, 90)), ("decal.bmp", (40, 160, 220)), ("normal.bmp", (128, 128, 255)))}
        small[asset("useropt.cfg")] = options_record(width=64, height=48)
        run = self.host(PRODUCT_DLL, ["--cycles", "300", "--frames", "1"], assets=True, files=small, timeout=400)
        results = [e["result"] for e in run.of("init")]
        self.assertEqual(results, [0] * 300, run.describe()[-3000:])
        self.assertEqual(run.of("message_box"), [])
        self.assertEqual(len(run.of("frame")), 300)
        registrations = [e for e in run.of("host_message") if e["lparam"] == 611 and e["wparam"]]
        self.assertEqual(len(registrations), 300)
        self.assertTrue(all(q["window_class_registered"] is False for q in run.of("quit")))


if __name__ == "__main__":
    unittest.main()
