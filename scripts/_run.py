"""The one owner of what a command starts: every child process and temporary path of a run.

A command's process has one Run. It lives in a folder of its own under build/runs/, which holds
its record (run.json: the children with their start times, the Wine prefixes and the temporary
paths it made) and a lock held for the run's life. However the command ends (its return, a
failure, Ctrl-C, SIGTERM, a closed terminal), close() undoes what the run did, newest first, with
further signals held off until it is done. A run killed outright (kill -9) cannot clean up: its
children die with it where the kernel allows (PR_SET_PDEATHSIG), and the next run to start finds
the folder's lock free and ends whatever its record names.

    begin("render")              # also installs the handlers for SIGINT, SIGTERM and SIGHUP
    process = spawn([...])       # stopped by close() unless it ended before
    temporary(path)              # removed by close() unless released
    on_close(callback)           # any other undoing, run in reverse order of registration
    close()
"""

import atexit
import ctypes
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUNS = os.path.join(REPO, "build", "runs")
RECORD = "run.json"
STOPPED_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
PR_SET_PDEATHSIG = 1

_current = None


class Interrupted(KeyboardInterrupt):
    """Ctrl-C, SIGTERM or SIGHUP: the run stops and cleans up."""


def _raise_interrupted(signum, frame):
    raise Interrupted(signal.Signals(signum).name)


class _HeldSignals:
    """Signals noted while something must not be cut in half, and obeyed once it is done (or
    dropped, when what is done is the run's own clean-up: the run is ending anyway)."""

    depth = 0
    noted = []

    def __init__(self, deliver):
        self.deliver = deliver

    def __enter__(self):
        if _HeldSignals.depth == 0:
            for number in STOPPED_SIGNALS:
                signal.signal(number, lambda signum, frame: _HeldSignals.noted.append(signum))
        _HeldSignals.depth += 1
        return self

    def __exit__(self, *exc):
        _HeldSignals.depth -= 1
        if _HeldSignals.depth == 0:
            for number in STOPPED_SIGNALS:
                signal.signal(number, _raise_interrupted)
            noted, _HeldSignals.noted[:] = list(_HeldSignals.noted), []
            if noted and self.deliver:
                raise Interrupted(signal.Signals(noted[0]).name)
        return False


def signals_held(deliver=True):
    return _HeldSignals(deliver)


def process_start(pid):
    """The process's start time in clock ticks since boot (None when it is gone): with the pid,
    an identity that a later process reusing the pid does not share."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            fields = f.read().rsplit(b")", 1)[1].split()
        return int(fields[19])
    except (OSError, IndexError, ValueError):
        return None


def _die_with(parent, signum):
    libc = ctypes.CDLL(None, use_errno=True)

    def prepare():  # runs in the child between fork and exec
        libc.prctl(PR_SET_PDEATHSIG, int(signum), 0, 0, 0)
        if os.getppid() != parent:  # the parent died before the line above
            os._exit(1)
    return prepare


def stop_process(process, grace=3.0):
    """Ends a child and its process group: SIGTERM, then SIGKILL after grace seconds."""
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(grace)
    except (ProcessLookupError, PermissionError, subprocess.TimeoutExpired):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        process.wait()


def _remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path, ignore_errors=True)
    else:
        try:
            os.remove(path)
        except OSError:  # gone already, or not ours to remove: nothing more to do
            pass


def _write_json(path, value):
    partial = path + ".partial"
    with open(partial, "w") as f:
        json.dump(value, f)
    os.replace(partial, path)


class Run:
    def __init__(self, kind):
        os.makedirs(RUNS, exist_ok=True)
        self.kind = kind
        self.folder = tempfile.mkdtemp(prefix=kind + "-", dir=RUNS)
        self._lock = os.open(os.path.join(self.folder, "lock"), os.O_RDWR | os.O_CREAT, 0o644)
        fcntl.flock(self._lock, fcntl.LOCK_EX)
        self.children = []   # (Popen, start time, command name)
        self.paths = []      # temporary paths outside the folder
        self.prefixes = []   # Wine prefixes whose server this run started
        self._undo = []      # callbacks, run newest first by close()
        self.closed = False
        self.kept = False
        self._save()

    def _save(self):
        alive = [{"pid": p.pid, "start": start, "name": name} for p, start, name in self.children
                 if p.returncode is None]
        _write_json(os.path.join(self.folder, RECORD), {
            "owner": os.getpid(), "owner_start": process_start(os.getpid()), "kind": self.kind,
            "children": alive, "prefixes": self.prefixes, "paths": self.paths, "kept": self.kept})

    def spawn(self, command, die_signal=signal.SIGKILL, **options):
        """A child in a session of its own (a Ctrl-C reaches this script alone, which stops the
        children in order), dying with this process, stopped by close()."""
        options["start_new_session"] = True  # stop_process ends the child's whole group
        with signals_held():
            process = subprocess.Popen(command, preexec_fn=_die_with(os.getpid(), die_signal), **options)
            self.children.append((process, process_start(process.pid), os.path.basename(command[0])))
            self._undo.append(lambda: stop_process(process))
            self._save()
        return process

    def call(self, command, timeout, **options):
        """Runs a helper to its end (output discarded unless redirected); its exit status, or
        None when it took longer than timeout seconds and was stopped."""
        options.setdefault("stdin", subprocess.DEVNULL)
        options.setdefault("stdout", subprocess.DEVNULL)
        options.setdefault("stderr", subprocess.DEVNULL)
        process = self.spawn(command, **options)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            stop_process(process)
            return None

    def temporary(self, path):
        with signals_held():
            self.paths.append(os.path.abspath(path))
            self._save()
        return path

    def release(self, path):
        """The path is the command's result now: close() leaves it."""
        with signals_held():
            if os.path.abspath(path) in self.paths:
                self.paths.remove(os.path.abspath(path))
                self._save()

    def discard(self, path):
        """Removes a temporary path now, if it is still this run's."""
        path = os.path.abspath(path)
        with signals_held():
            if path in self.paths:
                _remove(path)
                self.paths.remove(path)
                self._save()

    def wine_prefix(self, path, end):
        """A Wine prefix this run started a server for; end(path) stops everything in it."""
        with signals_held():
            self.prefixes.append(path)
            self._undo.append(lambda: end(path))
            self._save()

    def on_close(self, callback):
        self._undo.append(callback)

    def close(self):
        if self.closed:
            return
        with signals_held(deliver=False):
            self.closed = True
            while self._undo:
                try:
                    self._undo.pop()()
                except Exception as error:  # the rest must still be undone
                    tell("clean-up step failed: %s" % error)
            for path in reversed(self.paths):
                _remove(path)
            if os.environ.get("HALCYON_KEEP_RUNS") == "1":
                self.children = []
                self.kept = True
                self._save()
                tell("Run folder kept: %s" % self.folder)
            else:
                shutil.rmtree(self.folder, ignore_errors=True)
            os.close(self._lock)


