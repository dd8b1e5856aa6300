#!/usr/bin/env python3
"""_wine_session.py COMMAND...: runs COMMAND inside a Wine session of its own (a private display,
a prefix of its own with its server up; see _wine.py) and ends the session with it. The exit
status is COMMAND's. ./halcyon test runs ctest this way, so that its Wine tests share one prefix
while nothing of it is shared with any other run."""

import signal
import sys

import _run
import _wine


def main(argv):
    if not argv:
        sys.stderr.write("usage: _wine_session.py COMMAND [ARGUMENTS...]\n")
        return 2
    run = _run.begin("session")
    try:
        try:
            _wine.start_session(run)
            return run.spawn(argv, die_signal=signal.SIGTERM).wait()
        finally:
            _run.close()
    except _wine.WineError as error:
        _run.tell("halcyon: %s" % error)
        return 1
    except KeyboardInterrupt:
        _run.tell("\nhalcyon: interrupted.")
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
