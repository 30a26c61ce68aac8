#!/usr/bin/python3
"""Makes the pictures of the dialogs in docs/ (confirm-dialog.png,
completed-dialog.png and unfinished-dialog.png) as Wine draws them,
captions included: the 64-bit twin runs on a sample install in a throwaway
prefix, inside a Wine virtual desktop on an Xvfb display, and each dialog
is cut out of the desktop. The unfinished one comes from a second removal,
with a product file held open. Rerun it whenever the dialogs change.

Usage: tools/screenshots.py [path/to/Uninstall.exe]
"""

import sys

from product_facts import UNFINISHED_NOTICE
from winekit.base import DIALOG_TIMEOUT, HarnessError, bound, wait_until
from winekit.dialogs import Dialog
from winekit.product import (CLOSING_BUTTON, COMPLETED_CAPTION, CONFIRM_CAPTION, TEMP_COPY_NAME,
                             UNFINISHED_CAPTION, UNINSTALLER_NAME, hold_open, lay_sample_install)
from winekit.target import REPO
from winekit.wineprefix import run_tool
from winekit.xdisplay import click_at, find_windows, window_origin

DESKTOP = "shot"
SIZE = (640, 480)
DOCS = REPO / "docs"


def shown(dialog):
    """Whether the prefix has a window with the dialog's caption (on a
    virtual desktop, X knows only the desktop's window)."""
    try:
        dialog.describe()
        return True
    except HarnessError:
        return False


def picture(prefix, desktop, caption, name, answer):
    """Waits for the dialog, saves its picture as docs/<name> (none if name
    is None) and clicks the button answer."""
    dialog = Dialog(prefix, caption, desktop)
    wait_until(lambda: shown(dialog), bound(DIALOG_TIMEOUT), '"%s"' % caption)
    if name is None:
        info = dialog.describe()
    else:
        info = dialog.capture(DOCS / name, desktop=desktop)
        print("docs/" + name)
    x0, y0 = window_origin(desktop)
    x, y = [c for c in info["controls"] if c.text == answer][0].centre
    click_at(x0 + x, y0 + y)
    return [c.text for c in info["controls"]]


def make(prefix):
    DOCS.mkdir(exist_ok=True)
    # Every program of the prefix on one virtual desktop: the uninstaller,
    # and the helper that reads where its dialogs are.
    prefix.reg_import("[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"
                      "\"Desktop\"=\"%s\"\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"
                      "\"%s\"=\"%dx%d\"\n" % (DESKTOP, DESKTOP, SIZE[0], SIZE[1]))
    removal(prefix, lay_sample_install(prefix), "confirm-dialog.png", "completed-dialog.png")
    # The hand-off must be over before the install is laid out again.
    prefix.wait_ended([UNINSTALLER_NAME, TEMP_COPY_NAME], bound(10))
    # The product still running: a file of it held open, the removal cannot
    # finish.
    sample = lay_sample_install(prefix)
    let_go = hold_open(prefix, sample.files[0])
    texts = removal(prefix, sample, None, "unfinished-dialog.png", UNFINISHED_CAPTION)
    let_go()
    if UNFINISHED_NOTICE not in texts:
        raise HarnessError("the removal with a file held open showed %s" % texts)


def removal(prefix, sample, confirm_name, completed_name, caption=COMPLETED_CAPTION):
    """One removal on the virtual desktop, answered "Yes", then "&No" in the
    completion dialog or "OK" in the notice of a removal that could not
    finish (caption says which follows), its dialogs pictured under the
    names given; returns the texts of the second dialog."""
    run = prefix.start("explorer /desktop=%s,%dx%d %s"
                       % (DESKTOP, SIZE[0], SIZE[1], sample.command_line),
                       cwd=sample.install_dir)
    # The X window of the virtual desktop, which Wine names after it.
    desktop = wait_until(lambda: find_windows("%s - Wine desktop" % DESKTOP),
                         bound(DIALOG_TIMEOUT), "the virtual desktop")[0]
    picture(prefix, desktop, CONFIRM_CAPTION, confirm_name, "Yes")
    texts = picture(prefix, desktop, caption, completed_name, CLOSING_BUTTON[caption])
    run.exit_code()
    return texts


if __name__ == "__main__":
    sys.exit(run_tool("screenshots", make, sys.argv[1] if len(sys.argv) > 1 else None))