def tell(text):
    try:  # the terminal may be gone (SIGHUP)
        sys.stderr.write(text + "\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


def end_wine_prefix(prefix):
    """Ends every process of a Wine prefix and its server, and waits for the server to go."""
    env = dict(os.environ, WINEPREFIX=prefix)
    for argument in ("-k", "-w"):
        try:
            subprocess.run(["wineserver", argument], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            pass


def _end_recorded(folder, record):
    for child in record.get("children", []):
        if child.get("start") is not None and process_start(child["pid"]) == child["start"]:
            try:
                os.kill(child["pid"], signal.SIGKILL)
            except OSError:
                pass
    for prefix in record.get("prefixes", []):
        # Only a prefix inside the abandoned run's own folder: never anything else.
        if os.path.realpath(prefix).startswith(os.path.realpath(folder) + os.sep) and os.path.isdir(prefix):
            end_wine_prefix(prefix)
    for path in record.get("paths", []):
        _remove(path)


def reap_abandoned_runs():
    """Ends what runs killed outright left: their children, Wine servers and temporary paths."""
    try:
        names = os.listdir(RUNS)
    except OSError:
        return
    for name in names:
        folder = os.path.join(RUNS, name)
        try:
            lock = os.open(os.path.join(folder, "lock"), os.O_RDWR)
        except OSError:
            # A folder without a lock is a run being born, or one killed at birth.
            try:
                if time.time() - os.stat(folder).st_mtime > 60:
                    shutil.rmtree(folder, ignore_errors=True)
            except OSError:
                pass
            continue
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            os.close(lock)  # its owner is alive, or another run is reaping it
            continue
        try:
            with open(os.path.join(folder, RECORD)) as f:
                record = json.load(f)
        except (OSError, ValueError):
            record = None
        young = record is None and time.time() - os.stat(folder).st_mtime < 60
        # No record yet: a run being born, between making its folder and taking its lock. Kept
        # (HALCYON_KEEP_RUNS): left for a look, its processes ended already.
        if young or (record or {}).get("kept"):
            os.close(lock)
            continue
        _end_recorded(folder, record or {})
        shutil.rmtree(folder, ignore_errors=True)
        os.close(lock)


def begin(kind):
    """The process's run; SIGINT, SIGTERM and SIGHUP raise Interrupted from here on."""
    global _current
    if _current is None or _current.closed:
        for number in STOPPED_SIGNALS:
            signal.signal(number, _raise_interrupted)
        reap_abandoned_runs()
        with signals_held():
            _current = Run(kind)
        atexit.register(_current.close)
    return _current


def current():
    return _current if _current is not None and not _current.closed else begin("run")


def close():
    if _current is not None:
        _current.close()


def spawn(command, **options):
    return current().spawn(command, **options)


def temporary(path):
    return current().temporary(path)


def release(path):
    current().release(path)
