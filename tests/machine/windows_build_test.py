"""The choice of Windows build: the i386 probe read, the choice with and without HALCYON_WINDOWS_BUILD,
the probe on this machine and under a filter that kills 32-bit code, and the PE header of a plug-in.

    windows_build_test.py WITHOUT_32BIT_CODE   (the filter program of this folder, built)
"""

import errno
import os
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import _windows_build as wb  # noqa: E402

WITHOUT_32BIT = None


class ProbeTest(unittest.TestCase):
    def test_what_the_probe_did(self):
        for outcome, runs in ((wb.PROBE_EXIT, True),
                              (OSError(errno.ENOEXEC, "Exec format error"), False),
                              (-31, False),     # killed by SIGSYS
                              (-11, False),     # or by SIGSEGV
                              (0, False),       # something ran, but not the probe's code
                              (OSError(errno.EACCES, "Permission denied"), None),
                              (None, None)):    # never ended
            with self.subTest(outcome=outcome):
                answer, reason = wb.read_probe(outcome)
                self.assertIs(answer, runs)
                self.assertTrue(reason)

    def test_the_choice(self):
        yes, no, unknown = (lambda: (True, "runs")), (lambda: (False, "no 32-bit")), (lambda: (None, "no idea"))
        missing = "32-bit Wine could not be installed (held broken packages)"

        def never():
            raise AssertionError("a forced 64-bit build needs no probe")
        # asked, the probe, what the command's set-up check found of 32-bit Wine, the build, why not i686
        for asked, probe, wine32, build, why in (
                ("", yes, "", "i686", None), ("", no, "", "x86_64", "no 32-bit"),
                ("", unknown, "", "x86_64", "no idea"), ("", yes, missing, "x86_64", missing),
                ("", no, missing, "x86_64", "no 32-bit"), ("x86_64", never, "", "x86_64", None),
                ("i686", yes, "", "i686", None), ("i686", unknown, "", "i686", None)):
            with self.subTest(asked=asked, probe=probe()[1] if probe is not never else "none", wine32=wine32):
                environ = {wb.NO_WINE32_VARIABLE: wine32}
                if asked:
                    environ[wb.CHOICE_VARIABLE] = asked
                chosen, reason = wb.choose(environ, probe)
                self.assertEqual((chosen.name, reason), (build, why))
        for asked, probe, wine32 in (("i686", no, ""), ("i686", yes, missing), ("arm64", yes, ""), ("win32", yes, "")):
            with self.subTest(asked=asked, wine32=wine32), self.assertRaises(wb.ChoiceError) as caught:
                wb.choose({wb.CHOICE_VARIABLE: asked, wb.NO_WINE32_VARIABLE: wine32}, probe)
            self.assertIn(asked, str(caught.exception))
        # Outside a command, the 32-bit loader tells.
        self.assertEqual(wb.i686_runs({}, yes)[0], os.path.exists(wb.BUILDS["i686"].loader))

    def test_this_machine_and_one_without_32bit_code(self):
        self.assertIsNotNone(wb.runs_32bit_code()[0], wb.runs_32bit_code()[1])
        probe = wb.probe_path()
        with open(probe, "rb") as f:
            self.assertEqual(f.read(), wb.I386_PROBE)
        # The filter kills the probe at its first system call, as such a kernel refuses to start it.
        answer, reason = wb.read_probe(wb.run_probe(probe, wrapper=[WITHOUT_32BIT]))
        self.assertIs(answer, False, reason)
        # Where the kernel itself refuses i386 programs, the filter never gets to see one.
        if wb.runs_32bit_code()[0]:
            self.assertIn("SIGSYS", reason)


def pe_file(machine=0x14C, magic=0x10B, characteristics=0x2102, pe_offset=0x80, signature=b"PE\0\0", cut=None):
    """The first bytes of a PE file: a DOS header pointing at a PE header with these fields."""
    data = bytearray(b"MZ" + bytes(0x3A) + struct.pack("<I", pe_offset))
    data += bytes(pe_offset - len(data))
    data += signature + struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, 0xE0, characteristics) + struct.pack("<H", magic)
    data += bytes(0xE0)
    return bytes(data[:cut] if cut is not None else data)


class PeHeaderTest(unittest.TestCase):
    def test_plugins_by_their_header(self):
        cases = (
            ("i386 DLL", pe_file(), "i686", None),
            ("AMD64 DLL", pe_file(machine=0x8664, magic=0x20B), "x86_64", None),
            ("ARM64 DLL", pe_file(machine=0xAA64, magic=0x20B), None, "ARM64"),
            ("unknown machine", pe_file(machine=0x1234), None, "0x1234"),
            ("a program", pe_file(characteristics=0x0102), None, "not a DLL"),
            ("PE32+ header on i386", pe_file(magic=0x20B), None, "damaged"),
            ("no MZ", b"\x7fELF" + bytes(200), None, "no MZ header"),
            ("empty", b"", None, "no MZ header"),
            ("MZ header alone", pe_file(cut=40), None, "no MZ header"),
            ("cut in the PE header", pe_file(cut=0x80 + 10), None, "cut short"),
            ("pointer past the end", pe_file(pe_offset=0x80)[:0x40] + bytes(8), None, "cut short"),
            ("no PE signature", pe_file(signature=b"NE\0\0"), None, "no PE header"),
        )
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for label, data, build, why in cases:
            with self.subTest(label):
                path = os.path.join(folder, "plugin.dll")
                with open(path, "wb") as f:
                    f.write(data)
                name, reason = wb.pe_build(path)
                self.assertEqual(name, build, reason)
                if why:
                    self.assertIn(why, reason)
                    self.assertIn(path, reason)
        self.assertIn("cannot read", wb.pe_build(os.path.join(folder, "missing.dll"))[1])


if __name__ == "__main__":
    WITHOUT_32BIT = sys.argv.pop(1)
    unittest.main()
