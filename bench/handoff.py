#!/usr/bin/python3
"""Times the uninstaller's hand-off under Wine against a baseline.

Usage: handoff.py TWIN_EXE BASELINE_EXE RUNS OUT_JSON

One Wine prefix (from the Wine test harness, tests/wine/harness.py) serves
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
import re
import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))
import harness  # noqa: E402  (the Wine test harness, used as it is)

POLL_S = 0.002
# Far above any healthy hand-off (each of its waits is bounded at 2000 ms):
# a run that has not finished by then is a failure, not a slow sample.
RUN_LIMIT_S = 10.0
BASELINE_CAPTION = "Baseline hand-off"
UNINSTALLER_NAME = "Uninstall.exe"
COPY_NAME = "suicide.exe"
BASELINE_NAME = "baseline.exe"
BASELINE_COPY_NAME = "blcopy.exe"
BASELINE_WIN_PATH = r"C:\bench\baseline.exe"


class ProcessWatch:
    """Linux processes of one Wine prefix, by the Windows program they run.

    A Wine process starts as a fork of its parent (same name, same command
    line), then executes "wine64 C:\\...\\PROGRAM.exe ARGS", then rewrites its
    command line to "C:\\...\\PROGRAM.exe ARGS". The program is read from the
    command line on every poll, so a fork is never taken for its parent for
    longer than it stays one.

    Process ids are reused (pid_max may be as low as 32768), so a process is
    a record, not an id: a record is made when its id shows up in /proc, and
    closed when the id goes away."""

    class Process:
        def __init__(self, pid):
            self.pid = pid
            self.names = set()
            self.gone = False

    def __init__(self, prefix_path):
        self.marker = ("WINEPREFIX=%s" % prefix_path).encode()
        self.present = set(self._pids())   # ids in /proc at the last poll
        self.live = {}                      # pid -> Process, ours, id present
        self.all = []                       # every Process of ours ever seen
        self.pending = set()                # ids whose environment was empty

    @staticmethod
    def _pids():
        return {int(e) for e in os.listdir("/proc") if e.isdigit()}

    @staticmethod
    def _read(pid, what):
        try:
            with open("/proc/%d/%s" % (pid, what), "rb") as f:
                return f.read()
        except OSError:
            return None

    def alive(self, process):
        """Whether the process runs: its id still there and not a zombie."""
        if process.gone:
            return False
        stat = self._read(process.pid, "stat")
        if stat is None:
            return False
        return stat.rsplit(b")", 1)[1].split()[0] not in (b"Z", b"X")

    @staticmethod
    def program(cmdline):
        """The Windows program's file name in a Wine process's command line,
        lower case, or None."""
        args = [a for a in cmdline.split(b"\0") if a]
        if not args:
            return None
        if args[0].endswith((b"/wine64", b"/wine64-preloader", b"/wine")):
            args = args[1:]
            if not args:
                return None
        exe = args[0].decode("latin-1")
        if len(exe) < 3 or exe[1] != ":":
            return None
        return exe.rsplit("\\", 1)[-1].lower()

    def poll(self):
        present = self._pids()
        for pid in self.present - present:
            process = self.live.pop(pid, None)
            if process is not None:
                process.gone = True
        # A process caught in the middle of its exec shows no environment
        # yet: it is looked at again on the next poll.
        self.pending &= present
        for pid in (present - self.present) | self.pending:
            environ = self._read(pid, "environ")
            if not environ:
                self.pending.add(pid)
                continue
            self.pending.discard(pid)
            if self.marker in environ.split(b"\0"):
                process = self.Process(pid)
                self.live[pid] = process
                self.all.append(process)
        self.present = present
        for process in self.live.values():
            cmdline = self._read(process.pid, "cmdline")
            name = self.program(cmdline) if cmdline else None
            if name is not None:
                process.names.add(name)

    def ever(self, name):
        """Every process of ours that has run the program, oldest first."""
        return [p for p in self.all if name.lower() in p.names]

    def running(self, name):
        return [p for p in self.ever(name) if self.alive(p)]


def visible_window(caption, display, timeout=harness.DIALOG_TIMEOUT):
    """The mapped X window titled exactly caption (a closed dialog's window
    can live on unmapped)."""
    pattern = "^%s$" % re.escape(caption)

    def search():
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                             env=dict(os.environ, DISPLAY=display), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return [int(w) for w in out.stdout.split()]
    return harness.wait_until(search, timeout, 'a visible window titled "%s"' % caption)[0]


def xdotool(args, display):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=display),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=30, check=True)


# Time for a dialog that has just been mapped to take keys; not timed.
SETTLE_S = 0.3


def close_and_time(prefix, caption, watch, parent_name, copy_name, install_dir=None):
    """Sends Escape to the dialog titled caption and polls until the parent
    and its copy have ended (and the install directory is gone, if given).
    Returns the times in ms from the key, None for what was not seen."""
    display = harness.session().display
    window = visible_window(caption, display)
    time.sleep(SETTLE_S)
    watch.poll()
    parents = watch.running(parent_name)
    if len(parents) != 1:
        raise harness.HarnessError("expected one running %s, found %s" % (
            parent_name, [p.pid for p in parents]))
    parent = parents[0]
    # Copies of earlier runs are no copies of this one.
    earlier_copies = watch.ever(copy_name)
    copy = None
    times = {"parent_end": None, "copy_end": None, "dir_gone": None}
    unix_dir = prefix.unix(install_dir) if install_dir else None

    # Focus first (there is no window manager), then the key: the clock
    # starts as the key goes out.
    xdotool(["windowfocus", window], display)
    key = subprocess.Popen(["xdotool", "key", "Escape"], env=dict(os.environ, DISPLAY=display),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
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


def click_yes(prefix, display):
    """A real click on the confirmation's "Yes". The pointer is moved away
    first: `mousemove --sync` to where the pointer already is waits seconds
    for a move that never comes, and every run's dialog sits at the same
    place."""
    dialog = harness.Dialog.wait(prefix, harness.CONFIRM_CAPTION)
    x, y = dialog.control("Yes").centre
    xdotool(["mousemove", 0, 0], display)
    xdotool(["mousemove", "--sync", x, y], display)
    xdotool(["click", 1], display)


def wait_ended(watch, name):
    def ended():
        watch.poll()
        return not watch.running(name)
    harness.wait_until(ended, 30, "%s to end" % name)


def uninstaller_run(prefix, twin, watch):
    sample = harness.lay_sample_install(prefix, uninstaller=twin)
    launch = prefix.start(sample.command_line, cwd="C:\\")
    click_yes(prefix, harness.session().display)
    times = close_and_time(prefix, harness.COMPLETED_CAPTION, watch, UNINSTALLER_NAME, COPY_NAME,
                           sample.install_dir)
    times["exit_code"] = launch.exit_code(30)
    wait_ended(watch, COPY_NAME)
    times["copy_file_left"] = prefix.exists(prefix.temp + "\\" + COPY_NAME)
    times["uninstaller_left"] = prefix.exists(sample.uninstaller)
    return times


def baseline_run(prefix, watch):
    launch = prefix.start(BASELINE_WIN_PATH, cwd="C:\\")
    times = close_and_time(prefix, BASELINE_CAPTION, watch, BASELINE_NAME, BASELINE_COPY_NAME)
    times["exit_code"] = launch.exit_code(30)
    wait_ended(watch, BASELINE_COPY_NAME)
    return times


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    twin, baseline, runs, out = Path(argv[1]).resolve(), Path(argv[2]).resolve(), int(argv[3]), argv[4]
    for program in (twin, baseline):
        if not program.is_file():
            raise SystemExit("handoff: no such file: %s" % program)
    missing = [m for m in harness.missing_requirements() if "twin" not in m]
    if missing:
        raise SystemExit("handoff: this machine lacks: " + ", ".join(missing))

    prefix = harness.WinePrefix()
    try:
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
    finally:
        prefix.close()
    return 0


def _fmt(t):
    return " ".join("%s=%s" % (k, "-" if t[k] is None else "%.1f" % t[k])
                    for k in ("parent_end", "copy_end", "dir_gone") if k in t)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
