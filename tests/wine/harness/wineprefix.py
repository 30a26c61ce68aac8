"""The Wine session and the prefixes of a test run: one X server, the compiled
helpers and one pristine prefix per run (`session`), a fresh copy of it per
test (`WinePrefix`), and the programs started in it (`Launch`)."""

import atexit
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from .base import (HELPER_SOURCES, MINGW_GCC, RUN_TIMEOUT, WINE64, WINESERVER, HarnessError,
                   missing_requirements, _run, _win_of_unix)
from .registry import parse_wine_registry
from .snapshots import Snapshot, _volatile, take_files

# --------------------------------------------------------------------------
# The session: one X server, the compiled helpers and the pristine prefix.

class _Session:
    def __init__(self, display=None):
        self.root = Path(tempfile.mkdtemp(prefix="quillmere-wine-"))
        self.xvfb = None
        # On a display of the user's own, a window manager runs and Wine's
        # windows are left to it.
        self.own_display = display is None
        self.display = display
        try:
            if self.own_display:
                self._start_xvfb()
            self.helpers = self._compile_helpers()
            self.pristine = self.root / "pristine"
            self._make_pristine_prefix()
        except BaseException:
            self.close()
            raise
        self._count = 0

    # One X server per run, on a display number it picks itself as free.
    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        log = open(self.root / "xvfb.log", "wb")
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        finally:
            os.close(write_end)
            log.close()
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(left, 0))
            if not ready:
                os.close(read_end)
                raise HarnessError("Xvfb gave no display number within 30 s")
            chunk = os.read(read_end, 64)
            if not chunk:
                os.close(read_end)
                raise HarnessError("Xvfb ended before giving a display number: %s"
                                   % (self.root / "xvfb.log").read_text(errors="replace"))
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def _compile_helpers(self):
        out = self.root / "helpers"
        out.mkdir()
        built = {}
        for name, gui in (("launch", False), ("inspect", False), ("record", True),
                          ("hold", False)):
            exe = out / (name + ".exe")
            args = [MINGW_GCC, "-O2", "-Wall", "-Werror", "-o", str(exe),
                    str(HELPER_SOURCES / (name + ".c"))]
            if gui:
                args.insert(1, "-mwindows")
            _run(args, what="compiling the %s helper" % name)
            built[name] = exe
        return built

    def base_env(self, prefix, home):
        env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
        env.update({
            "WINEPREFIX": str(prefix),
            "HOME": str(home),
            "WINEDEBUG": "-all",
            "DISPLAY": self.display,
            # No menu entries in the host's home; no Mono or Gecko installer
            # popping up.
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree,mshtml=",
        })
        env.pop("XDG_CONFIG_HOME", None)
        env.pop("XDG_DATA_HOME", None)
        return env

    def _make_pristine_prefix(self):
        home = self.root / "pristine-home"
        home.mkdir()
        env = self.base_env(self.pristine, home)
        _run([WINE64, "wineboot", "--init"], env=env, timeout=300, cwd=self.root,
             what="wineboot --init")
        _run([WINESERVER, "-w"], env=env, timeout=120, cwd=self.root, what="wineserver -w")
        # A new prefix links Desktop, Documents and the like to $HOME: make
        # them real folders inside the prefix, so that nothing a test does
        # reaches outside it and every copy has its own.
        for user_dir in (self.pristine / "drive_c" / "users").iterdir():
            for entry in user_dir.iterdir():
                if entry.is_symlink():
                    entry.unlink()
                    entry.mkdir()
        # Wine's windows unmanaged: there is no window manager on the X
        # server, and for a managed window Wine would wait 2 s for one to
        # acknowledge every hide, and leave caption and frame to it (so there
        # would be no close box at all). Unmanaged, Wine draws frame, caption
        # and close box itself and handles them as Windows does.
        # And a crash of anything must end the run, not wait on a debugger
        # dialog.
        settings = ("[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"
                    "\"ShowCrashDialog\"=dword:00000000\n")
        if self.own_display:
            settings += ("\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"
                         "\"Managed\"=\"N\"\n")
        _reg_import(self, self.pristine, home, settings)
        # The glyphs of the caption buttons come from Marlett, which this
        # Wine does not find in its own data folder; without it the close
        # box shows a plain "r".
        marlett = Path("/usr/share/wine/fonts/marlett.ttf")
        if marlett.exists():
            shutil.copyfile(marlett, self.pristine / "drive_c" / "windows" / "Fonts" / "marlett.ttf")
        # The server writes the registry when it ends.
        _end_server(env)

    def new_prefix_dir(self):
        self._count += 1
        return self.root / ("prefix-%03d" % self._count)

    def close(self):
        # A prefix a test did not get to close (the run was interrupted)
        # must not leave its server and programs behind.
        for prefix in self.root.glob("prefix-*/prefix"):
            _end_server(self.base_env(prefix, prefix.parent / "home"))
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None
        shutil.rmtree(self.root, ignore_errors=True)


