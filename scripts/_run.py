"""The one owner of what a command starts: every child process and temporary path of a run.

A command's process has one Run. It lives in a folder of its own under build/runs/, which holds
its record (run.json: the children with their process groups and start times, the Wine prefixes
and the temporary paths it made) and a lock held for the run's life. However the command ends
(its return, a failure, Ctrl-C, SIGTERM, a closed terminal), close() undoes what the run did,
newest first. Every wait in it is bounded; a second after the stop was asked for it says what it
is waiting for, and another Ctrl-C ends it at once, leaving the record to the next run. A run
killed outright (kill -9) cannot clean up: its children die with it (PR_SET_PDEATHSIG), and the
next run to start finds the folder's lock free and ends whatever its record names: each child's
whole process group and session (the grandchildren too), its Wine servers and its temporary paths.
A run does not die with the process that started it (nohup, a shell that exits after `&`), and a
hang-up it inherited ignored stays ignored.

    begin("render")              # also installs the handlers for SIGINT, SIGTERM and SIGHUP
    process = spawn([...])       # stopped by close() with its group, unless all of it ended before
    path = create_temporary(DIR, ".out.partial-", ".mp4")  # removed by close() unless released
    on_close(callback, what)     # any other undoing, run in reverse order of registration
    close()
"""

import atexit
import ctypes
import fcntl
import json
import os
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUNS = os.path.join(REPO, "build", "runs")
WINE_DIR = os.path.join(REPO, "build", "wine")  # where _wine.py makes its template prefixes
RECORD = "run.json"
STOPPED_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
PR_SET_PDEATHSIG = 1
SLOW = 1.0             # seconds of clean-up after which it says what it is waiting for
KILL_WAIT = 5.0        # seconds a process gets to vanish after SIGKILL (one stuck in the kernel may not)
REAP_GRACE = 1.0       # seconds what an abandoned run left gets between SIGTERM and SIGKILL
PREFIX_TIMEOUT = 10.0  # seconds a Wine server gets to end its prefix before its processes are killed
REAPER_WAIT = 60.0     # seconds to wait for another run that is ending what an abandoned one left

_current = None
_stop_asked = None  # time.monotonic() of the first stop signal: clean-up's second counts from it
_line_open = False  # stderr's cursor follows text of ours or the terminal's ^C echo


class Interrupted(KeyboardInterrupt):
    """Ctrl-C, SIGTERM or SIGHUP: the run stops and cleans up."""


def _raise_interrupted(signum, frame):
    global _stop_asked, _line_open
    if _stop_asked is None:
        _stop_asked = time.monotonic()
    if signum == signal.SIGINT and _ctrl_c_echoed():
        _line_open = True
    raise Interrupted(signal.Signals(signum).name)


def _ctrl_c_echoed():
    """Whether a SIGINT came with ^C echoed where stderr's cursor was: stderr is the terminal
    this process is in the foreground of, and it echoes control characters."""
    try:
        if os.tcgetpgrp(2) != os.getpgrp():
            return False
        import termios
        return bool(termios.tcgetattr(2)[3] & termios.ECHO and termios.tcgetattr(2)[3] & termios.ECHOCTL)
    except (OSError, ImportError, AttributeError):
        return False


def ignored_signals():
    """The stop signals this process inherited ignored (nohup ignores SIGHUP): they stay so."""
    return {number for number in STOPPED_SIGNALS if signal.getsignal(number) == signal.SIG_IGN}


_IGNORED = ignored_signals()


def _note(signum, frame):
    if signum in _IGNORED:
        return
    if _HeldSignals.depth:
        _HeldSignals.noted.append(signum)
        return
    # The block ended while the handlers were being put back: act as the one held off.
    handler = _HeldSignals.saved.get(signum)
    if callable(handler):
        handler(signum, frame)
    elif handler != signal.SIG_IGN:
        _raise_interrupted(signum, frame)


class _HeldSignals:
    """Signals noted while something must not be cut in half, and obeyed once it is done (or
    dropped, when what is done is the run's own clean-up: the run is ending anyway)."""

    depth = 0
    noted = []
    saved = {}  # the handlers the outermost block holds off

    def __init__(self, deliver):
        self.deliver = deliver

    def __enter__(self):
        if _HeldSignals.depth == 0:
            _HeldSignals.noted = []  # what slipped past an earlier block's end is not this block's
            for number in _stopping_signals():
                previous = signal.signal(number, _note)
                if previous is not _note:
                    _HeldSignals.saved[number] = previous
        _HeldSignals.depth += 1
        return self

    def __exit__(self, kind, value, traceback):
        _HeldSignals.depth -= 1
        if _HeldSignals.depth:
            return False
        # What was noted is taken before the raising handlers come back: one raised in between
        # would otherwise leave the notes behind, a phantom interrupt of the next held block.
        noted, _HeldSignals.noted = _HeldSignals.noted, []
        for number in _stopping_signals():
            signal.signal(number, _HeldSignals.saved.get(number, _raise_interrupted))
        if noted and self.deliver and kind is None:
            handler = _HeldSignals.saved.get(noted[0])
            (handler if callable(handler) else _raise_interrupted)(noted[0], None)
        return False


