"""The Wine session and the prefixes of a test run: one X server, the compiled
helpers and one pristine prefix per run (`session`), a fresh copy of it per
test (`WinePrefix`), and the programs started in it (`Launch`). Every Wine
command goes through the run's target (`target.py`)."""

import atexit
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

from .base import (HELPER_SOURCES, RUN_TIMEOUT, HarnessError, Running, bound,
                   missing_requirements, run_to_end, uninstaller_exe, wait_until)
from .processes import prefix_processes
from .registry import parse_wine_registry
from .snapshots import Snapshot, _volatile, take_files
from .target import target
from .xserver import start_xvfb, stop

# The helper programs, compiled for the target at the start of a run, and
# whether each is a GUI program.
HELPERS = (("launch", False), ("inspect", False), ("record", True), ("hold", False))


class _Session:
    def __init__(self, display=None):
        self.root = Path(tempfile.mkdtemp(prefix="quillmere-wine-"))
        self.target = target()
        self.xvfb = None
        # On a display of the user's own, a window manager runs and Wine's
        # windows are left to it.
        self.own_display = display is None
        self.display = display
        self._count = 0
        self._opened = False
        try:
            if self.own_display:
                self.xvfb, self.display = start_xvfb(self.root / "xvfb.log")
            self.target.open(self.root)
            self._opened = True
            self.pristine = self.root / "pristine"
            self._make_pristine_prefix()
        except BaseException:
            self.close()
            raise

    def _compile_helpers(self):
        """Starts compiling the helper programs, all at once; returns their
        paths and a function that waits until all are built."""
        out = self.root / "helpers"
        out.mkdir()
        built, compiling = {}, []
        for name, gui in HELPERS:
            exe = out / (name + ".exe")
            args = [self.target.compiler, "-O2", "-Wall", "-Werror", "-o", str(exe),
                    str(HELPER_SOURCES / (name + ".c"))]
            if gui:
                args.insert(1, "-mwindows")
            compiling.append(Running(args, what="compiling the %s helper" % name))
            built[name] = exe
        return built, lambda: [c.finish() for c in compiling]

    def base_env(self, prefix, home):
        env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
        env.update({
            "WINEPREFIX": self.target.inside(prefix),
            "HOME": self.target.inside(home),
            "WINEDEBUG": "-all",
            "DISPLAY": self.display,
            # No menu entries in the host's home; no Mono or Gecko installer
            # popping up.
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree,mshtml=",
        })
        env.pop("XDG_CONFIG_HOME", None)
        env.pop("XDG_DATA_HOME", None)
        env.update(self.target.environment)
        return env

    def wine(self, args, prefix, home, timeout, what):
        """Runs a Wine command in a prefix to its end; returns its output."""
        return run_to_end(self.target.command(*args), env=self.base_env(prefix, home),
                          timeout=bound(timeout), cwd=self.root, what=what)

    def end_server(self, prefix, home):
        """Ends every process of a prefix and its server, and waits for the
        server to be gone (it writes the registry files as it ends). With no
        server running, -k has nothing to do and says so; that is no error."""
        for flag in ("-k", "-w"):
            subprocess.run(self.target.server_command(flag), env=self.base_env(prefix, home),
                           cwd=self.root, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=bound(60))

    def reg_import(self, prefix, home, body):
        """Imports registry text (REGEDIT4 body without its header). Once,
        with other runs loading both processors, Wine's reg ended with 1 and
        said nothing; an import is the same twice, so a failed one is tried
        once more, and its failure is told either way."""
        reg = Path(tempfile.mkstemp(suffix=".reg", dir=self.root)[1])
        try:
            reg.write_bytes(("REGEDIT4\r\n\r\n" + body.replace("\n", "\r\n")).encode("latin-1"))
            command = ["reg", "import", self.target.windows_path(reg)]
            try:
                self.wine(command, prefix, home, 120, "reg import")
            except HarnessError as error:
                print("reg import failed, tried again: %s" % error, file=sys.stderr)
                self.wine(command, prefix, home, 120, "reg import, tried again")
        finally:
            reg.unlink()

    def _make_pristine_prefix(self):
        """Boots the pristine prefix, with the helpers compiled meanwhile (a
        boot waits on its server and services more than it computes)."""
        home = self.root / "pristine-home"
        home.mkdir()
        env = self.base_env(self.pristine, home)
        boot = Running(self.target.command("wineboot", "--init"), env=env, cwd=self.root,
                       what="wineboot --init")
        self.helpers, helpers_built = self._compile_helpers()
        helpers_built()
        boot.finish(bound(300))
        run_to_end(self.target.server_command("-w"), env=env, timeout=bound(120), cwd=self.root,
                   what="wineserver -w")
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
        # This also starts the prefix once after its boot: what Wine changes
        # at the first start after a boot (it may drop an empty key the boot
        # made) is then part of the pristine prefix, not of a test's run.
        self.reg_import(self.pristine, home, settings)
        # The glyphs of the caption buttons come from Marlett, which this
        # Wine does not find in its own data folder; without it the close
        # box shows a plain "r".
        marlett = Path("/usr/share/wine/fonts/marlett.ttf")
        if marlett.exists():
            shutil.copyfile(marlett, self.pristine / "drive_c" / "windows" / "Fonts" / "marlett.ttf")
        # The server writes the registry when it ends.
        self.end_server(self.pristine, home)

    def locale(self, name):
        """Host variables that run Wine in a C library locale (language and
        charmap, "ja_JP.UTF-8"); Wine takes its code pages from it. The
        locale is built with localedef into the session's folder on first
        use: a fresh Debian compiles none but C.UTF-8, and LC_ALL naming one
        the C library lacks gives the code page in the registry but leaves
        the host's file names undecoded."""
        folder = self.root / "locales"
        if not (folder / name).is_dir():
            folder.mkdir(exist_ok=True)
            language, charmap = name.split(".")
            run_to_end(["localedef", "-i", language, "-f", charmap, str(folder / name)],
                       what="localedef " + name)
        return {"LC_ALL": name, "LOCPATH": self.target.inside(folder)}

    def new_prefix_dir(self):
        self._count += 1
        return self.root / ("prefix-%03d" % self._count)

    def close(self):
        # A prefix a test did not get to close (the run was interrupted)
        # must not leave its server and programs behind.
        if self._opened:
            self.end_server(self.root / "pristine", self.root / "pristine-home")
            for prefix in self.root.glob("prefix-*/prefix"):
                self.end_server(prefix, prefix.parent / "home")
            self.target.close()
        if self.xvfb is not None:
            stop(self.xvfb)
            self.xvfb = None
        shutil.rmtree(self.root, ignore_errors=True)