def _end_server(env):
    """Ends every process of a prefix and its server, and waits for the
    server to be gone (it writes the registry files as it ends). With no
    server running, -k has nothing to do and says so; that is no error."""
    for flag in ("-k", "-w"):
        subprocess.run([WINESERVER, flag], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def _reg_import(session, prefix, home, body):
    """Imports registry text (REGEDIT4 body without its header) into a prefix."""
    reg = Path(tempfile.mkstemp(suffix=".reg", dir=session.root)[1])
    try:
        reg.write_bytes(("REGEDIT4\r\n\r\n" + body.replace("\n", "\r\n")).encode("latin-1"))
        _run([WINE64, "reg", "import", _win_of_unix(reg)], env=session.base_env(prefix, home),
             timeout=120, cwd=session.root, what="reg import")
    finally:
        reg.unlink()


_session = None
_session_error = None


def session(display=None):
    """The run's shared X server, helpers and pristine prefix, made on first
    use and torn down when the interpreter ends. Given a display, the
    session uses it instead of an Xvfb of its own."""
    global _session, _session_error
    if _session_error is not None:
        raise HarnessError(_session_error)
    if _session is None:
        missing = missing_requirements()
        if missing:
            _session_error = "the tests under Wine need: " + ", ".join(missing)
            raise HarnessError(_session_error)
        try:
            _session = _Session(display)
        except Exception as error:
            _session_error = "could not set up Wine: %s" % error
            raise HarnessError(_session_error)
        atexit.register(_session.close)
        # Stopped by a test driver's time limit, still take Xvfb and the
        # prefixes' servers down.
        if signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
            signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    return _session



# --------------------------------------------------------------------------
# A prefix of one test.

class Launch:
    """One program started in a prefix through the launcher."""

    def __init__(self, prefix, command_line, popen, request):
        self.prefix = prefix
        self.command_line = command_line
        self.popen = popen
        self.request = request
        self.result = Path(str(request) + ".rc")

    def running(self):
        return self.popen.poll() is None

    def exit_code(self, timeout=RUN_TIMEOUT):
        """Waits for the program to end and returns its exit code. A program
        still running after timeout seconds is killed with everything else in
        the prefix, and the test fails."""
        try:
            self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.prefix.kill()
            self.popen.wait()
            raise HarnessError("%s did not end within %.0f s (killed)"
                               % (self.command_line, timeout))
        text = self.result.read_text().strip() if self.result.exists() else ""
        if not text.isdigit():
            raise HarnessError("%s: no exit code (launcher said %r, exit %s)"
                               % (self.command_line, text, self.popen.returncode))
        return int(text)


class WinePrefix:
    """A fresh copy of the pristine prefix, for one test."""

    def __init__(self):
        self.session = session()
        self.root = self.session.new_prefix_dir()
        self.path = self.root / "prefix"
        self.home = self.root / "home"
        self.home.mkdir(parents=True)
        subprocess.run(["cp", "-a", str(self.session.pristine), str(self.path)], check=True)
        self.drive_c = self.path / "drive_c"
        users = [u.name for u in (self.drive_c / "users").iterdir() if u.name != "Public"]
        if len(users) != 1:
            raise HarnessError("expected one user in the prefix, found %s" % users)
        self.user = users[0]
        self.user_dir = "C:\\users\\" + self.user
        self.desktop = self.user_dir + "\\Desktop"
        self.programs = self.user_dir + r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
        self.temp = self.user_dir + "\\Temp"
        self._launches = 0

    def env(self):
        return self.session.base_env(self.path, self.home)

    def unix(self, win_path):
        """Host path of a C: path (written with the case it has on disk)."""
        if not re.match(r"(?i)^c:\\", win_path):
            raise HarnessError("not a C: path: %s" % win_path)
        rest = win_path[3:].replace("\\", "/")
        return self.drive_c / rest if rest else self.drive_c

    def exists(self, win_path):
        """Whether a C: path names something, its name compared without
        regard to case, as Windows does."""
        return self._find(win_path) is not None

    def _find(self, win_path):
        current = self.drive_c
        for part in [p for p in win_path[3:].split("\\") if p]:
            if not current.is_dir():
                return None
            match = [e for e in os.listdir(current) if e.lower() == part.lower()]
            if not match:
                return None
            current = current / match[0]
        return current

    def write_file(self, win_path, data=b"", read_only=False):
        path = self.unix(win_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(data, str):
            data = data.encode("latin-1")
        path.write_bytes(data)
        if read_only:
            # Wine shows a file with no write permission as read-only.
            path.chmod(0o444)
        return path

    def mkdir(self, win_path):
        self.unix(win_path).mkdir(parents=True, exist_ok=True)

    def install_file(self, source, win_path):
        path = self.unix(win_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, path)
        return path

    def reg_import(self, body):
        _reg_import(self.session, self.path, self.home, body)

    def start(self, command_line, cwd="C:\\", env=None):
        """Starts command_line in the prefix with cwd as its current
        directory and env (name -> value) added to its environment; returns
        a Launch to wait on. The line reaches the program byte for byte."""
        self._launches += 1
        request = self.root / ("launch-%02d.txt" % self._launches)
        lines = [cwd, command_line] + ["%s=%s" % kv for kv in (env or {}).items()]
        request.write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))
        log = open(self.root / ("launch-%02d.out" % self._launches), "wb")
        try:
            popen = subprocess.Popen([WINE64, str(self.session.helpers["launch"]),
                                      _win_of_unix(request)],
                                     env=self.env(), cwd=str(self.root), stdin=subprocess.DEVNULL,
                                     stdout=log, stderr=subprocess.STDOUT)
        finally:
            log.close()
        return Launch(self, command_line, popen, request)

    def run(self, command_line, cwd="C:\\", env=None, timeout=RUN_TIMEOUT):
        """Runs command_line to its end and returns its exit code."""
        return self.start(command_line, cwd, env).exit_code(timeout)

    def processes(self):
        """The Windows programs running in this prefix, as (host pid, command
        line) pairs, Wine's own services left out."""
        found = []
        marker = ("WINEPREFIX=%s" % self.path).encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if marker not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    cmdline = f.read().replace(b"\0", b" ").decode("latin-1").strip()
                with open("/proc/%s/stat" % entry, "rb") as f:
                    if f.read().rsplit(b")", 1)[1].split()[0] == b"Z":
                        continue
            except OSError:
                continue
            low = cmdline.lower()
            helpers = self.session.helpers["launch"].parent
            if (low.startswith("c:\\windows\\") or "wineserver" in low or not low
                    or str(helpers).lower() in low or _win_of_unix(helpers).lower() in low):
                continue
            found.append((int(entry), cmdline))
        return found

    def running(self, name):
        """The programs in the prefix whose command line mentions name."""
        return [p for p in self.processes() if name.lower() in p[1].lower()]

    def kill(self):
        """Ends every process of the prefix, and its server."""
        _end_server(self.env())

    def snapshot(self):
        """Files and registry as they stand. The server writes the registry
        files when it ends, so the prefix's server (and whatever still runs in
        it) is ended first."""
        self.kill()
        registry = {}
        for name, root in (("system.reg", "HKLM"), ("user.reg", "HKCU")):
            for key, values in parse_wine_registry(self.path / name, root).items():
                if not _volatile(key):
                    registry[key.lower()] = values
        return Snapshot(take_files(self.drive_c), registry)

    def close(self):
        try:
            self.kill()
        finally:
            shutil.rmtree(self.root, ignore_errors=True)
