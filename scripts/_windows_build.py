#!/usr/bin/env python3
"""Which Windows build runs here, and the Wine that runs it.

The product is the i686 DLL, and it is built everywhere. Beside it stands an x86_64 build of the
same sources (the DLL, the host, the test plug-ins, the floor program), for machines whose kernel
runs no 32-bit code: there the 32-bit Wine loader fails with "Exec format error", and only 64-bit
Wine runs. The kernel's configuration cannot be trusted to tell the two kinds apart (32-bit
emulation can be built in and switched off at boot), so a tiny i386 program is run and its fate
read. The x86_64 build also runs where 32-bit Wine is missing: its packages can fail to install
(lists missing, versions that do not match, a mirror mid-sync), and it is never required. Each
command chooses once, says so once when it takes the 64-bit path unasked, and hands the choice to
everything it starts through HALCYON_WINDOWS_BUILD, which also forces either build.

    python3 _windows_build.py choose      # prints i686 or x86_64, then why not i686 where it is not
    python3 _windows_build.py runs-32bit  # prints yes or no (for setup)
    python3 _windows_build.py pe DLL      # prints the build a DLL needs, or why it has none
"""

import errno
import os
import signal
import struct
import subprocess
import sys
from collections import namedtuple

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build")
CHOICE_VARIABLE = "HALCYON_WINDOWS_BUILD"
# Why 32-bit Wine cannot run the i686 build, empty when it can: what the command's set-up check
# found of its packages, handed down by the command.
NO_WINE32_VARIABLE = "HALCYON_NO_WINE32"

# folder: the CMake build folder (its programs in bin/); wine_arch: the prefix's WINEARCH; loader:
# the Wine loader to call directly, since Debian's wine and wineboot start the 32-bit loader
# whenever the 32-bit Wine is installed, runnable or not.
Build = namedtuple("Build", "name folder wine_arch loader")
BUILDS = {
    "i686": Build("i686", os.environ.get("HALCYON_WIN32_DIR") or os.path.join(BUILD, "win32"), "win32",
                  "/usr/lib/wine/wine"),
    "x86_64": Build("x86_64", os.environ.get("HALCYON_WIN64_DIR") or os.path.join(BUILD, "win64"), "win64",
                    "/usr/lib/wine/wine64"),
}
PRODUCT_BUILD = BUILDS["i686"]

# An i386 ELF executable of 96 bytes whose one job is exit(42): its header, one loadable segment,
# then mov eax, 1; mov ebx, 42; int 0x80. It needs no 32-bit library.
_PROBE_CODE = bytes([0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])
_PROBE_BASE = 0x08048000
_PROBE_HEADERS = 52 + 32
I386_PROBE = (b"\x7fELF\x01\x01\x01" + bytes(9)
              + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, _PROBE_BASE + _PROBE_HEADERS, 52, 0, 0, 52, 32, 1, 0, 0, 0)
              + struct.pack("<8I", 1, 0, _PROBE_BASE, _PROBE_BASE, _PROBE_HEADERS + len(_PROBE_CODE),
                            _PROBE_HEADERS + len(_PROBE_CODE), 5, 0x1000)
              + _PROBE_CODE)
PROBE_EXIT = 42


class ChoiceError(Exception):
    """The build asked for cannot be used here: one line for the user."""


def probe_path():
    """The probe program on disk, written once (atomically, so that runs started together agree)."""
    path = os.path.join(BUILD, "machine", "i386-exit-probe")
    try:
        with open(path, "rb") as f:
            if f.read() == I386_PROBE:
                return path
    except OSError:
        pass
    os.makedirs(os.path.dirname(path), exist_ok=True)
    partial = "%s.%d-%s" % (path, os.getpid(), os.urandom(4).hex())
    with open(partial, "wb") as f:
        f.write(I386_PROBE)
    os.chmod(partial, 0o755)
    os.replace(partial, path)
    return path


def run_probe(path, wrapper=()):
    """The probe's exit status (negative: the signal that ended it), or the OSError of its start."""
    try:
        return subprocess.run(list(wrapper) + [path], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10).returncode
    except OSError as error:
        return error
    except subprocess.TimeoutExpired:
        return None


def read_probe(outcome):
    """(True, False or None for cannot tell, the reason in words) from what the probe did."""
    if outcome == PROBE_EXIT:
        return True, "an i386 program runs here"
    if isinstance(outcome, OSError):
        if outcome.errno == errno.ENOEXEC:
            return False, "this machine's kernel runs no 32-bit code (an i386 program fails: Exec format error)"
        return None, "could not start an i386 test program (%s)" % (outcome.strerror or outcome)
    if isinstance(outcome, int) and outcome < 0:
        try:
            name = signal.Signals(-outcome).name
        except ValueError:
            name = "signal %d" % -outcome
        return False, "this machine runs no 32-bit code (an i386 program was ended by %s)" % name
    if outcome is None:
        return None, "an i386 test program did not end"
    return False, "this machine runs no 32-bit code (an i386 program that exits with %d exited with %d)" % (
        PROBE_EXIT, outcome)


