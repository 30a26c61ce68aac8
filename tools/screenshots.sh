#!/bin/bash
# Makes the pictures of the two dialogs in docs/ (confirm-dialog.png and
# completed-dialog.png) as Wine draws them, captions included: the 64-bit
# twin runs on a sample install in a throwaway prefix, inside a Wine virtual
# desktop on an Xvfb display, and each dialog is cut out of the desktop.
# Rerun it whenever the dialogs change.
#
# Usage: tools/screenshots.sh [path/to/64-bit/Uninstall.exe]
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/twin.sh

export UNINSTALLER_EXE="$(readlink -f "$exe")"
exec /usr/bin/python3 - <<'PYTHON'
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.getcwd(), "tests", "wine"))
import harness as h

DESKTOP = "shot"
SIZE = (640, 480)


def desktop_window():
    """The X window of the virtual desktop, which Wine names after it."""
    windows = h.wait_until(lambda: h.find_windows("%s - Wine desktop" % DESKTOP), 30,
                           "the virtual desktop")
    return windows[0]


def desktop_origin(window):
    """Where the desktop window stands on the X screen: dialog coordinates
    are the desktop's, clicks go to the screen's."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                         env=dict(os.environ, DISPLAY=h.session().display), check=True,
                         stdout=subprocess.PIPE).stdout.decode()
    fields = dict(line.split("=", 1) for line in out.split())
    return int(fields["X"]), int(fields["Y"])


def click(desktop, point):
    x0, y0 = desktop_origin(desktop)
    h.click_at(x0 + point[0], y0 + point[1])


def grab(window, rect, path):
    """Cuts rect (left, top, right, bottom, in desktop coordinates) out of
    the desktop window into path."""
    left, top, right, bottom = rect
    subprocess.run(["import", "-display", h.session().display, "-window", str(window),
                    "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
                    "PNG24:" + path], check=True)


def caption_in_colour(path, y):
    out = subprocess.run(["convert", path, "-format", "%%[fx:p{8,%d}.b - p{8,%d}.r]" % (y, y),
                          "info:"], check=True, stdout=subprocess.PIPE).stdout
    return float(out) > 0.2


def shoot(dialog, desktop, path):
    """The dialog, active as a user sees it: a click on its caption (which
    does nothing else) makes sure it has the focus."""
    for _ in range(5):
        info = dialog.describe()
        left, top, right, _ = info["window"]
        caption_y = (top + info["client"][1]) // 2
        click(desktop, ((left + right) // 2, caption_y))
        time.sleep(0.4)
        info = dialog.describe()
        grab(desktop, info["window"], path)
        if caption_in_colour(path, caption_y - top):
            return info
    raise h.HarnessError("%s: the caption is not drawn active" % path)


def main():
    os.makedirs("docs", exist_ok=True)
    h.session()
    prefix = h.WinePrefix()
    try:
        # Every program of the prefix on one virtual desktop: the twin, and
        # the helper that reads where its dialogs are.
        prefix.reg_import("[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"
                          "\"Desktop\"=\"%s\"\n\n"
                          "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"
                          "\"%s\"=\"%dx%d\"\n" % (DESKTOP, DESKTOP, SIZE[0], SIZE[1]))
        sample = h.lay_sample_install(prefix)
        run = prefix.start("explorer /desktop=%s,%dx%d %s"
                           % (DESKTOP, SIZE[0], SIZE[1], sample.command_line),
                           cwd=sample.install_dir)
        desktop = desktop_window()
        confirm = h.Dialog(prefix, h.CONFIRM_CAPTION, desktop)
        h.wait_until(lambda: _shown(confirm), 30, "the confirmation dialog")
        info = shoot(confirm, desktop, "docs/confirm-dialog.png")
        print("docs/confirm-dialog.png")
        click(desktop, [c for c in info["controls"] if c.text == "Yes"][0].centre)

        completed = h.Dialog(prefix, h.COMPLETED_CAPTION, desktop)
        h.wait_until(lambda: _shown(completed), 30, "the completion dialog")
        info = shoot(completed, desktop, "docs/completed-dialog.png")
        print("docs/completed-dialog.png")
        click(desktop, [c for c in info["controls"] if c.text == "&No"][0].centre)
        run.exit_code()
    finally:
        prefix.close()


def _shown(dialog):
    try:
        dialog.describe()
        return True
    except h.HarnessError:
        return False


try:
    main()
except h.HarnessError as error:
    print("screenshots: %s" % error, file=sys.stderr)
    sys.exit(1)
PYTHON
