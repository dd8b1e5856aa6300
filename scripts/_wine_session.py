#!/usr/bin/env python3
"""_wine_session.py [--windows] COMMAND...: runs COMMAND inside a Wine session of its own (a private
display, a prefix of its own with its server up; see _wine.py) and ends the session with it; with
--windows, COMMAND is a Windows program, run by the session's Wine. The exit status is COMMAND's.
./halcyon test runs ctest this way, so that its Wine tests share one prefix while nothing of it is
shared with any other run."""

import signal
import sys

import _run
import _windows_build
import _wine


def main(argv):
    windows = argv[:1] == ["--windows"]
    argv = argv[1:] if windows else argv
    if not argv:
        sys.stderr.write("usage: _wine_session.py [--windows] COMMAND [ARGUMENTS...]\n")
        return 2
    run = _run.begin("session")
    try:
        try:
            _wine.start_session(run)
            if windows:
                argv = [_wine.loader()] + argv
            return run.spawn(argv, die_signal=signal.SIGTERM).wait()
        finally:
            _run.close()
    except (_wine.WineError, _windows_build.ChoiceError) as error:
        _run.tell("halcyon: %s" % error)
        return 1
    except KeyboardInterrupt:
        _run.tell("\nhalcyon: interrupted.")
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
