"""The runs' ownership of processes and paths (scripts/_run.py): what a run killed outright leaves
is ended by the next, grandchildren included; clean-up says what it waits for and a second Ctrl-C
cuts it short; held signals leave no phantom; temporary names never take another's file."""

import os
import pty
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from unittest import mock

SCRIPTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts")
sys.path.insert(0, SCRIPTS)
import _run  # noqa: E402

# An owner: a run in RUNS (argv[2]) that starts `sh -c argv[3]` and makes a temporary file in argv[4],
# says so, and sleeps; a slow clean-up step when argv[5] is given.
OWNER = r"""
import os, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
import _run
_run.RUNS = sys.argv[2]
run = _run.begin("owner")
process = run.spawn(["sh", "-c", sys.argv[3]], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
path = run.create_temporary(sys.argv[4], ".out.partial-", ".mp4")
if len(sys.argv) > 5:
    run.on_close(lambda: time.sleep(60), sys.argv[5])
try:  # the line said from inside: a signal as soon as it is read meets the clean-up, not a traceback
    print(process.pid, path, run.folder, flush=True)
    time.sleep(600)
finally:
    _run.close()
"""

# A run that starts a sleeping child, writes argv[3].started (its pid and the child's), works two
# seconds, closes, and writes argv[3].finished: the sign that it ran to its end.
WORKER = r"""
import os, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
import _run
_run.RUNS = sys.argv[2]
run = _run.begin("worker")
child = run.spawn(["sleep", "300"], stdin=subprocess.DEVNULL)
with open(sys.argv[3] + ".started", "w") as f:
    f.write("%d %d" % (os.getpid(), child.pid))
time.sleep(2)
_run.close()
open(sys.argv[3] + ".finished", "w").close()
"""

# A reaper that says when it has begun to end an abandoned run.
REAPER = r"""
import sys
sys.path.insert(0, sys.argv[1])
import _run
_run.RUNS = sys.argv[2]
end = _run._end_recorded
def announced(*args):
    print("reaping", flush=True)
    return end(*args)
_run._end_recorded = announced
_run.reap_abandoned_runs()
"""

SLEEPERS = "sleep 300 & sleep 301 & wait"


