"""The host processes of one Wine prefix and the Windows programs they run,
read from /proc: a list of what runs now (`prefix_processes`) and a watch
that follows every process over time (`ProcessWatch`).

A process belongs to the prefix whose WINEPREFIX is in its environment. A
Wine process starts as a fork of its parent (same name, same command line),
then executes "<loader> C:\\...\\PROGRAM.exe ARGS", then rewrites its command
line to "C:\\...\\PROGRAM.exe ARGS"; which words are the loader's is the
target's to say."""

import os

from .target import target


def pids():
    return {int(e) for e in os.listdir("/proc") if e.isdigit()}


def read(pid, what):
    """/proc/PID/what, or None once the process is gone."""
    try:
        with open("/proc/%d/%s" % (pid, what), "rb") as f:
            return f.read()
    except OSError:
        return None


def alive(pid):
    """Whether the process runs: its id there and not a zombie."""
    stat = read(pid, "stat")
    return stat is not None and stat.rsplit(b")", 1)[1].split()[0] not in (b"Z", b"X")


def marker(prefix_path):
    """The environment entry that marks a process of the prefix."""
    return ("WINEPREFIX=%s" % target().inside(prefix_path)).encode()


def windows_command(cmdline):
    """A Wine process's command line (raw /proc bytes) with the loader's
    words taken off the front, as a list of words."""
    words = [w.decode("latin-1") for w in cmdline.split(b"\0") if w]
    names = target().loader_names
    while words and os.path.basename(words[0]) in names:
        words = words[1:]
    return words


def program(cmdline):
    """The Windows program's file name in a Wine process's command line,
    lower case, or None while it runs no Windows program yet."""
    words = windows_command(cmdline)
    if not words or len(words[0]) < 3 or words[0][1] != ":":
        return None
    return words[0].rsplit("\\", 1)[-1].lower()


def prefix_processes(prefix_path):
    """The live processes of the prefix as (host pid, command line with the
    loader's words taken off)."""
    mark = marker(prefix_path)
    found = []
    for pid in pids():
        environ = read(pid, "environ")
        if not environ or mark not in environ.split(b"\0") or not alive(pid):
            continue
        cmdline = read(pid, "cmdline")
        if cmdline is not None:
            found.append((pid, " ".join(windows_command(cmdline)).strip()))
    return found


class ProcessWatch:
    """Every process of one prefix over time, by the Windows programs it ran.

    The program is read from the command line on every poll, so a fork is
    never taken for its parent for longer than it stays one. Process ids are
    reused (pid_max may be as low as 32768), so a process is a record, not an
    id: a record is made when its id shows up in /proc, and closed when the
    id goes away."""

    class Process:
        def __init__(self, pid):
            self.pid = pid
            self.names = set()
            self.gone = False

    def __init__(self, prefix_path):
        self.marker = marker(prefix_path)
        self.present = pids()      # ids in /proc at the last poll
        self.live = {}             # pid -> Process, ours, id present
        self.all = []              # every Process of ours ever seen
        self.pending = set()       # ids whose environment was empty

    def alive(self, process):
        return not process.gone and alive(process.pid)

    def poll(self):
        present = pids()
        for pid in self.present - present:
            process = self.live.pop(pid, None)
            if process is not None:
                process.gone = True
        # A process caught in the middle of its exec shows no environment
        # yet: it is looked at again on the next poll.
        self.pending &= present
        for pid in (present - self.present) | self.pending:
            environ = read(pid, "environ")
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
            cmdline = read(process.pid, "cmdline")
            name = program(cmdline) if cmdline else None
            if name is not None:
                process.names.add(name)

    def ever(self, name):
        """Every process of ours that has run the program, oldest first."""
        return [p for p in self.all if name.lower() in p.names]

    def running(self, name):
        return [p for p in self.ever(name) if self.alive(p)]
