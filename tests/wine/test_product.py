"""vis_halcyonsphere.dll as built: its exports and imports, and what it does in the host."""

import os
import re
import subprocess
import unittest

from harness import ASSET_FOLDER, PRODUCT_DLL, HostTestCase
import _windows_build  # noqa: E402  (the scripts' folder is on the path through harness)

DEFAULT_OPTIONS = bytes.fromhex(
    "00020000 80010000 00000000 01000000 00000000 00000000 00000000"
    "00020000 80010000 00030000 01000000 01000000 00000000 02000000")
OPTIONS_FILE = ASSET_FOLDER + "/useropt.cfg"
# Not COMCTL32: the player registers the common controls the options dialog uses, and the
# dialog only sends the sliders messages.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll", "glu32.dll", "msvcrt.dll"}


def options_with(**fields):
    """The default options record with some 32-bit fields replaced, by byte offset name."""
    offsets = {"delay": 52, "width": 0, "height": 4, "fullscreen": 8}
    record = bytearray(DEFAULT_OPTIONS)
    for name, value in fields.items():
        record[offsets[name]:offsets[name] + 4] = value.to_bytes(4, "little", signed=True)
    return bytes(record)


class BinaryTest(unittest.TestCase):
    """The files themselves, read without running them, so checked on any machine: the product
    (i686, PE32) and its x86_64 twin (PE32+) the same in what a player sees."""

    def dumps(self):
        for build, pe_format in (("i686", "pei-i386"), ("x86_64", "pei-x86-64")):
            path = os.path.join(_windows_build.BUILDS[build].folder, "bin", PRODUCT_DLL)
            self.assertTrue(os.path.exists(path), "not built: " + path)
            self.assertEqual(_windows_build.pe_build(path), (build, None))
            dump = subprocess.run(["%s-w64-mingw32-objdump" % build, "-p", path], check=True,
                                  stdout=subprocess.PIPE, text=True).stdout
            self.assertIn("file format " + pe_format, dump.split("\n\n", 2)[0], path)
            yield build, dump

    def test_one_undecorated_export(self):
        for build, dump in self.dumps():
            table = dump.split("[Ordinal/Name Pointer] Table", 1)
            self.assertEqual(len(table), 2, "no export name table in the %s DLL" % build)
            names = re.findall(r"^\s+\[\s*\d+\]\s+(\S+)\s*$", table[1].split("\n\n", 1)[0], re.M)
            self.assertEqual(names, ["winampVisGetHeader"], build)

    def test_imports_only_system_dlls(self):
        for build, dump in self.dumps():
            imports = [name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)]
            self.assertIn("kernel32.dll", imports)
            foreign = [n for n in imports if n not in SYSTEM_DLLS and not n.startswith("api-ms-win-crt-")]
            self.assertEqual(foreign, [], "imports beyond the system DLLs in the %s DLL" % build)


class ModuleRecordTest(HostTestCase):
    def test_header_and_module(self):
        run = self.host(PRODUCT_DLL, ["--frames", "0", "--no-embed"], assets=True, expect_status=1)  # Init refuses
        loaded = run.events[0]
        self.assertEqual(loaded["event"], "loaded", run.describe())
        self.assertEqual((loaded["header_version"], loaded["description"]), (0x101, "Halcyonsphere"))
        self.assertEqual(loaded["module_description"], "Halcyonsphere")
        self.assertTrue(loaded["module0_same"])
        self.assertTrue(loaded["module1_null"])
        self.assertTrue(loaded["module_minus1_null"])
        self.assertEqual((loaded["latency_ms"], loaded["delay_ms"]), (25, 25))
        self.assertEqual((loaded["spectrum_channels"], loaded["waveform_channels"]), (2, 0))
        self.assertTrue(loaded["user_data_null"])


class StartTest(HostTestCase):
    def test_first_init_writes_default_options(self):
        run = self.host(PRODUCT_DLL, ["--frames", "2"], assets=True)
        with open(run.path(OPTIONS_FILE), "rb") as f:
            self.assertEqual(f.read(), DEFAULT_OPTIONS)
        [probe] = [e for e in run.of("host_message") if e["lparam"] == 505]
        self.assertEqual((probe["phase"], probe["wparam"]), ("init", 0))

    def test_old_player_is_refused(self):
        run = self.host(PRODUCT_DLL, ["--no-embed"], assets="empty", expect_status=1)
        box = run.one("message_box")
        self.assertEqual((box["caption"], box["text"]), ("Halcyonsphere", "This plugin requires Winamp 5.0+"))
        self.assertEqual((box["buttons"], box["owner_is_parent"], box["phase"]), (["ok"], True, "init"))
        self.assertEqual(run.one("init")["result"], 1)
        # No window was made, and the options file was written before the probe.
        self.assertEqual([e["lparam"] for e in run.of("host_message")], [505])
        with open(run.path(OPTIONS_FILE), "rb") as f:
            self.assertEqual(f.read(), DEFAULT_OPTIONS)

    def test_delay_option_sets_module_delay(self):
        for delay, expected in ((0, 0), (1, 14), (2, 25), (5, 25), (7, 25)):
            run = self.host(PRODUCT_DLL, ["--no-embed"], files={OPTIONS_FILE: options_with(delay=delay)},
                            expect_status=1)
            self.assertEqual(run.one("init")["delay_ms"], expected, "delay option %d" % delay)

    def test_no_asset_folder_is_no_failure(self):
        run = self.host(PRODUCT_DLL, ["--no-embed"], expect_status=1)
        self.assertEqual(run.one("message_box")["text"], "This plugin requires Winamp 5.0+")
        self.assertFalse(os.path.exists(run.path(ASSET_FOLDER)))


class QuitTest(HostTestCase):
    def test_quit_withdraws_the_render_window(self):
        run = self.host(PRODUCT_DLL, ["--frames", "2", "--quit-after-failed-init"], assets=True)
        quit_messages = [e for e in run.of("host_message") if e["phase"] == "quit"]
        self.assertEqual([(e["lparam"], e["wparam"]) for e in quit_messages], [(611, 0)], run.describe())
        self.assertEqual(run.names()[-2:], ["quit", "end"])

    def test_render_after_quit_does_nothing(self):
        run = self.host(PRODUCT_DLL, ["--frames", "1", "--render-after-quit", "3"], assets=True)
        late = [e for e in run.of("frame") if e.get("after_quit")]
        self.assertEqual([e["result"] for e in late], [0, 0, 0], run.describe())
        self.assertEqual(run.of("message_box"), [])


if __name__ == "__main__":
    unittest.main()
