#!/usr/bin/python3
"""Runs the contract suite's Windows build under Wine and exits with its
result. The prefix comes from the Wine toolkit (tools/winekit), as for
every other program run under Wine here: a fresh copy of the session's
pristine prefix, removed afterwards. The suite is copied into the prefix
(C:\\Contract Suite, where the model's cases say the suite runs from), so
the copies of itself it places beside itself stay inside the prefix.

Usage: tests/contract/run_under_wine.py CONTRACT_TESTS_EXE [gtest arguments]

A missing suite, Wine or anything else the toolkit needs is a failure
(exit 1), never a skip.
"""

import os
import subprocess
import sys
import time
from pathlib import Path

from winekit.base import HarnessError, bound
from winekit.wineprefix import WinePrefix, session

SUITE = r"C:\Contract Suite\contract_tests.exe"
# The suite is built with the twin's toolchain: a 64-bit program, for the
# host's wine64 whatever target the rest of the run drives.
SUITE_TARGET = "x86_64"
# The whole suite takes under 20 s on the host's wine64.
SUITE_TIMEOUT = 300


def run_suite(exe, arguments):
    """Runs the suite in a fresh prefix; returns its exit code."""
    os.environ["WINE_TARGET"] = SUITE_TARGET
    session(uninstaller=False)
    prefix = WinePrefix()
    try:
        prefix.install_file(exe, SUITE)
        command = prefix.session.target.command(SUITE, *arguments)
        started = time.monotonic()
        try:
            status = subprocess.run(command, env=prefix.env(), cwd=str(prefix.root),
                                    stdin=subprocess.DEVNULL,
                                    timeout=bound(SUITE_TIMEOUT)).returncode
        except subprocess.TimeoutExpired:
            raise HarnessError("the suite did not end within %.0f s" % bound(SUITE_TIMEOUT))
        print("contract suite under Wine: exit %d after %.0f s (prefix made before)"
              % (status, time.monotonic() - started), flush=True)
        return status
    finally:
        prefix.close()


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    exe = Path(argv[1])
    if not exe.is_file():
        print("contract suite under Wine: no suite at %s" % exe, file=sys.stderr)
        return 1
    try:
        return run_suite(exe, argv[2:])
    except HarnessError as error:
        print("contract suite under Wine: %s" % error, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
