"""Dialogs of a prefix on the X display: found by caption, driven with real
keys and clicks, read control by control in the prefix by the inspect
helper, and pictured as a user sees them."""

import time

from .base import DIALOG_TIMEOUT, HarnessError, bound, run_to_end, wait_until
from .xdisplay import blue_at, click_at, find_windows, grab, window_origin, window_titles, xdotool


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
    def wait(cls, prefix, caption, timeout=None):
        """The dialog once a shown window has its caption, or one of them
        (a tuple: the dialog's caption is then the one found); fails after
        timeout seconds (by default the run's bound for the target)."""
        timeout = bound(DIALOG_TIMEOUT) if timeout is None else timeout
        captions = (caption,) if isinstance(caption, str) else caption
        try:
            found = wait_until(lambda: [(c, w) for c in captions for w in find_windows(c)],
                               timeout, 'a window titled "%s"' % '" or "'.join(captions))
        except HarnessError as error:
            raise HarnessError("%s; running in the prefix: %s; windows on the display: %s"
                               % (error, prefix.processes(), window_titles()))
        return cls(prefix, *found[0])

    def title(self):
        return xdotool(["getwindowname", self.window]).stdout.decode().rstrip("\n")

    def is_open(self):
        return self.window in find_windows(self.caption)

    def wait_closed(self, timeout=None):
        """Waits until the dialog's window is gone; returns the moment it was
        first seen gone (time.monotonic())."""
        timeout = bound(DIALOG_TIMEOUT) if timeout is None else timeout
        wait_until(lambda: not self.is_open(), timeout, 'the "%s" window to close' % self.caption)
        return time.monotonic()

    def key(self, keys, wait=True):
        """A real key press on the dialog: the window gets the keyboard focus
        (there is no window manager to give it), then the keys go through the
        X test extension as from a keyboard. (Sent to the window instead, the
        key releases of a key that closes the dialog would hit a window that
        is already gone.) With wait=False, returns the running xdotool as
        soon as it has started."""
        self.focus()
        return xdotool(["key", keys], wait=wait)

    def focus(self):
        """Gives the dialog the keyboard focus (no window manager does)."""
        xdotool(["windowfocus", self.window])

    def describe(self):
        """The dialog as Windows sees it: its window and client rectangles on
        the screen and its controls (id, class, style, rectangle, text), read
        in the prefix by the inspect helper."""
        out = self.prefix.root / "inspect.txt"
        if out.exists():
            out.unlink()
        run_to_end(self.prefix.helper_command("inspect", self.caption,
                                              self.prefix.windows_path(out)),
                   env=self.prefix.env(), cwd=str(self.prefix.root), timeout=bound(60),
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

    def capture(self, path, desktop=None):
        """Saves a picture of the dialog, frame and caption included, active
        as a user sees it, and returns its description. Wine draws a window
        active once it has had a click (here on its caption, which does
        nothing else); the first click on a new window is sometimes taken for
        the focus change alone, so it looks and clicks again if need be.
        desktop: the X window of the Wine virtual desktop the dialog is drawn
        in, cut out of it; None: the dialog's own X window."""
        for _ in range(5):
            info = self.describe()
            left, top, right, _ = info["window"]
            caption = ((left + right) // 2, (top + info["client"][1]) // 2)
            origin = window_origin(desktop) if desktop is not None else (0, 0)
            click_at(origin[0] + caption[0], origin[1] + caption[1])
            time.sleep(0.4)
            if desktop is None:
                grab(self.window, path)
            else:
                info = self.describe()
                grab(desktop, path, crop=info["window"])
            if blue_at(path, 8, caption[1] - top):
                return info
        raise HarnessError("%s: the caption is not drawn active" % path)
