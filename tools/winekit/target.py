"""The Wine a run drives: its target.

Everything that depends on which Wine runs which build of the uninstaller is
here and nowhere else: the command that starts a Windows program and the
one that runs the server, how a host path is seen inside, the compiler of
the helper programs, the uninstaller tested by default, the environment
Wine needs, and how much longer than under the host's own Wine a start may
take. The rest of the toolkit asks the target and never names a Wine.

`WINE_TARGET` chooses one of `TARGETS` by name: "x86_64" (the default), the
64-bit twin under the host's wine64, or "i686", the shipped 32-bit file under
an emulated 32-bit Wine. Another target is one more entry: a `Target`
with its own values, or a subclass where a method must do more (a wrapper
that mounts what a chroot needs in `open` and unmounts it in `close`).
"""

import os
import shutil
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]


class Target:
    """One Wine and the build of the uninstaller it runs.

    name         the build's architecture, as in build/<name>/Uninstall.exe
    loader       argv that runs a Windows program: loader + [program, args]
    server       argv of the wineserver: server + ["-k"]
    compiler     the mingw C compiler for the helper programs
    uninstaller  the uninstaller tested when $UNINSTALLER_EXE is not set
    environment  variables added to every Wine command's environment
    slowdown     how many times longer than under the host's wine64 a
                 process start, a dialog's showing or a whole run may take
                 (CPU emulation: tens of times)
    start_time   seconds one process start may add to a timed sequence on a
                 loaded machine
    loader_names file names a Wine process's command line may start with
                 before the Windows program (the loader, its preloader, an
                 emulator), for telling which program a process runs
    """

    def __init__(self, name, loader, server, compiler, uninstaller, environment=None,
                 slowdown=1.0, start_time=1.0, loader_names=()):
        self.name = name
        self.loader = list(loader)
        self.server = list(server)
        self.compiler = compiler
        self.uninstaller = Path(uninstaller)
        self.environment = dict(environment or {})
        self.slowdown = slowdown
        self.start_time = start_time
        self.loader_names = {os.path.basename(a) for a in self.loader}
        self.loader_names.update(loader_names)

    def command(self, *args):
        """argv running a Windows program (or Wine's own, such as "reg")."""
        return self.loader + [str(a) for a in args]

    def server_command(self, *args):
        return self.server + [str(a) for a in args]

    def inside(self, unix_path):
        """A host path as Wine's processes see it (WINEPREFIX, HOME)."""
        return str(unix_path)

    def windows_path(self, unix_path):
        """The Windows name of a host path, through Wine's Z: drive."""
        return "Z:" + self.inside(unix_path).replace("/", "\\")

    def bound(self, seconds):
        """A time bound set for the host's wine64, scaled to this target."""
        return seconds * self.slowdown

    def missing(self):
        """What this machine lacks to run this target, as readable names."""
        lacking = [p for p in (self.loader[0], self.server[0])
                   if shutil.which(p) is None and not os.access(p, os.X_OK)]
        if shutil.which(self.compiler) is None:
            lacking.append(self.compiler)
        return lacking

    def open(self, root):
        """Called once before the first Wine command of a session whose
        files all live under root; a target that needs mounts makes them."""

    def close(self):
        """Called once after the session's last Wine command."""

    def __repr__(self):
        return "Target(%s)" % self.name


class EmulatedTarget(Target):
    """The shipped 32-bit build under a 32-bit Wine in an i386 chroot, every
    32-bit process emulated by qemu (this machine's kernel runs no 32-bit
    code). tools/setup-i386-wine.sh builds the chroot; tools/i386-wine.sh
    runs each Wine command in it, in a mount namespace of its own with the
    host's /tmp bound at its own path, so paths inside are the host's and
    nothing is left mounted after a command, whatever becomes of it."""

    def missing(self):
        """A chroot that is missing or broken is named here, so every test
        fails with the runner's own account of what is wrong."""
        lacking = super().missing()
        if lacking:
            return lacking
        proc = subprocess.run(self.command("--version"), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        out = proc.stdout.decode(errors="replace").strip()
        if proc.returncode != 0 or not out.startswith("wine-"):
            said = proc.stderr.decode(errors="replace").strip() or out
            lacking.append("the emulated 32-bit Wine (%s)" % (said or "exit %d" % proc.returncode))
        return lacking


TARGETS = {
    "x86_64": Target(
        name="x86_64",
        loader=["/usr/lib/wine/wine64"],
        server=["/usr/lib/wine/wineserver"],
        compiler="x86_64-w64-mingw32-gcc",
        uninstaller=REPO / "build" / "x86_64" / "Uninstall.exe",
        loader_names=("wine64-preloader", "wine"),
    ),
    # The product file itself. Under emulation a Wine process takes 2-5 s to
    # start (under a second natively) and a dialog several seconds to show,
    # so bounds are four times as long. A process's command line starts with
    # the emulator and the loader twice (binfmt_misc's P flag keeps argv[0]);
    # for a moment after its start it is still the runner's shell.
    "i686": EmulatedTarget(
        name="i686",
        loader=[str(REPO / "tools" / "i386-wine.sh"), "/usr/lib/wine/wine"],
        server=[str(REPO / "tools" / "i386-wine.sh"), "/usr/lib/wine/wineserver"],
        compiler="i686-w64-mingw32-gcc",
        uninstaller=REPO / "build" / "i686" / "Uninstall.exe",
        slowdown=4.0,
        start_time=5.0,
        loader_names=("qemu-i386", "wine-preloader", "bash"),
    ),
}

_chosen = None


def target():
    """The target of this run, chosen by $WINE_TARGET."""
    global _chosen
    if _chosen is None:
        name = os.environ.get("WINE_TARGET") or "x86_64"
        if name not in TARGETS:
            # An AssertionError, as every harness failure: the test fails.
            raise AssertionError("WINE_TARGET=%s: no such target (known: %s)"
                                 % (name, ", ".join(sorted(TARGETS))))
        _chosen = TARGETS[name]
    return _chosen
