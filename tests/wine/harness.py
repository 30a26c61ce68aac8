#!/usr/bin/python3
"""Runs the uninstaller's 64-bit twin under Wine for the end-to-end tests.

One test run gets one X server (Xvfb on a free display) and one pristine Wine
prefix, made once with `wineboot --init`; every test works on its own copy of
that prefix, so tests stay independent and a prefix costs a copy, not a boot.

What the harness gives a test:
- `WinePrefix`: a fresh copy of the pristine prefix, with its paths, a way to
  run the twin (or any program) with an exact command line, current directory
  and environment and to read its exit code, the Wine processes alive in it,
  and snapshots of its files and registry;
- `Snapshot` and `diff`: what changed between two snapshots;
- `Dialog`: a dialog found on the X display by its caption, driven with real
  key presses and mouse clicks (xdotool), described control by control;
- `lay_sample_install`: the product as its installer leaves it;
- `register_browser` / `recorded_runs`: a recording program registered as
  the browser, to read exactly what the uninstaller started.

A missing wine64, Xvfb, xdotool, mingw compiler or twin makes every test
fail, never skip (see `WineTestCase`).
"""

import atexit
import os
import re
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
HELPER_SOURCES = Path(__file__).resolve().parent / "helpers"

WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
MINGW_GCC = "x86_64-w64-mingw32-gcc"

CONFIRM_CAPTION = "Confirm removing of Quillmere"
COMPLETED_CAPTION = "Uninstall Completed"

SETTINGS_KEY = r"HKCU\Software\Korrindal\Quillmere"
PROGRAM_PATH_VALUE = "Program Path"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere"
BROWSER_KEY = r"HKLM\Software\Classes\CLSID\{0002DF01-0000-0000-C000-000000000046}\LocalServer32"
TEMP_COPY_NAME = "suicide.exe"

INSTALL_DIR = r"C:\Program Files\Quillmere"
# The product's files as its installer writes them.
PRODUCT_FILES = ("Quillmere.exe", "Quillmere.hlp", "Quillmere.cnt", "Quillmere.gid",
                 "Quillmere.fts", "Quillmere.ftg", "Buy Online Now!.url")
# The same names in other letter cases: the sweep compares without regard to
# ASCII case, so each of these must go as well.
MIXED_CASE_PRODUCT_FILES = ("QUILLMERE.EXE", "quillmere.hlp", "QuillMere.Cnt", "qUILLMERE.gId",
                            "Quillmere.FTS", "quillMERE.ftg", "BUY ONLINE NOW!.URL")
PROGRAM_GROUP_FILES = ("Quillmere.lnk", "Quillmere Help.lnk", "Uninstall Quillmere.lnk",
                       "Buy Online Now!.url")

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
# Registry text.