def start_of(pid):
    """The start time of a live (not zombie) process, or None."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            fields = f.read().rsplit(b")", 1)[1].split()
    except OSError:
        return None
    return None if fields[0] in (b"Z", b"X") else int(fields[19])


def children_of(pid):
    found = []
    for name in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % name, "rb") as f:
                if int(f.read().rsplit(b")", 1)[1].split()[1]) == pid:
                    found.append(int(name))
        except OSError:
            continue
    return found


class Runs(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="halcyon-run-test-")
        self.runs = os.path.join(self.root, "runs")
        self.out = os.path.join(self.root, "out")
        os.makedirs(self.out)
        self.addCleanup(subprocess.run, ["rm", "-rf", self.root])
        patcher = mock.patch.object(_run, "RUNS", self.runs)
        patcher.start()
        self.addCleanup(patcher.stop)

    def watch(self, pid):
        """(pid, start) of a process this test must not leave behind, whatever happens."""
        start = start_of(pid)
        self.addCleanup(lambda: start_of(pid) == start and os.kill(pid, signal.SIGKILL))
        return pid, start

    def alive(self, processes):
        return [pid for pid, start in processes if start is not None and start_of(pid) == start]

    def owner(self, command, slow_step=None):
        """A running owner, its error output on a terminal (the clean-up tells only there): (its
        Popen, with .terminal the terminal's other end as a file; the sh it started and the
        sleeps under it; its temporary file; its run folder)."""
        terminal, its_end = pty.openpty()
        owner = subprocess.Popen([sys.executable, "-c", OWNER, SCRIPTS, self.runs, command, self.out]
                                 + ([slow_step] if slow_step else []),
                                 stdout=subprocess.PIPE, stderr=its_end, text=True)
        os.close(its_end)
        owner.terminal = open(terminal, "r", errors="replace")
        self.addCleanup(lambda: owner.poll() is None and owner.kill())
        self.addCleanup(owner.stdout.close)
        self.addCleanup(owner.terminal.close)
        pid, path, folder = owner.stdout.readline().split()
        processes = [self.watch(int(pid))]
        deadline = time.monotonic() + 30
        while len(children_of(int(pid))) < command.count("&") and time.monotonic() < deadline:
            time.sleep(0.02)
        processes += [self.watch(child) for child in children_of(int(pid))]
        self.assertEqual(len(processes), 1 + command.count("&"))
        return owner, processes, path, folder

    def abandoned(self, command):
        owner, processes, path, folder = self.owner(command)
        owner.kill()
        owner.wait()
        return processes, path, folder

    def assert_nothing_left(self, processes, path, folder):
        deadline = time.monotonic() + 10  # SIGKILLed processes take a moment to go
        while self.alive(processes) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.alive(processes), [])
        self.assertFalse(os.path.exists(path))
        self.assertFalse(os.path.exists(folder))

    def test_after_kill_9_the_next_run_ends_the_grandchildren(self):
        processes, path, folder = self.abandoned(SLEEPERS)
        # The parent-death signal ended sh alone; its sleeps live on under another parent.
        self.assertEqual(len(self.alive(processes[1:])), 2)
        _run.reap_abandoned_runs()
        self.assert_nothing_left(processes, path, folder)

    def test_wrapped_and_background_starts_run_to_their_end(self):
        """However it is started (nohup, & from a shell that exits, setsid, timeout, a script
        that execs one of them), a run goes on to its end once what started it is gone, keeps an
        inherited ignored hang-up ignored, and still ends what it started."""
        worker = sys.executable + " -c '%s' %s %s" % (WORKER, SCRIPTS, self.runs)
        starts = {"nohup": "nohup %s >/dev/null 2>&1 & exit 0",
                  "& then exit": "%s >/dev/null 2>&1 & exit 0",
                  "setsid": "setsid %s >/dev/null 2>&1 & exit 0",
                  "timeout": "timeout 60 %s >/dev/null 2>&1 & exit 0",
                  "a script that execs nohup": "(exec nohup %s >/dev/null 2>&1) & exit 0"}
        for number, (name, line) in enumerate(starts.items()):
            marks = os.path.join(self.root, "start-%d" % number)
            subprocess.run(["sh", "-c", line % ("%s %s" % (worker, marks))], timeout=30, check=True)
            starts[name] = marks
        for name, marks in starts.items():
            deadline = time.monotonic() + 30
            while not os.path.exists(marks + ".started") and time.monotonic() < deadline:
                time.sleep(0.05)
            with open(marks + ".started") as f:
                pid, child = (int(v) for v in f.read().split())
            processes = [self.watch(pid), self.watch(child)]
            if name == "nohup":
                os.kill(pid, signal.SIGHUP)  # ignored, as nohup asked
        for name, marks in starts.items():
            deadline = time.monotonic() + 30
            while not os.path.exists(marks + ".finished") and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertTrue(os.path.exists(marks + ".finished"), name)
            with open(marks + ".started") as f:
                child = int(f.read().split()[1])
            self.assertIsNone(start_of(child), name)  # the run's close() ended its child

    def test_a_run_that_another_is_reaping_is_waited_for(self):
        # Sleeps that ignore SIGTERM keep the first reaper busy for its grace period.
        processes, path, folder = self.abandoned('trap "" TERM; ' + SLEEPERS)
        reaper = subprocess.Popen([sys.executable, "-c", REAPER, SCRIPTS, self.runs], stdout=subprocess.PIPE,
                                  text=True)
        self.addCleanup(lambda: reaper.poll() is None and reaper.kill())
        self.addCleanup(reaper.stdout.close)
        self.assertEqual(reaper.stdout.readline().strip(), "reaping")
        _run.reap_abandoned_runs()
        self.assert_nothing_left(processes, path, folder)
        self.assertEqual(reaper.wait(60), 0)

    def test_a_second_ctrl_c_cuts_a_slow_clean_up_short_and_the_next_run_finishes_it(self):
        # The second Ctrl-C after the note (a second on), or at once: either ends the run there,
        # its temporary file gone with it, the rest left to the next run.
        for after_the_note in (True, False):
            owner, processes, path, folder = self.owner(SLEEPERS, slow_step="waiting for a slow helper")
            owner.send_signal(signal.SIGINT)
            if after_the_note:
                self.assertIn("cleaning up: waiting for a slow helper", owner.terminal.readline())
            else:
                time.sleep(0.2)
            asked = time.monotonic()
            owner.send_signal(signal.SIGINT)
            self.assertEqual(owner.wait(30), 130)
            self.assertLess(time.monotonic() - asked, 0.5)
            self.assertIn("next run", owner.terminal.readline())
            self.assertEqual(len(self.alive(processes[1:])), 2)  # the sleeps: the clean-up was cut first
            self.assertTrue(os.path.exists(os.path.join(folder, "run.json")))
            self.assertFalse(os.path.exists(path))
            _run.reap_abandoned_runs()
            self.assert_nothing_left(processes, path, folder)

    def test_only_processes_that_are_still_the_recorded_ones_are_ended(self):
        for offset, ended in ((0, True), (-1, False)):
            sleeper = subprocess.Popen(["sleep", "300"], start_new_session=True)
            self.addCleanup(lambda sleeper=sleeper: sleeper.poll() is None and (sleeper.kill(), sleeper.wait()))
            start = start_of(sleeper.pid)
            folder = os.path.join(self.runs, "abandoned-%d" % -offset)
            os.makedirs(folder)
            open(os.path.join(folder, "lock"), "w").close()
            _run._write_record(os.path.join(folder, _run.RECORD), {
                "owner": None, "kind": "test", "children": [{"pid": sleeper.pid, "start": start + offset}]})
            _run.reap_abandoned_runs()
            # A recorded start earlier than the live one: the pid belongs to another process now.
            if ended:
                sleeper.wait(10)
            else:
                self.assertIsNone(sleeper.poll())
            self.assertFalse(os.path.exists(folder))

    def test_a_temporary_name_taken_by_someone_else_is_left_to_them(self):
        run = _run.Run("test")
        taken = os.path.join(self.out, ".x.partial-aaaa.mp4")
        with open(taken, "w") as f:
            f.write("someone else's")
        with mock.patch.object(_run.secrets, "token_hex", side_effect=["aaaa", "bbbb"]):
            path = run.create_temporary(self.out, ".x.partial-", ".mp4")
        self.assertEqual(path, os.path.join(self.out, ".x.partial-bbbb.mp4"))
        self.assertTrue(os.path.isfile(path))
        run.close()
        self.assertEqual(os.listdir(self.out), [os.path.basename(taken)])

    def test_signals_held_leave_no_phantom_interrupt(self):
        """A SIGINT noted inside a held block, and another while its end puts the handlers back
        (at each of the three), give one interrupt, not a second at the next held block."""
        real_signal = signal.signal
        saved = {number: signal.getsignal(number) for number in _run.STOPPED_SIGNALS}
        self.addCleanup(lambda: [real_signal(n, h) for n, h in saved.items()])
        for noted in (False, True):
            for at_call in (1, 2, 3):
                calls = []

                def injecting(number, handler):
                    calls.append(number)
                    if len(calls) == at_call:
                        os.kill(os.getpid(), signal.SIGINT)
                    return real_signal(number, handler)

                for number in _run.STOPPED_SIGNALS:
                    real_signal(number, _run._raise_interrupted)
                interrupts = 0
                try:
                    with _run.signals_held():
                        if noted:
                            os.kill(os.getpid(), signal.SIGINT)
                        time.sleep(0)
                        signal.signal = injecting
                except _run.Interrupted:
                    interrupts += 1
                finally:
                    signal.signal = real_signal
                self.assertEqual(interrupts, 1, (noted, at_call))
                try:
                    with _run.signals_held():  # the next held block: nothing of the first may show here
                        time.sleep(0)
                except _run.Interrupted:
                    self.fail("a phantom interrupt after %s" % ((noted, at_call),))
                for number in (signal.SIGINT, signal.SIGTERM):  # outside, a signal interrupts at once
                    with self.assertRaises(_run.Interrupted, msg=(noted, at_call)):
                        os.kill(os.getpid(), number)
                        time.sleep(0)


if __name__ == "__main__":
    unittest.main()