_session = None
_session_error = None


def session(display=None, uninstaller=True):
    """The run's shared X server, helpers and pristine prefix, made on first
    use and torn down when the interpreter ends. Given a display, the
    session uses it instead of an Xvfb of its own. With uninstaller=False it
    is made before the uninstaller is built."""
    global _session, _session_error
    if _session_error is not None:
        raise HarnessError(_session_error)
    if _session is None:
        missing = missing_requirements(uninstaller)
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

    def exit_code(self, timeout=None):
        """Waits for the program to end and returns its exit code. A program
        still running after timeout seconds (by default the run's bound for
        the target) is killed with everything else in the prefix, and the
        test fails."""
        timeout = bound(RUN_TIMEOUT) if timeout is None else timeout
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
        # Host variables for this prefix's programs alone (use_locale).
        self.host_env = {}

    def env(self):
        return dict(self.session.base_env(self.path, self.home), **self.host_env)

    def use_locale(self, name):
        """Runs the programs started from here on in a C library locale,
        and so in its code pages (see _Session.locale)."""
        self.host_env.update(self.session.locale(name))

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
        self.session.reg_import(self.path, self.home, body)

    def start(self, command_line, cwd="C:\\", env=None, program=""):
        """Starts command_line in the prefix with cwd as its current
        directory and env (name -> value) added to its environment; returns
        a Launch to wait on. The line reaches the program byte for byte, but
        that Wine quotes an unquoted program path with blanks unless the
        program is named."""
        self._launches += 1
        request = self.root / ("launch-%02d.txt" % self._launches)
        lines = [cwd, command_line, program] + ["%s=%s" % kv for kv in (env or {}).items()]
        request.write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))
        log = open(self.root / ("launch-%02d.out" % self._launches), "wb")
        try:
            popen = subprocess.Popen(self.helper_command("launch", self.windows_path(request)), env=self.env(),
                                     cwd=str(self.root), stdin=subprocess.DEVNULL, stdout=log,
                                     stderr=subprocess.STDOUT)
        finally:
            log.close()
        return Launch(self, command_line, popen, request)

    def windows_path(self, unix_path):
        """The Windows name of a host path, as the prefix's programs see it."""
        return self.session.target.windows_path(unix_path)

    def helper_command(self, helper, *args):
        """argv running one of the helper programs in the prefix."""
        return self.session.target.command(self.windows_path(self.session.helpers[helper]),
                                           *args)

    def run(self, command_line, cwd="C:\\", env=None, timeout=None):
        """Runs command_line to its end and returns its exit code."""
        return self.start(command_line, cwd, env).exit_code(timeout)

    def processes(self):
        """The Windows programs running in this prefix, as (host pid, command
        line) pairs, Wine's own services left out."""
        helpers = self.windows_path(self.session.helpers["launch"].parent)
        found = []
        for pid, cmdline in prefix_processes(self.path):
            low = cmdline.lower()
            if (low.startswith("c:\\windows\\") or "wineserver" in low or not low
                    or helpers.lower() in low):
                continue
            found.append((pid, cmdline))
        return found

    def running(self, name):
        """The programs in the prefix whose command line mentions name."""
        return [p for p in self.processes() if name.lower() in p[1].lower()]

    def wait_ended(self, names, timeout):
        """Waits up to timeout for every program whose command line
        mentions one of names to have ended in the prefix."""
        try:
            wait_until(lambda: not any(self.running(n) for n in names), timeout,
                       "%s to end" % ", ".join(names))
        except HarnessError:
            raise HarnessError("still running after %.1f s: %s" % (
                timeout, [p for n in names for p in self.running(n)]))

    def kill(self):
        """Ends every process of the prefix, and its server."""
        self.session.end_server(self.path, self.home)

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