def _stopping_signals():
    return [number for number in STOPPED_SIGNALS if number not in _IGNORED]


def signals_held(deliver=True):
    return _HeldSignals(deliver)


class _Telling:
    """Says on a terminal what a clean-up is waiting for once SLOW seconds have passed since the
    stop was asked for (or since it began), and again for each later step that is still running
    a second on (elsewhere a failure stays one line). With cut, a signal ends the process at once,
    leaving the rest to the next run."""

    def __init__(self, heading, cut):
        self.heading = heading
        self.cut = cut
        self.what = None
        self.told = None

    def __enter__(self):
        now = time.monotonic()
        self.started = min(now, _stop_asked) if self.cut and _stop_asked is not None else now
        self.saved = {signal.SIGALRM: signal.signal(signal.SIGALRM, self._alarm)}
        if self.cut:
            for number in _stopping_signals():
                self.saved[number] = signal.signal(number, self._signal)
        first = max(0.001, SLOW - (now - self.started))
        self.timer = signal.setitimer(signal.ITIMER_REAL, first, SLOW)
        return self

    def step(self, what):
        self.what = what

    def _alarm(self, signum, frame):
        if self.what and self.what != self.told and _on_terminal():
            self.told = self.what
            tell("halcyon: %s: %s...%s" % (self.heading, self.what,
                                            " (Ctrl-C leaves the rest to the next run)" if self.cut else ""))

    def _signal(self, signum, frame):
        global _line_open
        if signum == signal.SIGINT and _ctrl_c_echoed():
            _line_open = True
        _abandon()

    def __exit__(self, *exc):
        signal.setitimer(signal.ITIMER_REAL, 0)
        for number, handler in self.saved.items():
            signal.signal(number, handler)
        delay, interval = self.timer
        if delay:  # the caller's own alarm, less the time this took
            signal.setitimer(signal.ITIMER_REAL, max(0.001, delay - (time.monotonic() - self.started)), interval)
        return False


def stopping(what="stopping"):
    """A context for a command's own stopping of what it started (before the run's close()):
    the same second, counted from the stop signal, and the same cut."""
    return _Telling(what, cut=True)


def _abandon():
    """Ends the process now (status 130): its children go with it (their parent-death signal),
    the temporary files it made go first, and the record stays for the next run to finish."""
    run = _current
    if run is not None:
        for path in run.paths:
            if not os.path.isdir(path) or os.path.islink(path):
                try:
                    os.remove(path)
                except OSError:
                    pass
    tell("halcyon: clean-up interrupted; the next run ends what is left.")
    try:
        sys.stdout.flush()
    except (OSError, ValueError):
        pass
    os._exit(130)  # the lock goes with the process; the record stays


def _stat(pid):
    """(start time in clock ticks since boot, process group, session, state) of a process, or
    None when it is gone. The start time, with the pid, is an identity that a later process
    reusing the pid does not share."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            fields = f.read().rsplit(b")", 1)[1].split()
        return int(fields[19]), int(fields[2]), int(fields[3]), fields[0]
    except (OSError, IndexError, ValueError):
        return None


def process_start(pid):
    stat = _stat(pid) if pid is not None else None
    return stat[0] if stat else None


def _processes():
    """{pid: (start, group, session, state)} of every process there is."""
    table = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            stat = _stat(int(name))
            if stat:
                table[int(name)] = stat
    return table


def _members(groups):
    """{pid: (start, group)} of the live processes of each (group, start): a child made a
    session (and group) leader, and everything in its group or session that started no earlier
    than it. A group whose number belongs to a later process now is another's."""
    table = _processes()
    live = {}
    for group, start in groups:
        if start is None or (group in table and table[group][0] != start):
            continue
        for pid, (member_start, member_group, session, state) in table.items():
            if group in (member_group, session) and member_start >= start and state not in (b"Z", b"X"):
                live[pid] = (member_start, member_group)
    live.pop(os.getpid(), None)
    return live


