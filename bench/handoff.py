#!/usr/bin/python3
"""Times the uninstaller's hand-off under Wine against a baseline.

Usage: handoff.py TWIN_EXE BASELINE_EXE RUNS OUT_JSON

One Wine prefix (from the Wine toolkit, tools/winekit/) serves
every run; the sample install is laid anew before each uninstaller run. Runs
alternate, uninstaller then baseline, so that a slow patch of the machine
falls on both alike.

An uninstaller run: start the twin from the install directory as Explorer
would, answer "Yes" to the confirmation, wait for the completion dialog and
close it with Escape (no browser). The clock starts when that key is sent.
Then, polling every couple of milliseconds:
- the uninstall role's end: its Linux process (named "Uninstall.exe") gone;
- the copy's end: the process named "suicide.exe" gone;
- the install directory gone from the file system.

A baseline run: start the baseline, close its message box with Escape (clock
starts), then the ends of the copy ("blcopy.exe") and of the baseline itself.

The result is a JSON file with every run's times in milliseconds.
"""

import json
import sys
import time
from pathlib import Path

from winekit.base import HarnessError
from winekit.dialogs import Dialog
from winekit.processes import ProcessWatch
from winekit.product import (COMPLETED_CAPTION, CONFIRM_CAPTION, TEMP_COPY_NAME, UNINSTALLER_NAME,
                             lay_sample_install)
from winekit.wineprefix import run_tool

POLL_S = 0.002
# Far above any healthy hand-off (each of its waits is bounded at 2000 ms):
# a run that has not finished by then is a failure, not a slow sample.
RUN_LIMIT_S = 10.0
BASELINE_CAPTION = "Baseline hand-off"
COPY_NAME = TEMP_COPY_NAME
BASELINE_NAME = "baseline.exe"
BASELINE_COPY_NAME = "blcopy.exe"
BASELINE_WIN_PATH = r"C:\bench\baseline.exe"
# Time for a dialog that has just been mapped to take keys; not timed.
SETTLE_S = 0.3


def close_and_time(prefix, caption, watch, parent_name, copy_name, install_dir=None):
    """Sends Escape to the dialog titled caption and polls until the parent
    and its copy have ended (and the install directory is gone, if given).
    Returns the times in ms from the key, None for what was not seen."""
    dialog = Dialog.wait(prefix, caption)
    time.sleep(SETTLE_S)
    watch.poll()
    parents = watch.running(parent_name)
    if len(parents) != 1:
        raise HarnessError("expected one running %s, found %s" % (
            parent_name, [p.pid for p in parents]))
    parent = parents[0]
    # Copies of earlier runs are no copies of this one.
    earlier_copies = watch.ever(copy_name)
    copy = None
    times = {"parent_end": None, "copy_end": None, "dir_gone": None}
    unix_dir = prefix.unix(install_dir) if install_dir else None

    # The clock starts as the key goes out.
    key = dialog.key("Escape", wait=False)
    start = time.monotonic()
    while True:
        now = time.monotonic()
        elapsed = (now - start) * 1000.0
        watch.poll()
        if times["parent_end"] is None and not watch.alive(parent):
            times["parent_end"] = elapsed
        if copy is None:
            copies = [p for p in watch.ever(copy_name) if p not in earlier_copies]
            if copies:
                copy = copies[0]
        if copy is not None and times["copy_end"] is None and not watch.alive(copy):
            times["copy_end"] = elapsed
        if unix_dir is not None and times["dir_gone"] is None and not unix_dir.exists():
            times["dir_gone"] = elapsed
        done = times["parent_end"] is not None and times["copy_end"] is not None
        if unix_dir is not None:
            done = done and times["dir_gone"] is not None
        if done or now - start > RUN_LIMIT_S:
            break
        time.sleep(POLL_S)
    key.wait()
    return times


def uninstaller_run(prefix, twin, watch):
    sample = lay_sample_install(prefix, uninstaller=twin)
    launch = prefix.start(sample.command_line, cwd="C:\\")
    Dialog.wait(prefix, CONFIRM_CAPTION).click("Yes")
    times = close_and_time(prefix, COMPLETED_CAPTION, watch, UNINSTALLER_NAME, COPY_NAME,
                           sample.install_dir)
    times["exit_code"] = launch.exit_code(30)
    prefix.wait_ended([COPY_NAME], 30)
    times["copy_file_left"] = prefix.exists(prefix.temp + "\\" + COPY_NAME)
    times["uninstaller_left"] = prefix.exists(sample.uninstaller)
    return times


def baseline_run(prefix, watch):
    launch = prefix.start(BASELINE_WIN_PATH, cwd="C:\\")
    times = close_and_time(prefix, BASELINE_CAPTION, watch, BASELINE_NAME, BASELINE_COPY_NAME)
    times["exit_code"] = launch.exit_code(30)
    prefix.wait_ended([BASELINE_COPY_NAME], 30)
    return times


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    twin, baseline, runs, out = Path(argv[1]).resolve(), Path(argv[2]).resolve(), int(argv[3]), argv[4]
    if not baseline.is_file():
        raise SystemExit("handoff: no such file: %s" % baseline)

    def measure(prefix):
        prefix.install_file(baseline, BASELINE_WIN_PATH)
        watch = ProcessWatch(prefix.path)
        result = {"runs": runs, "poll_ms": POLL_S * 1000, "uninstaller": [], "baseline": []}
        # One run of each first, not counted: the prefix's first starts of a
        # program load Wine's DLLs from a cold disk cache.
        for counted in [False] + [True] * runs:
            u = uninstaller_run(prefix, twin, watch)
            b = baseline_run(prefix, watch)
            if counted:
                result["uninstaller"].append(u)
                result["baseline"].append(b)
                sys.stderr.write("run %2d: hand-off %s  baseline %s\n" % (
                    len(result["uninstaller"]), _fmt(u), _fmt(b)))
        with open(out, "w") as f:
            json.dump(result, f, indent=1)
    return run_tool("handoff", measure, twin)


def _fmt(t):
    return " ".join("%s=%s" % (k, "-" if t[k] is None else "%.1f" % t[k])
                    for k in ("parent_end", "copy_end", "dir_gone") if k in t)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
