"""Runs the stand-alone host under Wine and reads what it logged.

Each run gets a fresh temporary folder holding a copy of the visualization DLL (and whatever
files the test puts beside it); the host writes its JSON lines to a file there.

Inside `./halcyon test` the Wine session (Xvfb, the test run's own prefix, one wineserver) is
already up (HALCYON_WINE_SESSION names its prefix). Run directly, for debugging, the harness
starts a session of its own, as every run does (scripts/_wine.py):

    python3 tests/wine/harness.py minimal_vis.dll --frames 3      # one run, events printed
    cd tests/wine && python3 -m unittest -v test_host              # a test file

The host and DLLs come from the Windows build this machine runs (i686, or x86_64 where it runs
no 32-bit code; HALCYON_WINDOWS_BUILD forces one, HALCYON_WIN32_DIR and HALCYON_WIN64_DIR name their
folders). HALCYON_KEEP_RUNS=1 keeps the run folders for a look afterwards.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import zlib

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "scripts"))
import _run  # noqa: E402  (the scripts' run and Wine session, shared)
import _windows_build  # noqa: E402
import _wine  # noqa: E402
from _host_run import DEFAULT_OPTIONS as DEFAULT_RECORD, OPTION_FIELDS, Failure, plugin_build  # noqa: E402
BUILD = _windows_build.chosen()  # the build whose host and DLLs run
BIN = os.path.join(BUILD.folder, "bin")
HOST = os.path.join(BIN, "halcyon_host.exe")
# The product as shipped, the i686 build, whatever runs here: the checks of the file itself.
WIN32_DIR = _windows_build.PRODUCT_BUILD.folder
PRODUCT_BIN = os.path.join(WIN32_DIR, "bin")
# Whether the i686 build runs here: a machine that runs 32-bit code, with 32-bit Wine installed.
RUNS_32BIT_CODE = BUILD.name == "i686" or _windows_build.i686_runs()[0] is not False
PRODUCT_DLL = "vis_halcyonsphere.dll"
ASSET_FOLDER = "vis_halcyonsphere_assets"
EVENTS_FILE = "events.jsonl"
RUN_TIMEOUT = 90  # seconds; a run normally takes 2-5 s once the prefix exists

_sessions = set()  # the builds this process has Wine ready for

# The options file: fourteen little-endian 32-bit fields in this order, and their defaults.
DEFAULT_OPTIONS = dict(zip(OPTION_FIELDS, struct.unpack("<14i", DEFAULT_RECORD)))


def options_record(**changes):
    """The 56 bytes of useropt.cfg: the defaults with the named fields changed."""
    values = dict(DEFAULT_OPTIONS, **changes)
    return b"".join(values[name].to_bytes(4, "little", signed=True) for name in OPTION_FIELDS)


def windows_path(path):
    """The Wine name of a Unix path (drive Z: maps the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_session(build=None):
    """Makes sure Wine can run the build (by default the one that runs here): inside the caller's
    session (./halcyon test), or in one of this process's own (a private display, a prefix of its
    own), ended when the process ends."""
    build = build or BUILD
    if build.name in _sessions:
        return
    if not _wine.nested_session(build):
        _wine.start_session(_run.begin("tests"), build=build)
    _sessions.add(build.name)


class HostRun:
    """One finished host run: its events, exit status, output and folder."""

    def __init__(self, folder, dll, returncode, stdout, stderr, timed_out):
        self.folder = folder
        self.dll = dll
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out
        self.events = read_events(os.path.join(folder, EVENTS_FILE))

    def of(self, name):
        return [e for e in self.events if e["event"] == name]

    def one(self, name):
        found = self.of(name)
        if len(found) != 1:
            raise AssertionError("expected one %r event, got %d:\n%s" % (name, len(found), self.describe()))
        return found[0]

    def names(self):
        return [e["event"] for e in self.events]

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def minimal_log(self):
        """minimal_vis.log (beside the DLL) as (word, {key: value}) pairs."""
        return read_minimal_log(os.path.join(os.path.dirname(self.dll), "minimal_vis.log"))

    def describe(self):
        lines = ["host exit %r%s, folder %s" % (self.returncode, " (timed out)" if self.timed_out else "", self.folder)]
        lines += [json.dumps(e) for e in self.events]
        if self.stderr.strip():
            lines.append("stderr: " + self.stderr.strip()[-2000:])
        return "\n".join(lines)


def read_events(path):
    """The JSON lines of a host log; a torn last line (a killed run) is dropped."""
    if not os.path.exists(path):
        return []
    events = []
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n"):
            if not raw.strip():
                continue
            try:
                events.append(json.loads(raw.decode("ascii")))
            except ValueError:
                break
    return events


def read_minimal_log(path):
    entries = []
    if not os.path.exists(path):
        return entries
    with open(path, "r", encoding="latin-1") as f:
        for line in f:
            words = line.split()
            if words:
                entries.append((words[0], dict(w.split("=", 1) for w in words[1:] if "=" in w)))
    return entries


def text_bytes(value):
    """The bytes behind a text field of an event (the host writes each byte as one code point)."""
    return value.encode("latin-1")


def leak_growth(quits, warm_up=10):
    """The figures of the quit events that grew from the end of the warm-up to the last stop by
    more than a steady process varies, with their growth; empty when nothing leaked. Wine itself
    now and then keeps a GDI object more (a busy machine showed one), far below one per start."""
    first, last = quits[warm_up - 1], quits[-1]
    limits = {"working_set": 4 << 20, "gdi_objects": 10, "windows": 0}
    return {name: last[name] - first[name] for name, limit in limits.items() if last[name] - first[name] > limit}


def copy_assets(folder, full=True):
    """The product's asset folder in a run folder; never the options file, so a run starts
    from the defaults unless the test writes one."""
    target = os.path.join(folder, ASSET_FOLDER)
    os.makedirs(target, exist_ok=True)
    source = os.path.join(BIN, ASSET_FOLDER)
    if full and os.path.isdir(source):
        for name in os.listdir(source):
            path = os.path.join(source, name)
            if name != "useropt.cfg" and os.path.isfile(path):
                shutil.copy2(path, os.path.join(target, name))
    return target


def _unfilter(kind, line, previous, bpp=4):
    """One PNG row undone from its filter (types 0-4)."""
    out = bytearray(line)
    for i in range(len(out)):
        a = out[i - bpp] if i >= bpp else 0
        b = previous[i]
        c = previous[i - bpp] if i >= bpp else 0
        if kind == 1:
            out[i] = (out[i] + a) & 255
        elif kind == 2:
            out[i] = (out[i] + b) & 255
        elif kind == 3:
            out[i] = (out[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            out[i] = (out[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        elif kind != 0:
            raise ValueError("unknown row filter %d" % kind)
    return out


def read_png(path):
    """(width, height, rows) of an 8-bit RGBA PNG as the host writes it; rows of (r, g, b, a)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG: " + path)
    at, width, height, packed = 8, 0, 0, b""
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
        if zlib.crc32(kind + body) != int.from_bytes(data[at + 8 + length:at + 12 + length], "big"):
            raise ValueError("bad chunk checksum in " + path)
        if kind == b"IHDR":
            width, height = int.from_bytes(body[0:4], "big"), int.from_bytes(body[4:8], "big")
            if body[8:13] != b"\x08\x06\x00\x00\x00":
                raise ValueError("not 8-bit RGBA: " + path)
        elif kind == b"IDAT":
            packed += body
        at += 12 + length
    raw = zlib.decompress(packed)
    stride = width * 4 + 1
    rows, previous = [], bytearray(width * 4)
    for y in range(height):
        line = _unfilter(raw[y * stride], raw[y * stride + 1:(y + 1) * stride], previous)
        rows.append([tuple(line[4 * x:4 * x + 4]) for x in range(width)])
        previous = line
    return width, height, rows


def make_folder():
    return tempfile.mkdtemp(prefix="halcyon-wine-")


def remove_folder(folder):
    if os.environ.get("HALCYON_KEEP_RUNS") != "1":
        shutil.rmtree(folder, ignore_errors=True)


def run_host(dll, args=(), folder=None, files=None, assets=False, timeout=RUN_TIMEOUT, dll_arg=None, in_place=False,
             build=None, feed=None):
    """Runs halcyon_host.exe of the build (by default the one that runs here) on a copy of its
    bin/dll in folder (a fresh one when None).

    files: {relative name: bytes or str, or None to remove it} written beside the DLL first (after the assets);
    assets: True copies the build's asset folder beside the DLL, "empty" makes an empty one; dll_arg: what
    --dll names instead of the copy (a Windows path); in_place: dll is a path, run where it lies (folder
    holds only the run's own files); feed: the host's stdin is a pipe, and feed(pipe, events path) writes it
    on a thread of its own (the pipe is closed after). The caller removes the folder (remove_folder)."""
    build = build or BUILD
    ensure_session(build)
    folder = folder or make_folder()
    target = dll if in_place else os.path.join(folder, os.path.basename(dll))
    if in_place:
        dll_arg = dll_arg or windows_path(dll)
    elif not os.path.exists(target):
        shutil.copy2(os.path.join(build.folder, "bin", dll), target)
    if assets:
        copy_assets(folder, full=assets != "empty")
    for name, content in (files or {}).items():
        path = os.path.join(folder, name)
        if content is None:
            if os.path.exists(path):
                os.remove(path)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content.encode("latin-1") if isinstance(content, str) else content)
    events_path = os.path.join(folder, EVENTS_FILE)
    if os.path.exists(events_path):
        os.remove(events_path)
    command = [build.loader, os.path.join(build.folder, "bin", "halcyon_host.exe"),
               "--dll", dll_arg or windows_path(target), "--log", windows_path(events_path)]
    command += [str(a) for a in args]
    # Output goes to files, not pipes: Wine's helper processes (services, explorer) started by
    # the first run of a session inherit the handles and would hold a pipe open for good.
    timed_out = False
    with open(os.path.join(folder, "stdout.txt"), "wb") as out, \
            open(os.path.join(folder, "stderr.txt"), "wb") as err:
        process = subprocess.Popen(command, cwd=folder, stdin=subprocess.PIPE if feed else subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        feeder = None
        if feed:
            def write_stdin():
                try:
                    feed(process.stdin, events_path)
                except BrokenPipeError:  # the host stopped reading
                    pass
                finally:
                    try:
                        process.stdin.close()
                    except BrokenPipeError:
                        pass
            feeder = threading.Thread(target=write_stdin, daemon=True)
            feeder.start()
        try:
            returncode = process.wait(timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            returncode = None
            process.kill()
            process.wait()
        if feeder:
            feeder.join(10)
    with open(os.path.join(folder, "stdout.txt"), "rb") as f:
        stdout = f.read()
    with open(os.path.join(folder, "stderr.txt"), "rb") as f:
        stderr = f.read()
    return HostRun(folder, target, returncode, stdout.decode("latin-1"), stderr.decode("latin-1"), timed_out)


class HostTestCase(unittest.TestCase):
    """A test case whose runs are checked for a clean finish and cleaned up afterwards."""

    def host(self, dll, args=(), expect_status=0, **options):
        run = run_host(dll, args, **options)
        self.addCleanup(remove_folder, run.folder)
        self.assertFalse(run.timed_out, run.describe())
        if expect_status is not None:
            self.assertEqual(run.returncode, expect_status, run.describe())
        return run


def main(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print("usage: harness.py DLL [host arguments...]   (DLL: a path, run where it lies, or a name in %s)" % BIN)
        return 2
    in_place = os.path.isfile(argv[1])  # another plug-in runs where it lies, beside its own files
    if not in_place and (os.sep in argv[1] or not os.path.isfile(os.path.join(BIN, argv[1]))):
        sys.stderr.write("halcyon host: no such plug-in: %s (give a DLL's path, or a name in %s)\n" % (argv[1], BIN))
        return 1
    try:
        try:
            if in_place:  # by the host of the plug-in's own architecture
                run = run_host(os.path.abspath(argv[1]), argv[2:], in_place=True, build=plugin_build(argv[1]))
            else:
                run = run_host(argv[1], argv[2:], assets=argv[1] == PRODUCT_DLL)
            print(run.describe())
            for word, fields in run.minimal_log():
                print("minimal_vis:", word, fields)
            remove_folder(run.folder)
        finally:
            _run.close()
    except (_wine.WineError, Failure) as error:
        sys.stderr.write("halcyon host: %s\n" % error)
        return 1
    except KeyboardInterrupt:
        sys.stderr.write("\nhalcyon host: interrupted.\n")
        return 130
    return 0 if run.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