def _send(pid, start, signum):
    """Sends signum to pid if it is still the process that started at start: through a pidfd
    where Linux has them, so that the pid cannot change hands between the check and the kill."""
    try:
        handle = os.pidfd_open(pid)
    except ProcessLookupError:
        return
    except (AttributeError, OSError):  # no pidfds here: check and kill are a moment apart
        if process_start(pid) == start:
            try:
                os.kill(pid, signum)
            except OSError:
                pass
        return
    try:
        if process_start(pid) == start:
            signal.pidfd_send_signal(handle, signum)
    except OSError:
        pass
    finally:
        os.close(handle)


def _end_groups(groups, grace, leader=None):
    """Ends every process of the groups (see _members): SIGTERM, SIGKILL after grace seconds,
    then at most KILL_WAIT seconds more. leader: the Popen of the one group's leader, while it
    may be unreaped. True when nothing of them is left."""
    def leader_alive():
        return leader is not None and leader.poll() is None

    for signum, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, KILL_WAIT)):
        members = _members(groups)
        if not members and not leader_alive():
            return True
        signalled_group = None
        if leader_alive():
            try:  # an unreaped leader keeps its group's number from going to anyone else
                os.killpg(leader.pid, signum)
                signalled_group = leader.pid
            except OSError:
                pass
        for pid, (start, group) in members.items():
            if group != signalled_group:
                _send(pid, start, signum)
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            time.sleep(0.05)
            if not leader_alive() and not _members(groups):
                return True
    return False


def _die_with(parent, signum):
    libc = ctypes.CDLL(None, use_errno=True)

    def prepare():  # runs in the child between fork and exec
        libc.prctl(PR_SET_PDEATHSIG, int(signum), 0, 0, 0)
        if os.getppid() != parent:  # the parent died before the line above
            os._exit(1)
    return prepare


def stop_process(process, grace=0.5):
    """Ends a child with everything in its process group and session: SIGTERM, then SIGKILL
    after grace seconds (short: a stop must end within a second). Bounded; True when all of it
    ended."""
    if process is None:
        return True
    start = getattr(process, "start_time", None)
    if start is None:
        start = process_start(process.pid) if process.poll() is None else None
    ended = _end_groups([(process.pid, start)], grace, leader=process)
    process.ended = ended
    return ended


def _remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path, ignore_errors=True)
    else:
        try:
            os.remove(path)
        except OSError:  # gone already, or not ours to remove: nothing more to do
            pass


def _write_record(path, value):
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
        self._undo = []      # (what, callback), run newest first by close()
        self.closed = False
        self.kept = False
        self._save()

    def _save(self):
        # A child stays on record until it was stopped with its group: one that ended by itself
        # may have left processes in it.
        children = [{"pid": p.pid, "group": p.pid, "start": start, "name": name}
                    for p, start, name in self.children if not getattr(p, "ended", False)]
        _write_record(os.path.join(self.folder, RECORD), {
            "owner": os.getpid(), "owner_start": process_start(os.getpid()), "kind": self.kind,
            "children": children, "prefixes": self.prefixes, "paths": self.paths, "kept": self.kept})

    def spawn(self, command, die_signal=signal.SIGKILL, **options):
        """A child in a session (so a process group) of its own, so that a Ctrl-C reaches this
        script alone, which stops the children in order; dying with this process; stopped by
        close() with whatever it started."""
        options["start_new_session"] = True
        with signals_held():
            process = subprocess.Popen(command, preexec_fn=_die_with(os.getpid(), die_signal), **options)
            process.start_time = process_start(process.pid)
            name = os.path.basename(command[0])
            self.children.append((process, process.start_time, name))
            self._undo.append(("stopping %s (pid %d)" % (name, process.pid), lambda: stop_process(process)))
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

    def create_temporary(self, folder, prefix, suffix="", directory=False):
        """A new file (or folder) in folder named prefix, a random part and suffix: made
        exclusively, then recorded, so that clean-up only ever removes what this run made."""
        while True:
            path = os.path.abspath(os.path.join(folder, prefix + secrets.token_hex(6) + suffix))
            with signals_held():  # made and recorded, or neither
                try:
                    if directory:
                        os.mkdir(path)
                    else:
                        os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))
                except FileExistsError:
                    continue
                self.paths.append(path)
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
            self._undo.append(("ending the Wine server of %s" % path, lambda: end(path)))
            self._save()

    def on_close(self, callback, what="finishing"):
        self._undo.append((what, callback))

    def close(self):
        """Undoes what the run did. A signal meanwhile ends the process at once (status 130),
        leaving the record, and so the rest, to the next run."""
        if self.closed:
            return
        self.closed = True
        left = False  # something outlived its bounded wait: the next run tries again
        with signals_held(deliver=False):
            with _Telling("cleaning up", cut=True) as telling:
                while self._undo:
                    what, callback = self._undo.pop()
                    telling.step(what)
                    try:
                        left = callback() is False or left
                    except Exception as error:  # the rest must still be undone
                        tell("halcyon: clean-up step failed (%s): %s" % (what, error))
                for path in reversed(self.paths):
                    telling.step("removing %s" % path)
                    _remove(path)
                keep = left or os.environ.get("HALCYON_KEEP_RUNS") == "1"
                if not keep:
                    telling.step("removing the run's folder %s" % self.folder)
                    shutil.rmtree(self.folder, ignore_errors=True)
            if left:
                tell("halcyon: some of what this run started did not end; the next run tries again.")
            elif keep:
                self.children = []
                self.kept = True
                self._save()
                tell("Run folder kept: %s" % self.folder)
            os.close(self._lock)


