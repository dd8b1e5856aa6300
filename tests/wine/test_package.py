"""The release packages: what the installer and the zip hold and the version they and the DLL
carry (read from the files, so checked on any machine), and the installer run silently under Wine
(install, upgrade, uninstall, the player's folder or the default one), where the machine runs its
32-bit code."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

from harness import (ASSET_FOLDER, PRODUCT_BIN, PRODUCT_DLL, REPO, RUNS_32BIT_CODE, WIN32_DIR, HostTestCase,
                     ensure_session, make_folder, remove_folder, windows_path)

sys.path.insert(0, os.path.join(REPO, "installer"))
import make_packages  # noqa: E402
import _windows_build  # noqa: E402
import _wine  # noqa: E402

PRODUCT_BUILD = _windows_build.PRODUCT_BUILD

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Halcyonsphere"
PLAYER_KEY = r"HKCU\Software\Winamp"
PLAYER_UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
UNINSTALLER = "uninstall_halcyonsphere.exe"
CHANGED_OPTIONS = bytes(range(56))


def build_version():
    with open(os.path.join(WIN32_DIR, "CMakeCache.txt")) as f:
        return re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(\S+)$", f.read(), re.M).group(1)


def wine(*args):
    """(exit status, output) of a Wine command; output through a file, as the harness does."""
    with tempfile.TemporaryFile() as out:
        status = subprocess.run([_wine.loader()] + list(args), stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, timeout=120).returncode
        out.seek(0)
        return status, out.read().decode("latin-1")


def registry_value(key, name):
    status, output = wine("reg", "query", key, "/v", name)
    found = re.search(r"^\s*%s\s+REG_\w+\s+(.*?)\s*$" % re.escape(name), output, re.M)
    return found.group(1) if status == 0 and found else None


def tree(folder):
    """Every file under folder: {relative path: bytes}."""
    files = {}
    for at, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(at, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder).replace(os.sep, "/")] = f.read()
    return files


def shipped_assets():
    """The build's asset folder as a package should hold it: everything but the options file."""
    files = tree(os.path.join(PRODUCT_BIN, ASSET_FOLDER))
    files.pop("useropt.cfg", None)
    return {ASSET_FOLDER + "/" + name: data for name, data in files.items()}


def uninstall(plugins):
    """Runs the installed uninstaller silently and waits for it: from a copy, with _?=, as the
    installer does on an upgrade (started plainly, it hands over to a copy and returns at once).
    _?= takes the rest of the command line unquoted, which only cmd passes on as it is."""
    scratch = make_folder()
    try:
        copy = os.path.join(scratch, "uninstall.exe")
        shutil.copy2(os.path.join(plugins, UNINSTALLER), copy)
        return wine("cmd", "/c", "%s /S _?=%s" % (windows_path(copy), windows_path(plugins)))
    finally:
        remove_folder(scratch)


def make_release(case):
    """The packages of the build, made into a folder of the test class's own."""
    case.version = build_version()
    case.out = make_folder()
    # A build folder where the plug-in once ran: its options file must not be shipped.
    bin_copy = os.path.join(case.out, "bin")
    shutil.copytree(os.path.join(PRODUCT_BIN, ASSET_FOLDER), os.path.join(bin_copy, ASSET_FOLDER))
    shutil.copy2(os.path.join(PRODUCT_BIN, PRODUCT_DLL), bin_copy)
    with open(os.path.join(bin_copy, ASSET_FOLDER, "useropt.cfg"), "wb") as f:
        f.write(bytes(56))
    case.installer, case.archive = make_packages.make_packages(case.version, bin_copy, case.out)
    with open(os.path.join(PRODUCT_BIN, PRODUCT_DLL), "rb") as f:
        case.built_dll = f.read()


class PackageContentsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        make_release(cls)

    @classmethod
    def tearDownClass(cls):
        remove_folder(cls.out)

    def test_one_version_everywhere(self):
        self.assertEqual(os.path.basename(self.installer), "halcyonsphere-%s-setup.exe" % self.version)
        self.assertEqual(os.path.basename(self.archive), "halcyonsphere-%s.zip" % self.version)
        numbers = ", ".join(self.version.split(".")) + ", 0"
        for path, description in ((os.path.join(PRODUCT_BIN, PRODUCT_DLL), "Halcyonsphere"),
                                  (self.installer, "Halcyonsphere %s setup" % self.version)):
            resources = subprocess.run(["i686-w64-mingw32-windres", "-i", path, "-O", "rc"], check=True,
                                       stdout=subprocess.PIPE, text=True).stdout
            self.assertIn("FILEVERSION " + numbers, resources, path)
            for name, value in (("FileVersion", self.version), ("ProductVersion", self.version),
                                ("ProductName", "Halcyonsphere"), ("FileDescription", description)):
                self.assertIn('VALUE "%s", "%s"' % (name, value), resources, path)

    def test_the_installer_and_the_zip_hold_the_32bit_plugin_and_its_assets(self):
        # What the installer would write, read out of it as 7-Zip reads NSIS archives.
        unpacked = make_folder()
        self.addCleanup(remove_folder, unpacked)
        subprocess.run(["7z", "x", "-y", "-o" + unpacked, self.installer], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL)
        payload = {name: data for name, data in tree(unpacked).items() if not name.startswith("$PLUGINSDIR/")}
        self.assertEqual(payload.pop("Plugins/" + PRODUCT_DLL), self.built_dll)
        self.assertTrue(payload.pop("Plugins/" + UNINSTALLER).startswith(b"MZ"))
        self.assertEqual(payload, {"Plugins/" + name: data for name, data in shipped_assets().items()})

        # The zip holds the same files, for the same Plugins folder.
        with zipfile.ZipFile(self.archive) as z:
            self.assertIsNone(z.testzip())
            packed = {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
        self.assertEqual(packed.pop(PRODUCT_DLL), self.built_dll)
        readme = packed.pop(make_packages.README)
        licence = packed.pop(make_packages.LICENCE)
        self.assertEqual(packed, shipped_assets())
        for text in (readme, licence):
            self.assertNotIn(b"\n", text.replace(b"\r\n", b""), "read by Notepad: CRLF line ends")
        self.assertIn(b"Halcyonsphere " + self.version.encode(), readme)
        self.assertIn(b"MIT License", licence)


# One class: the install tests share the prefix's registry keys, so they must not run in parallel.
# The installer is a 32-bit program, run in a 32-bit prefix whatever build the other tests run.
@unittest.skipUnless(RUNS_32BIT_CODE, "the installer is a 32-bit program and this machine runs no 32-bit code; "
                                      "PackageContentsTest checks what it holds instead")
class PackageTest(HostTestCase):
    @classmethod
    def setUpClass(cls):
        ensure_session(PRODUCT_BUILD)
        make_release(cls)

    @classmethod
    def tearDownClass(cls):
        remove_folder(cls.out)

    def setUp(self):
        # Whatever an install does, the shared prefix is left as it was found.
        self.default = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files", "Winamp")
        if not os.path.exists(self.default):
            self.addCleanup(shutil.rmtree, self.default, True)
        if wine("reg", "query", UNINSTALL_KEY)[0] != 0:
            self.forget_key(UNINSTALL_KEY)

    def forget_key(self, key):
        self.addCleanup(wine, "reg", "delete", key, "/f")

    def test_install_run_upgrade_uninstall_in_the_players_folder(self):
        root = make_folder()
        self.addCleanup(remove_folder, root)
        player = os.path.join(root, "Winamp")
        plugins = os.path.join(player, "Plugins")
        os.makedirs(plugins)
        # The player's own ini is where the host finds it for the plug-ins, and stays as it is.
        theirs = {"winamp.exe": b"MZ player", "winamp.ini": b"[Winamp]\r\n",
                  "Plugins/vis_other.dll": b"MZ another plug-in"}
        for name, data in theirs.items():
            with open(os.path.join(player, name), "wb") as f:
                f.write(data)
        self.forget_key(PLAYER_KEY)
        self.assertEqual(wine("reg", "add", PLAYER_KEY, "/ve", "/d", windows_path(player), "/f")[0], 0)

        status, output = wine(self.installer, "/S")
        self.assertEqual(status, 0, output)
        installed = tree(player)
        self.assertEqual(installed.pop("Plugins/" + PRODUCT_DLL), self.built_dll)
        self.assertIn("Plugins/" + UNINSTALLER, installed)
        expected = {"Plugins/" + name: data for name, data in shipped_assets().items()}
        expected.update(theirs)
        installed.pop("Plugins/" + UNINSTALLER)
        self.assertEqual(installed, expected)
        self.assertEqual(registry_value(UNINSTALL_KEY, "DisplayVersion"), self.version)
        self.assertEqual(registry_value(UNINSTALL_KEY, "InstallLocation"), windows_path(plugins))
        self.assertEqual(registry_value(UNINSTALL_KEY, "QuietUninstallString"),
                         '"%s\\%s" /S' % (windows_path(plugins), UNINSTALLER))

        # The player's host runs the installed DLL, which finds its assets and writes its options there.
        options = os.path.join(plugins, ASSET_FOLDER, "useropt.cfg")
        run = self.host(PRODUCT_DLL, ["--frames", "3"], dll_arg=windows_path(os.path.join(plugins, PRODUCT_DLL)),
                        build=PRODUCT_BUILD)
        self.assertEqual(run.one("init")["result"], 0, run.describe())
        self.assertEqual([e["result"] for e in run.of("frame")], [0, 0, 0], run.describe())
        self.assertEqual(run.of("message_box"), [], run.describe())
        self.assertEqual(os.path.getsize(options), 56)

        # An upgrade keeps the user's options and files.
        mine = os.path.join(plugins, ASSET_FOLDER, "modeloffsets.txt")
        for path, data in ((options, CHANGED_OPTIONS), (mine, b"(0 0 0) (1 1 1)")):
            with open(path, "wb") as f:
                f.write(data)
        status, output = wine(self.installer, "/S")
        self.assertEqual(status, 0, output)
        self.assertEqual(tree(os.path.join(plugins, ASSET_FOLDER))["useropt.cfg"], CHANGED_OPTIONS)
        self.assertIn("Plugins/" + PRODUCT_DLL, tree(player))

        status, output = uninstall(plugins)
        self.assertEqual(status, 0, output)
        left = dict(theirs)
        left["Plugins/%s/useropt.cfg" % ASSET_FOLDER] = CHANGED_OPTIONS
        left["Plugins/%s/modeloffsets.txt" % ASSET_FOLDER] = b"(0 0 0) (1 1 1)"
        self.assertEqual(tree(player), left)
        self.assertIsNone(registry_value(UNINSTALL_KEY, "DisplayName"))

    def test_without_a_player_installs_into_the_default_folder(self):
        for key in (PLAYER_KEY, PLAYER_UNINSTALL_KEY, UNINSTALL_KEY):
            self.assertEqual(wine("reg", "query", key)[0], 1, "the prefix already has " + key)
        default = self.default
        self.assertFalse(os.path.exists(default), "the prefix already has " + default)

        status, output = wine(self.installer, "/S")
        self.assertEqual(status, 0, output)
        self.assertEqual(set(tree(default)), {"Plugins/" + PRODUCT_DLL, "Plugins/" + UNINSTALLER} |
                         {"Plugins/" + name for name in shipped_assets()})
        self.assertEqual(registry_value(UNINSTALL_KEY, "InstallLocation"), r"C:\Program Files\Winamp\Plugins")
        # Setup made the folders for the plug-in alone; the uninstaller takes them away again.
        self.assertEqual(uninstall(os.path.join(default, "Plugins"))[0], 0)
        self.assertFalse(os.path.exists(default))


if __name__ == "__main__":
    unittest.main()