def run_tool(name, body, uninstaller=None, display=None, build=None):
    """Runs a command-line tool of the toolkit (the demo, the screenshot
    maker, the benchmark): body gets a fresh prefix, closed after it, on
    the given display or an Xvfb of the session's own; uninstaller, if
    given, is the one under test. build, if given, is a command that makes
    the uninstaller: it runs, its output shown, while Wine sets up. Returns
    the exit code: 0, or 1 with the message when the toolkit failed."""
    if uninstaller:
        os.environ["UNINSTALLER_EXE"] = str(uninstaller)
    # The signing password (tools/run.sh hands it on) is the build's alone,
    # for tools/sign.sh at its end: Wine and what it runs never see it.
    password = os.environ.pop("SIGN_PASSWORD", None)
    build_env = None if password is None else dict(os.environ, SIGN_PASSWORD=password)
    building = subprocess.Popen(build, stdin=subprocess.DEVNULL, env=build_env) if build else None
    try:
        print("%s: setting up Wine for %s ..." % (name, uninstaller_exe()), file=sys.stderr,
              flush=True)
        session(display, uninstaller=building is None)
        if building is not None and building.wait() != 0:
            raise HarnessError("%s failed (exit %d)" % (" ".join(build), building.returncode))
        if not uninstaller_exe().is_file():
            raise HarnessError("no uninstaller at %s" % uninstaller_exe())
        prefix = WinePrefix()
        try:
            body(prefix)
        finally:
            prefix.close()
    except HarnessError as error:
        print("%s: %s" % (name, error), file=sys.stderr)
        return 1
    finally:
        if building is not None and building.poll() is None:
            building.terminate()
            building.wait()
    return 0
