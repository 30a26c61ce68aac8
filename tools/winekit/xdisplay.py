"""The X side of a run: xdotool on the session's display for finding
windows and for real key presses and clicks, and pictures of windows
(ImageMagick). The session's Xvfb itself is started in xserver.py.

Every xdotool call of the toolkit, the tests', the demo's, the screenshot
maker's and the benchmark's, goes through `xdotool` here, on the session's
display."""

import os
import re
import subprocess

from .base import HarnessError
from .wineprefix import session


def answers(display):
    """Whether an X display of the user's own answers."""
    return subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def display():
    """The session's X display (the session is made on first use)."""
    return session().display


def xdotool(args, check=True, wait=True):
    """Runs xdotool on the session's display and returns the finished
    process; with wait=False returns it running (for a clock that starts as
    a key goes out)."""
    argv = ["xdotool"] + [str(a) for a in args]
    env = dict(os.environ, DISPLAY=display())
    if not wait:
        return subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=30)
    if check and proc.returncode != 0:
        raise HarnessError("xdotool %s failed: %s" % (" ".join(argv[1:]),
                                                     proc.stderr.decode(errors="replace")))
    return proc


def find_windows(caption):
    """Shown X windows whose title is exactly caption. (Wine names a window
    before it maps it, and one not yet mapped cannot take the focus; a
    closed dialog's window can live on unmapped.)"""
    proc = xdotool(["search", "--onlyvisible", "--name", "^%s$" % re.escape(caption)],
                   check=False)
    return [int(w) for w in proc.stdout.split()]


def window_titles():
    """The titles of all named X windows, for failure messages."""
    proc = xdotool(["search", "--name", "."], check=False)
    titles = []
    for window in proc.stdout.split():
        name = xdotool(["getwindowname", window], check=False).stdout.decode(errors="replace")
        titles.append(name.strip())
    return titles


def window_origin(window):
    """Where an X window stands on the screen."""
    out = xdotool(["getwindowgeometry", "--shell", window]).stdout.decode()
    fields = dict(line.split("=", 1) for line in out.split())
    return int(fields["X"]), int(fields["Y"])


def click_at(x, y):
    """Press and release of the left button at a screen point.

    The pointer first goes somewhere else: `mousemove --sync` to the point
    where the pointer already is waits seconds for a motion that never
    comes, and a dialog opens at the same place every time. And no
    "xdotool click", which sleeps 100 ms after the release: a hand-off is
    over by then, and its timing would be lost."""
    xdotool(["mousemove", 1 if x == 0 else 0, 0])
    xdotool(["mousemove", "--sync", x, y])
    xdotool(["mousedown", 1])
    xdotool(["mouseup", 1])


def grab(window, path, crop=None):
    """Saves a picture of an X window, or of the part crop (left, top,
    right, bottom, in the window's coordinates), as PNG."""
    args = ["import", "-display", display(), "-window", str(window)]
    if crop is not None:
        left, top, right, bottom = crop
        args += ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    subprocess.run(args + ["PNG24:" + str(path)], check=True, stdin=subprocess.DEVNULL)


def blue_at(path, x, y):
    """Whether the pixel (x, y) of a picture is clearly blue rather than
    grey: an active window's caption, where an inactive one is grey."""
    out = subprocess.run(["convert", str(path), "-format",
                          "%%[fx:p{%d,%d}.b - p{%d,%d}.r]" % (x, y, x, y), "info:"],
                         check=True, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE).stdout
    return float(out) > 0.2
