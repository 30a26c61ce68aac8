"""Dialogs on the X display: found by caption, driven with real keys and
clicks through xdotool, and read control by control in the prefix."""

import os
import re
import subprocess
import time

from .base import DIALOG_TIMEOUT, WINE64, HarnessError, wait_until, _run, _win_of_unix
from .wineprefix import session

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
