"""Pictures from the real DLL with the host's deterministic clock: what the music, the options and
many starts do to the frames. HALCYON_UPDATE_REFERENCES=1 rewrites the reference pictures (look at
them before you commit them)."""

import os
import shutil
import unittest

from harness import ASSET_FOLDER, PRODUCT_DLL, HostTestCase, leak_growth, options_record, read_png

REFERENCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "reference")
CLOCK = ["--clock-ms", "40"]


def options_file(**changes):
    return {ASSET_FOLDER + "/useropt.cfg": options_record(**changes)}


def frames_of(run):
    """The captured frames in order, as rows of (r, g, b, a)."""
    pictures = []
    for capture in run.of("capture"):
        path = run.path(*capture["path"].replace("\\", "/").split("/"))
        pictures.append(read_png(path)[2])
    return pictures


def brightness(rows, x0, y0, x1, y1):
    values = [sum(p[:3]) for row in rows[y0:y1] for p in row[x0:x1]]
    return sum(values) / (3.0 * len(values))


def lit(rows):
    return sum(1 for row in rows for p in row if max(p[:3]) > 8)


class PicturesTest(HostTestCase):
    def frames(self, spectrum, count, **option_changes):
        run = self.host(PRODUCT_DLL, CLOCK + ["--frames", count, "--capture", "shots", "--spectrum", spectrum],
                        assets=True, files=options_file(**option_changes))
        self.assertEqual(run.one("init")["result"], 0, run.describe())
        return run, frames_of(run)

    def test_the_light_pans_to_the_louder_channel_and_takes_its_colour(self):
        # Only the second channel sounds (the first one's tone lies above the bins that count).
        _, [frame] = self.frames("tone:300,40", 1, floating=0, radial_brightness=0)
        left, right = brightness(frame, 170, 160, 230, 224), brightness(frame, 282, 160, 342, 224)
        self.assertGreater(left, right + 10, (left, right))
        r, g, b, _ = frame[192][200]
        self.assertGreater(g, r + 20)
        self.assertGreater(g, b + 20)

    def test_silence_adds_no_blur_and_music_does(self):
        _, with_blur = self.frames("silence", 3, floating=0)
        _, without = self.frames("silence", 3, floating=0, radial_brightness=0)
        self.assertEqual(with_blur, without)
        _, loud = self.frames("constant:6", 3, floating=0)
        # The rays reach far beyond the sphere.
        self.assertGreater(brightness(loud[2], 0, 150, 100, 234), brightness(without[2], 0, 150, 100, 234) + 2)

    def test_the_picture_streams_outward(self):
        # In silence there are no rays: what grows is the previous frames, zoomed once more each time.
        _, frames = self.frames("silence", 8, floating=0)
        counts = [lit(f) for f in frames]
        self.assertEqual(counts, sorted(set(counts)), counts)
        self.assertGreater(counts[-1], counts[0] * 1.1, counts)

    def test_many_spheres(self):
        run, frames = self.frames("constant:5", 2, sphere_count=256)
        self.assertEqual(run.of("message_box"), [])
        self.assertGreater(lit(frames[1]), 512 * 384 // 3)

    def test_frames_match_the_references(self):
        """Small pictures of the whole look; a change of the program, the assets or the renderer
        shows here first. Tolerances absorb llvmpipe's rounding across versions."""
        cases = [("quiet", "constant:2", dict(width=160, height=120)),
                 ("loud", "constant:10", dict(width=160, height=120, rotating=1)),
                 ("several", "constant:5", dict(width=160, height=120, sphere_count=5))]
        for name, spectrum, changes in cases:
            run, frames = self.frames(spectrum, 4, **changes)
            reference = os.path.join(REFERENCE, name + ".png")
            captured = run.path("shots", sorted(os.listdir(run.path("shots")))[-1])
            if os.environ.get("HALCYON_UPDATE_REFERENCES") == "1":
                shutil.copy(captured, reference)
            _, _, expected = read_png(reference)
            differences = [abs(a - b) for got_row, want_row in zip(frames[-1], expected)
                           for got, want in zip(got_row, want_row) for a, b in zip(got[:3], want[:3])]
            self.assertLess(sum(differences) / len(differences), 1.5, name)
            self.assertLess(sorted(differences)[int(len(differences) * 0.99)], 24, name)


class ManyStartsTest(HostTestCase):
    def test_a_hundred_starts_draw_the_same_first_frames_and_keep_nothing(self):
        run = self.host(PRODUCT_DLL, CLOCK + ["--cycles", "100", "--frames", "2", "--capture", "shots",
                                              "--spectrum", "constant:5"],
                        assets=True, files=options_file(width=128, height=96), timeout=400)
        self.assertEqual([e["result"] for e in run.of("init")], [0] * 100)
        means = [c["mean_rgb"] for c in run.of("capture")]
        self.assertEqual(len(means), 200)
        self.assertEqual(means[0::2], [means[0]] * 100)
        self.assertEqual(means[1::2], [means[1]] * 100)
        self.assertNotEqual(means[0], means[1])
        # After the first starts have warmed everything up, nothing grows.
        self.assertEqual(leak_growth(run.of("quit")), {})


if __name__ == "__main__":
    unittest.main()