def runs_32bit_code():
    try:
        path = probe_path()
    except OSError as error:
        return None, "could not write an i386 test program (%s)" % (error.strerror or error)
    return read_probe(run_probe(path))


def wine32_missing(environ):
    """Why 32-bit Wine is missing, or "" when it is installed: the command's set-up check knows
    (HALCYON_NO_WINE32); without it, the 32-bit loader tells."""
    why = environ.get(NO_WINE32_VARIABLE)
    if why is not None:
        return why
    loader = BUILDS["i686"].loader
    return "" if os.path.exists(loader) else "32-bit Wine is not installed (%s is missing)" % loader


def i686_runs(environ=None, probe=runs_32bit_code):
    """(True, False or None for cannot tell, the reason): whether the i686 build runs here, which
    takes a machine that runs 32-bit code and 32-bit Wine."""
    environ = os.environ if environ is None else environ
    runs, reason = probe()
    if runs:
        why = wine32_missing(environ)
        if why:
            return False, why
    return runs, reason


def choose(environ=None, probe=runs_32bit_code):
    """(the Build to run, why it is not the i686 one or None). HALCYON_WINDOWS_BUILD forces one;
    otherwise the i686 build where it runs, and the x86_64 build, with the reason, where the
    machine runs no 32-bit code, cannot tell, or lacks 32-bit Wine (64-bit Wine runs on both
    kinds)."""
    environ = os.environ if environ is None else environ
    asked = environ.get(CHOICE_VARIABLE, "")
    if asked and asked not in BUILDS:
        raise ChoiceError("%s=%s: give i686 or x86_64" % (CHOICE_VARIABLE, asked))
    if asked == "x86_64":
        return BUILDS["x86_64"], None
    runs, reason = i686_runs(environ, probe)
    if asked == "i686":
        if runs is False:
            raise ChoiceError("%s=i686 asks for the 32-bit Windows build, but %s" % (CHOICE_VARIABLE, reason))
        return BUILDS["i686"], None
    if runs:
        return BUILDS["i686"], None
    return BUILDS["x86_64"], reason


def chosen():
    """The Build this process runs: the one the command chose, or a choice made now."""
    build, _ = choose()
    return build


# PE machine types a host could be built for; only i386 and AMD64 have one.
_MACHINES = {0x014C: "i686", 0x8664: "x86_64", 0xAA64: "ARM64", 0x01C4: "ARM", 0x0200: "Itanium"}


def pe_build(path):
    """(the name of the build whose host runs this DLL, None) or (None, why it cannot be run).
    Reads the DOS header, the PE signature, the machine and the optional header's magic."""
    try:
        with open(path, "rb") as f:
            dos = f.read(64)
            if len(dos) < 64 or dos[:2] != b"MZ":
                return None, "%s is not a Windows DLL (no MZ header)" % path
            (pe_offset,) = struct.unpack_from("<I", dos, 0x3C)
            f.seek(pe_offset)
            headers = f.read(4 + 20 + 2)
    except OSError as error:
        return None, "cannot read %s: %s" % (path, error.strerror or error)
    if len(headers) < 26:
        return None, "%s is cut short: its PE header ends before its machine type" % path
    if headers[:4] != b"PE\0\0":
        return None, "%s is not a Windows DLL (no PE header where its MZ header points)" % path
    machine, = struct.unpack_from("<H", headers, 4)
    characteristics, = struct.unpack_from("<H", headers, 22)
    magic, = struct.unpack_from("<H", headers, 24)
    name = _MACHINES.get(machine)
    if name not in BUILDS:
        return None, "%s is a DLL for %s; plug-ins for 32-bit or 64-bit x86 Windows can run here" % (
            path, name or "machine type 0x%04X" % machine)
    if not characteristics & 0x2000:
        return None, "%s is a Windows program, not a DLL" % path
    if magic != {"i686": 0x10B, "x86_64": 0x20B}[name]:
        return None, "%s has a damaged PE header (its optional header does not match its machine)" % path
    return name, None


def main(argv):
    try:
        if argv[1:] == ["choose"]:
            build, reason = choose()
            print(build.name)
            if reason:
                print(reason)
            return 0
        if argv[1:] == ["runs-32bit"]:
            print("yes" if runs_32bit_code()[0] else "no")
            return 0
        if len(argv) == 3 and argv[1] == "pe":
            name, why = pe_build(argv[2])
            if name is None:
                sys.stderr.write("halcyon: %s\n" % why)
                return 1
            print(name)
            return 0
    except ChoiceError as error:
        sys.stderr.write("halcyon: %s\n" % error)
        return 1
    sys.stderr.write("usage: _windows_build.py choose | runs-32bit | pe DLL\n")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
