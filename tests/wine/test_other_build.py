"""The Windows build this machine does not run by default, briefly, so that neither build rots:
where the machine runs both, a two-second render of our plug-in and one host run of each test
plug-in through the other build, each in a Wine session of that build's own."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import BUILD, PRODUCT_DLL, RUNS_32BIT_CODE, HostTestCase
from test_render import VIDEO, decoded_frames, probe, write_clip
import _windows_build  # noqa: E402  (the scripts' folder is on the path through harness)

OTHER = _windows_build.BUILDS["x86_64" if BUILD.name == "i686" else "i686"]


@unittest.skipUnless(RUNS_32BIT_CODE, "this machine runs no 32-bit code, so only the x86_64 build runs here")
class OtherBuildTest(HostTestCase):
    def test_a_render_and_each_test_plugin(self):
        folder = tempfile.mkdtemp(prefix="halcyon-other-build-")
        self.addCleanup(shutil.rmtree, folder, True)
        clip, video = os.path.join(folder, "clip.wav"), os.path.join(folder, "clip.mp4")
        write_clip(clip)
        result = subprocess.run([sys.executable, VIDEO, "render", clip, "--out", video, "--size", "320x240",
                                 "--wine"],
                                env=dict(os.environ, HALCYON_WINDOWS_BUILD=OTHER.name), capture_output=True,
                                text=True, timeout=300, cwd=folder)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(probe(video, "v:0", "nb_read_frames")["nb_read_frames"], "60")
        frames = decoded_frames(video, 320, 240)
        self.assertGreater(max(frames[-1]), 100, "the last frame of the %s build is dark" % OTHER.name)

        for dll, args, assets in ((PRODUCT_DLL, ["--frames", "3"], True), ("minimal_vis.dll", ["--frames", "3"], False)):
            run = self.host(dll, args, assets=assets, build=OTHER)
            self.assertEqual(run.one("init")["result"], 0, run.describe())
            self.assertEqual([e["result"] for e in run.of("frame")], [0, 0, 0], run.describe())
        run = self.host("noexport_vis.dll", [], build=OTHER, expect_status=None)
        self.assertEqual([e.get("what") for e in run.of("error")], ["export_missing"], run.describe())


if __name__ == "__main__":
    unittest.main()
