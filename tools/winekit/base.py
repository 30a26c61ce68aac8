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

import product_facts as facts

from .target import target

HELPER_SOURCES = Path(__file__).resolve().parent / "helpers"

# Bounds under the host's wine64, scaled by the target (`bound`). Wine starts
# a process there in well under a second once its server runs; these leave
# room for a loaded machine without letting a hung run stall the suite.
RUN_TIMEOUT = 60.0
DIALOG_TIMEOUT = 30.0

_POLL = 0.05


class HarnessError(AssertionError):
    """Raised for anything that keeps a test from running as meant; being an
    AssertionError, unittest counts it as a failure of the test."""


def bound(seconds):
    """A time bound set for the host's wine64, scaled to the run's target."""
    return target().bound(seconds)


def uninstaller_exe():
    """The uninstaller under test: $UNINSTALLER_EXE, else where the build
    writes the target's."""
    path = os.environ.get("UNINSTALLER_EXE")
    if path:
        return Path(path).resolve()
    return target().uninstaller


def feedback_url():
    """The why-uninstall address built into the twin (its host is a build
    setting): the one "http://" string in the file ending in the page's
    path."""
    page = re.escape(facts.FEEDBACK_PATH.encode("ascii"))
    found = re.findall(rb"http://[\x21-\x7e]+?" + page + rb"(?=\0)",
                       uninstaller_exe().read_bytes())
    if len(found) != 1:
        raise HarnessError("expected one feedback address in %s, found %r"
                           % (uninstaller_exe(), found))
    return found[0].decode("ascii")


def missing_requirements(uninstaller=True):
    """What this machine lacks for the tests under Wine, as readable names;
    with uninstaller=False, whether the uninstaller is built is left out."""
    missing = target().missing()
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            missing.append(tool)
    if uninstaller and not uninstaller_exe().is_file():
        missing.append("the %s uninstaller at %s (set UNINSTALLER_EXE)"
                       % (target().name, uninstaller_exe()))
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


class Running:
    """A host program started with its output in a file (a Wine child can
    hold a pipe open long after the program itself ended); `finish` waits
    for its end and fails on a non-zero exit."""

    def __init__(self, args, env=None, cwd=None, what=None):
        self.what = what or " ".join(map(str, args))
        self.out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=subprocess.STDOUT)

    def finish(self, timeout=120):
        """Waits for the end and returns the output."""
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise HarnessError("%s did not end within %.0f s" % (self.what, timeout))
        finally:
            self.out.seek(0)
            text = self.out.read().decode("utf-8", "replace")
            self.out.close()
        if self.proc.returncode != 0:
            raise HarnessError("%s failed (exit %d): %s" % (self.what, self.proc.returncode,
                                                           text[-2000:]))
        return text


def run_to_end(args, env=None, timeout=120, cwd=None, what=None):
    """Runs a program to its end; returns its output."""
    return Running(args, env, cwd, what).finish(timeout)