def reg_string(text):
    """A REGEDIT4 string literal."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


_ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER",
          "HKCR": "HKEY_CLASSES_ROOT"}


def reg_key(path):
    """A REGEDIT4 key header for a path written with a short root name."""
    root, _, rest = path.partition("\\")
    return "[%s\\%s]" % (_ROOTS.get(root.upper(), root), rest)


def _unescape(text):
    """Undoes the escapes of Wine's registry files (\\\\, \\", \\n, \\xHHHH...)."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if m:
                    out.append(chr(int(m.group(0), 16)))
                    i += 2 + len(m.group(0))
                    continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0", "a": "\a", "b": "\b",
                        "e": "\x1b", "f": "\f", "v": "\v"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def parse_wine_registry(path, root):
    """Reads a wineserver registry file into {key path: {value name: data}}.

    Key paths get `root` in front ("HKLM", "HKCU"); the default value is named
    "@". Data stays in the file's notation ('"text"', 'dword:00000001',
    'hex:...', 'str(2):"..."') but with string escapes undone, so equal data
    compares equal. The time stamps that follow each key name and the
    "#time=" lines change whenever the server rewrites a key, so they are
    left out; other "#" lines (arch, class, link) are kept as values of their
    key or dropped with the header."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.endswith("\\") and current is not None and not line.startswith("["):
                # Long hex data is continued on the next line.
                pending = line[:-1]
                continue
            if line.startswith("["):
                end = _closing_bracket(line)
                name = _unescape(line[1:end])
                current = root + "\\" + name
                keys.setdefault(current, {})
                # A key is written only with its values or as a leaf: its
                # parents are implied, and one that loses its last subkey
                # appears on its own. Keep them all, so that this is no
                # change.
                parent = current
                while parent.count("\\") > 1:
                    parent = parent.rsplit("\\", 1)[0]
                    keys.setdefault(parent, {})
            elif current is None or not line or line.startswith(";"):
                continue
            elif line.startswith("#"):
                if line.startswith("#time=") or line.startswith("#arch="):
                    continue
                keys[current][line.partition("=")[0]] = line.partition("=")[2]
            elif line.startswith("@="):
                keys[current]["@"] = _unescape(line[2:])
            elif line.startswith('"'):
                end = _closing_quote(line)
                name = _unescape(line[1:end])
                keys[current][name] = _unescape(line[end + 2:])
    return keys


def _closing_bracket(line):
    i = 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == "]":
            return i
        i += 1
    return len(line)


def _closing_quote(line):
    i = 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == '"':
            return i
        i += 1
    return len(line)


# --------------------------------------------------------------------------
# Snapshots.

# What Wine itself changes in a prefix between two snapshots whatever the
# program does, found by diffing prefixes around every kind of run in these
# tests with nothing left out:
# - the registry's time stamps (each key's header and its "#time=" line);
# - the display adapter and monitor classes, which the X11 driver rewrites
#   each time it starts (their names and a driver date).
# Nothing else changed, under drive_c/windows/ neither, so the whole of
# drive_c is kept: a file the program left in the Windows folder would show.
VOLATILE_KEYS = (
    r"HKLM\System\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}",
    r"HKLM\System\CurrentControlSet\Control\Class\{4d36e96e-e325-11ce-bfc1-08002be10318}",
)


def _volatile(key):
    low = key.lower()
    return any(low == v.lower() or low.startswith(v.lower() + "\\") for v in VOLATILE_KEYS)


class Snapshot:
    """The files under drive_c (path, kind, size, read-only bit) and the
    registry of a prefix at one moment, with Wine's own churn left out."""

    def __init__(self, files, registry):
        self.files = files
        self.registry = registry

    def has_file(self, win_path):
        return self.files.get(win_path.lower(), (None,))[0] == "file"

    def has_dir(self, win_path):
        return self.files.get(win_path.lower(), (None,))[0] == "dir"

    def key(self, path):
        """The values of a key (case-insensitive path), or None if absent."""
        return self.registry.get(path.lower())

    def value(self, path, name):
        values = self.key(path)
        if values is None:
            return None
        for value_name, data in values.items():
            if value_name.lower() == name.lower():
                return data
        return None