def _on_terminal():
    try:
        return sys.stderr.isatty()
    except (AttributeError, ValueError):  # closed, or replaced by something without a descriptor
        return False


def line_open(value=True):
    """Whether stderr's cursor is after text on its line (a progress bar): tell() starts anew."""
    global _line_open
    _line_open = value


def tell(text):
    global _line_open
    lead, _line_open = "\n" if _line_open else "", False
    try:  # the terminal may be gone (SIGHUP)
        sys.stderr.write(lead + text + "\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


def _prefix_processes(prefix):
    """{pid: start} of the processes that run in a Wine prefix (its server among them)."""
    marker = b"WINEPREFIX=" + os.fsencode(prefix)
    found = {}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if marker in f.read().split(b"\0"):
                    stat = _stat(int(name))
                    if stat and stat[3] not in (b"Z", b"X"):
                        found[int(name)] = stat[0]
        except OSError:
            continue
    return found


def end_wine_prefix(prefix, timeout=PREFIX_TIMEOUT, keep=True):
    """Ends every process of a Wine prefix and its server: the server's own way (wineserver -k,
    then -w, which saves the registry) within timeout seconds, then SIGKILL to whatever still runs
    in it. keep False: a prefix thrown away next, whose processes get SIGKILL at once (-k alone
    takes half a second, and a stop must end within one). True when nothing of it is left."""
    env = dict(os.environ, WINEPREFIX=prefix)
    deadline = time.monotonic() + timeout
    for argument in ("-k", "-w") if keep else ():
        try:
            helper = subprocess.Popen(["wineserver", argument], env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        except OSError:
            break
        try:
            helper.wait(max(0.0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            helper.kill()
            try:
                helper.wait(KILL_WAIT)
            except subprocess.TimeoutExpired:
                pass
            break
        except BaseException:  # cut short: the helper goes too
            helper.kill()
            raise
    left = _prefix_processes(prefix)
    deadline = time.monotonic() + KILL_WAIT
    while left:
        if time.monotonic() > deadline:
            return False
        for pid, start in left.items():
            _send(pid, start, signal.SIGKILL)
        time.sleep(0.05)
        left = _prefix_processes(prefix)
    return True


def end_run_prefix(prefix):
    """A run's own prefix, removed with its folder (unless the folder is kept for a look)."""
    return end_wine_prefix(prefix, keep=os.environ.get("HALCYON_KEEP_RUNS") == "1")


def _owned_prefix(folder, prefix):
    """A prefix an abandoned run may end: one inside its own folder, or a template being made."""
    real = os.path.realpath(prefix)
    inside = real.startswith(os.path.realpath(folder) + os.sep)
    template = os.path.dirname(real) == os.path.realpath(WINE_DIR) and ".partial-" in os.path.basename(real)
    return inside or template


def _end_recorded(folder, record, telling):
    children = record.get("children", [])
    telling.step("ending the processes of an earlier %s run (%s)" % (
        record.get("kind", "?"), ", ".join(sorted({c.get("name", "?") for c in children})) or "none"))
    _end_groups([(c.get("group", c.get("pid")), c.get("start")) for c in children], REAP_GRACE)
    for prefix in record.get("prefixes", []):
        if _owned_prefix(folder, prefix):
            telling.step("ending the Wine server an earlier run left in %s" % prefix)
            end_wine_prefix(prefix)
    for path in record.get("paths", []):
        telling.step("removing %s, which an earlier run left" % path)
        _remove(path)


def _read_record(folder):
    try:
        with open(os.path.join(folder, RECORD)) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def _owner_alive(record):
    return record.get("owner") is not None and process_start(record["owner"]) == record.get("owner_start")


def _take_abandoned(folder, telling):
    """The run folder's lock, taken, when its owner is gone; None when it is alive or being born.
    Another run ending what the owner left is waited for (at most REAPER_WAIT seconds), so that
    nothing of it is still alive when this one goes on."""
    try:
        lock = os.open(os.path.join(folder, "lock"), os.O_RDWR)
    except OSError:
        # A folder without a lock is a run being born, or one killed at birth.
        try:
            if time.time() - os.stat(folder).st_mtime > 60:
                shutil.rmtree(folder, ignore_errors=True)
        except OSError:
            pass
        return None
    deadline = time.monotonic() + REAPER_WAIT
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return lock
        except OSError:
            pass
        # Held: by its owner (alive), by a run being born (its record follows at once), or by
        # another run that ends what a dead owner left.
        record = _read_record(folder)
        if (record is not None and _owner_alive(record)) or time.monotonic() > deadline:
            os.close(lock)
            return None
        telling.step("waiting for another run to end what an earlier run left")
        time.sleep(0.05)


def _reap_pass(telling):
    try:
        names = sorted(os.listdir(RUNS))
    except OSError:
        return False
    ended = False
    for name in names:
        folder = os.path.join(RUNS, name)
        lock = _take_abandoned(folder, telling)
        if lock is None:
            continue
        try:
            if not os.path.isdir(folder):  # another run ended it while this one waited
                continue
            record = _read_record(folder)
            try:
                young = record is None and time.time() - os.stat(folder).st_mtime < 60
            except OSError:
                continue
            # No record yet: a run being born, between making its folder and taking its lock.
            # Kept (HALCYON_KEEP_RUNS): left for a look, its processes ended already.
            if young or (record or {}).get("kept"):
                continue
            _end_recorded(folder, record or {}, telling)
            telling.step("removing the folder of an earlier run, %s" % folder)
            # Out of the way at once, so that a run waiting for this one never finds it half gone.
            ended_folder = os.path.join(RUNS, ".ended-" + name)
            try:
                os.rename(folder, ended_folder)
            except OSError:
                ended_folder = folder
            shutil.rmtree(ended_folder, ignore_errors=True)
            ended = True
        finally:
            os.close(lock)
    return ended


def reap_abandoned_runs():
    """Ends what runs killed outright left: their children's process groups, Wine servers and
    temporary paths. Interruptible; what it does not finish, the next run does."""
    with _Telling("cleaning up after an earlier run", cut=False) as telling:
        # Again while it ended something: an abandoned run's processes may own runs of their
        # own (the tests of a test session), abandoned only now.
        for _ in range(3):
            if not _reap_pass(telling):
                break


def _close_at_exit(run):
    try:
        run.close()
    except KeyboardInterrupt:
        pass


def begin(kind):
    """The process's run; SIGINT, SIGTERM and SIGHUP raise Interrupted from here on."""
    global _current
    if _current is None or _current.closed:
        # Not tied to the parent's life: a run started with nohup, or with & from a shell that
        # then exits, goes on to its end.
        for number in _stopping_signals():
            signal.signal(number, _raise_interrupted)
        reap_abandoned_runs()
        with signals_held():
            _current = Run(kind)
        atexit.register(_close_at_exit, _current)
    return _current


def current():
    return _current if _current is not None and not _current.closed else begin("run")


def close():
    if _current is not None:
        _current.close()


def spawn(command, **options):
    return current().spawn(command, **options)


def create_temporary(folder, prefix, suffix="", directory=False):
    return current().create_temporary(folder, prefix, suffix, directory)


def release(path):
    current().release(path)


def write_json(path, value):
    """A JSON file written under a temporary name of the run's beside it and renamed: whole or not
    at all, and nothing of it left if the run ends first."""
    temporary = create_temporary(os.path.dirname(os.path.abspath(path)), ".halcyon-", ".json")
    with open(temporary, "w") as f:
        json.dump(value, f, indent=2, sort_keys=True)
        f.write("\n")
    os.replace(temporary, path)
    release(temporary)


# A launcher may start a script with these signals blocked, so that one that comes while the
# interpreter starts neither kills it unsaid nor is lost (render.sh does): they are let through
# here, where the importing script has set its handlers already.
signal.pthread_sigmask(signal.SIG_UNBLOCK, STOPPED_SIGNALS)
