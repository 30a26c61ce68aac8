"""The ground every part of the Wine toolkit stands on: where things are, the
bounds of a run, the error a test fails with, polling, and running a host
program to its end."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
HELPER_SOURCES = Path(__file__).resolve().parents[1] / "helpers"

WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
MINGW_GCC = "x86_64-w64-mingw32-gcc"

# Bounds. Wine starts a process in well under a second once its server runs;
# these leave room for a loaded machine without letting a hung run stall the
# suite.
RUN_TIMEOUT = 60.0
DIALOG_TIMEOUT = 30.0

_POLL = 0.05


class HarnessError(AssertionError):
    """Raised for anything that keeps a test from running as meant; being an
    AssertionError, unittest counts it as a failure of the test."""


def uninstaller_exe():
    """The twin under test: $UNINSTALLER_EXE, else the build's default place."""
    path = os.environ.get("UNINSTALLER_EXE")
    if path:
        return Path(path).resolve()
    return REPO / "build" / "wine-w64" / "Uninstall.exe"


def feedback_url():
    """The why-uninstall address built into the twin (its host is a build
    setting): the one "http://" string in the file ending in the page's
    path."""
    found = re.findall(rb"http://[\x21-\x7e]+?/whyuninstall\.htm(?=\0)",
                       uninstaller_exe().read_bytes())
    if len(found) != 1:
        raise HarnessError("expected one feedback address in %s, found %r"
                           % (uninstaller_exe(), found))
    return found[0].decode("ascii")


def missing_requirements():
    """What this machine lacks for the tests under Wine, as readable names."""
    missing = []
    for program in (WINE64, WINESERVER):
        if not os.access(program, os.X_OK):
            missing.append(program)
    for tool in ("Xvfb", "xdotool", MINGW_GCC):
        if shutil.which(tool) is None:
            missing.append(tool)
    if not uninstaller_exe().is_file():
        missing.append("the 64-bit twin at %s (set UNINSTALLER_EXE)" % uninstaller_exe())
    return missing


def wait_until(predicate, timeout, what, interval=_POLL):
    """Polls predicate until it returns something true, and returns that.
    Fails with `what` in the message once timeout seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def first_times(conditions, timeout, interval=0.01):
    """Polls several conditions together until all have held or timeout
    seconds have passed, and returns {name: time.monotonic() when the
    condition was first seen to hold, or None if it never did}."""
    seen = dict.fromkeys(conditions)
    deadline = time.monotonic() + timeout
    while True:
        for name, condition in conditions.items():
            if seen[name] is None and condition():
                seen[name] = time.monotonic()
        if all(v is not None for v in seen.values()) or time.monotonic() >= deadline:
            return seen
        time.sleep(interval)


def _run(args, env=None, timeout=120, cwd=None, what=None):
    """Runs a program to its end with its output in a file (a Wine child can
    hold a pipe open long after the program itself ended)."""
    with tempfile.TemporaryFile() as out:
        try:
            proc = subprocess.run(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("%s did not end within %d s" % (what or args[0], timeout))
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if proc.returncode != 0:
        raise HarnessError("%s failed (exit %d): %s" % (what or " ".join(map(str, args)),
                                                       proc.returncode, text[-2000:]))
    return text


def _win_of_unix(path):
    """Windows name of a host path through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")