def take_files(drive_c):
    files = {}
    for top, dirs, names in os.walk(drive_c):
        rel_top = os.path.relpath(top, drive_c)
        for name in dirs + names:
            full = os.path.join(top, name)
            rel = name if rel_top == "." else os.path.join(rel_top, name)
            win = ("C:\\" + rel.replace("/", "\\")).lower()
            st = os.lstat(full)
            read_only = not (st.st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
            if stat.S_ISDIR(st.st_mode):
                files[win] = ("dir", 0, read_only)
            elif stat.S_ISLNK(st.st_mode):
                files[win] = ("link", 0, False)
            else:
                files[win] = ("file", st.st_size, read_only)
    return files


def diff(before, after):
    """What changed from one snapshot to the next, one readable line per
    item: "+" added, "-" removed, "~" changed. Empty when nothing changed."""
    lines = []
    for path in sorted(set(before.files) | set(after.files)):
        a, b = before.files.get(path), after.files.get(path)
        if a == b:
            continue
        if a is None:
            lines.append("+ %s %s" % (b[0], path))
        elif b is None:
            lines.append("- %s %s" % (a[0], path))
        else:
            lines.append("~ %s %s: %s -> %s" % (a[0], path, a, b))
    for key in sorted(set(before.registry) | set(after.registry)):
        a, b = before.registry.get(key), after.registry.get(key)
        if a == b:
            continue
        if a is None:
            lines.append("+ key %s" % key)
            continue
        if b is None:
            lines.append("- key %s" % key)
            continue
        for name in sorted(set(a) | set(b)):
            if a.get(name) != b.get(name):
                sign = "+" if name not in a else "-" if name not in b else "~"
                lines.append("%s value %s [%s]: %s -> %s" % (sign, key, name, a.get(name),
                                                            b.get(name)))
    return lines


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


# --------------------------------------------------------------------------
# Dialogs on the X display.

def _xdotool(args, check=True):
    proc = subprocess.run(["xdotool"] + [str(a) for a in args],
                          env=dict(os.environ, DISPLAY=session().display),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=30)
    if check and proc.returncode != 0:
        raise HarnessError("xdotool %s failed: %s" % (" ".join(map(str, args)),
                                                     proc.stderr.decode(errors="replace")))
    return proc


def find_windows(caption):
    """Shown X windows whose title is exactly caption. (Wine names a window
    before it maps it, and one not yet mapped cannot take the focus.)"""
    proc = _xdotool(["search", "--onlyvisible", "--name", "^%s$" % re.escape(caption)],
                    check=False)
    return [int(w) for w in proc.stdout.split()]


def window_titles():
    """The titles of all named X windows, for failure messages."""
    proc = _xdotool(["search", "--name", "."], check=False)
    titles = []
    for window in proc.stdout.split():
        name = _xdotool(["getwindowname", window], check=False).stdout.decode(errors="replace")
        titles.append(name.strip())
    return titles


def click_at(x, y):
    """Press and release of the left button at a screen point. (Not
    "xdotool click", which sleeps 100 ms after the release: the hand-off is
    over by then, and its timing would be lost.)"""
    _xdotool(["mousemove", "--sync", x, y])
    _xdotool(["mousedown", 1])
    _xdotool(["mouseup", 1])


class Control:
    def __init__(self, ident, cls, style, rect, text):
        self.id = ident
        self.cls = cls
        self.style = style
        self.rect = rect
        self.text = text

    @property
    def centre(self):
        return ((self.rect[0] + self.rect[2]) // 2, (self.rect[1] + self.rect[3]) // 2)

    def __repr__(self):
        return "Control(%d, %s, %08x, %s, %r)" % (self.id, self.cls, self.style, self.rect,
                                                   self.text)


class Dialog:
    """A dialog of a prefix on the X display, found by its caption."""

    def __init__(self, prefix, caption, window):
        self.prefix = prefix
        self.caption = caption
        self.window = window

    @classmethod
    def wait(cls, prefix, caption, timeout=DIALOG_TIMEOUT):
        try:
            windows = wait_until(lambda: find_windows(caption), timeout,
                                 'a window titled "%s"' % caption)
        except HarnessError as error:
            raise HarnessError("%s; running in the prefix: %s; windows on the display: %s"
                               % (error, prefix.processes(), window_titles()))
        return cls(prefix, caption, windows[0])

    def title(self):
        return _xdotool(["getwindowname", self.window]).stdout.decode().rstrip("\n")

    def is_open(self):
        return self.window in find_windows(self.caption)

    def wait_closed(self, timeout=DIALOG_TIMEOUT):
        """Waits until the dialog's window is gone; returns the moment it was
        first seen gone (time.monotonic())."""
        wait_until(lambda: not self.is_open(), timeout, 'the "%s" window to close' % self.caption)
        return time.monotonic()

    def key(self, keys):
        """A real key press on the dialog: the window gets the keyboard focus
        (there is no window manager to give it), then the keys go through the
        X test extension as from a keyboard. (Sent to the window instead, the
        key releases of a key that closes the dialog would hit a window that
        is already gone.)"""
        self.focus()
        _xdotool(["key", keys])

    def focus(self):
        """Gives the dialog the keyboard focus (no window manager does)."""
        _xdotool(["windowfocus", self.window])

    def describe(self):
        """The dialog as Windows sees it: its window and client rectangles on
        the screen and its controls (id, class, style, rectangle, text), read
        in the prefix by the inspect helper."""
        out = self.prefix.root / "inspect.txt"
        if out.exists():
            out.unlink()
        _run([WINE64, str(self.prefix.session.helpers["inspect"]), self.caption,
              _win_of_unix(out)], env=self.prefix.env(), cwd=str(self.prefix.root), timeout=60,
             what="inspect")
        info = {"controls": []}
        for line in out.read_text(encoding="latin-1").splitlines():
            fields = line.split("\t")
            if fields[0] == "NONE":
                raise HarnessError('no window titled "%s" in the prefix' % self.caption)
            if fields[0] == "WINDOW":
                info["window"] = tuple(int(v) for v in fields[1:5])
                info["client"] = tuple(int(v) for v in fields[5:9])
                info["caption"] = fields[9]
            elif fields[0] == "ACTIVE":
                info["active"] = fields[1] == "1"
            elif fields[0] == "CLOSE":
                info["close_box"] = (int(fields[1]), int(fields[2]))
            elif fields[0] == "CHILD":
                ident = int(fields[1])
                if ident >= 0x8000:
                    ident -= 0x10000  # -1 ids come back as a 16-bit word
                info["controls"].append(Control(ident, fields[2], int(fields[3], 16),
                                                tuple(int(v) for v in fields[4:8]),
                                                fields[8] if len(fields) > 8 else ""))
        return info

    def control(self, text):
        for c in self.describe()["controls"]:
            if c.text == text:
                return c
        raise HarnessError('no control "%s" in "%s"' % (text, self.caption))

    def click(self, text):
        """A real mouse click in the middle of the control showing text."""
        click_at(*self.control(text).centre)

    def click_close_box(self):
        """A real mouse click on the dialog's close box, where the dialog's
        own hit test puts it."""
        info = self.describe()
        if "close_box" not in info:
            raise HarnessError('"%s" reports no close box' % self.caption)
        click_at(*info["close_box"])


# --------------------------------------------------------------------------
# The product as its installer leaves it.

class SampleInstall:
    def __init__(self, prefix, install_dir, files):
        self.prefix = prefix
        self.install_dir = install_dir
        self.files = [install_dir + "\\" + name for name in files]
        self.uninstaller = install_dir + "\\Uninstall.exe"
        self.desktop_shortcut = prefix.desktop + "\\Quillmere.lnk"
        self.program_group = prefix.programs + "\\Quillmere"
        self.group_files = [self.program_group + "\\" + n for n in PROGRAM_GROUP_FILES]

    @property
    def command_line(self):
        """How Explorer or a shortcut starts the uninstaller."""
        return '"%s"' % self.uninstaller


def confirm_removal(prefix):
    """Answers "Yes" to the confirmation with a click and returns the
    completion dialog that follows."""
    Dialog.wait(prefix, CONFIRM_CAPTION).click("Yes")
    return Dialog.wait(prefix, COMPLETED_CAPTION)


def lay_sample_install(prefix, install_dir=INSTALL_DIR, files=PRODUCT_FILES,
                       uninstaller=None):
    """Lays the product out in the prefix as its installer would have left
    it: the "Program Path" setting, the entry in the list of installed
    programs, the install directory with the product's files and the
    uninstaller (the twin under test), a desktop shortcut and a Start-menu
    group with its shortcuts. The shortcut files are stand-ins (the
    uninstaller only deletes them)."""
    sample = SampleInstall(prefix, install_dir, files)
    for path in sample.files:
        prefix.write_file(path, "Quillmere product file %s\r\n" % path.rsplit("\\", 1)[1])
    prefix.install_file(uninstaller or uninstaller_exe(), sample.uninstaller)
    prefix.write_file(sample.desktop_shortcut, "shortcut to %s\\Quillmere.exe\r\n" % install_dir)
    for path in sample.group_files:
        prefix.write_file(path, "shortcut in the program group\r\n")
    prefix.reg_import(
        reg_key(SETTINGS_KEY) + "\n"
        + "%s=%s\n" % (reg_string(PROGRAM_PATH_VALUE), reg_string(install_dir))
        + "\"Language\"=\"English\"\n\n"
        + reg_key(UNINSTALL_KEY) + "\n"
        + "\"DisplayName\"=\"Quillmere\"\n"
        + "\"UninstallString\"=%s\n" % reg_string(sample.uninstaller)
        + "\"DisplayIcon\"=%s\n" % reg_string(sample.uninstaller + ",0")
        + "\"Publisher\"=\"Korrindal\"\n"
        + "\"DisplayVersion\"=\"1.0\"\n"
        + "\"URLInfoAbout\"=\"http://www.quillmere.com/\"\n"
        + "\"InstallLocation\"=%s\n" % reg_string(install_dir)
        + "\"NoModify\"=dword:00000001\n"
        + "\"NoRepair\"=dword:00000001\n")
    return sample


# --------------------------------------------------------------------------
# The browser stand-in.

def install_recorder(prefix, win_path):
    """Puts the recording program at win_path; what it records goes to
    win_path + ".log"."""
    prefix.install_file(prefix.session.helpers["record"], win_path)
    return win_path


def register_browser(prefix, command):
    """Makes command the browser's registered local server, the value the
    uninstaller reads to open its feedback page."""
    prefix.reg_import(reg_key(BROWSER_KEY) + "\n@=%s\n" % reg_string(command))


def recorded_runs(prefix, recorder):
    """What the recording program at recorder was started with, one
    (command line, own path) pair per start, in order."""
    log = prefix.unix(recorder + ".log")
    if not log.exists():
        return []
    lines = log.read_bytes().decode("latin-1").splitlines()
    runs = []
    for i in range(0, len(lines) - 1, 2):
        if lines[i].startswith("CMD ") and lines[i + 1].startswith("EXE "):
            runs.append((lines[i][4:], lines[i + 1][4:]))
    return runs


def hold_open(prefix, win_path):
    """Keeps win_path open without write sharing in another process of the
    prefix until the returned function is called."""
    ready = prefix.root / ("hold-%s.ready" % id(win_path))
    release = prefix.root / ("hold-%s.release" % id(win_path))
    holder = prefix.start('"%s" "%s" "%s" "%s"' % (_win_of_unix(prefix.session.helpers["hold"]),
                                                   win_path, _win_of_unix(ready),
                                                   _win_of_unix(release)))
    wait_until(lambda: ready.exists() or not holder.running(), 30, "the file to be held open")
    if not ready.exists():
        raise HarnessError("could not hold %s open (exit %s)" % (win_path, holder.exit_code()))

    def let_go():
        release.touch()
        holder.exit_code()
    return let_go


# --------------------------------------------------------------------------
# The base of every test under Wine.

class WineTestCase(unittest.TestCase):
    """Gives each test a fresh prefix (self.prefix) and ends everything in it
    afterwards. A machine without Wine, Xvfb, xdotool or the twin fails the
    test here."""

    def setUp(self):
        missing = missing_requirements()
        if missing:
            self.fail("the tests under Wine need: " + ", ".join(missing))
        try:
            self.prefix = WinePrefix()
        except HarnessError as error:
            self.fail(str(error))
        self.addCleanup(self.prefix.close)

    def install_twin(self, win_path=r"C:\Uninstall.exe"):
        """The twin copied into the prefix: a run that reached its
        self-deletion must never delete the build's own file."""
        self.prefix.install_file(uninstaller_exe(), win_path)
        return win_path

    def assertNoChange(self, before, after):
        changes = diff(before, after)
        self.assertEqual(changes, [], "the prefix changed:\n" + "\n".join(changes))

    def assertEnded(self, names, timeout):
        """Waits up to timeout for every program whose command line mentions
        one of names to have ended in the prefix."""
        try:
            wait_until(lambda: not any(self.prefix.running(n) for n in names), timeout,
                       "%s to end" % ", ".join(names))
        except HarnessError:
            self.fail("still running after %.1f s: %s" % (
                timeout, [p for n in names for p in self.prefix.running(n)]))
