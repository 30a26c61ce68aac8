#!/usr/bin/python3
"""The uninstaller's main job, shown on a throwaway Wine prefix: a sample
Quillmere install is laid out, a report says what is there, the uninstaller
(by default the 64-bit twin, the build that runs on this machine) removes
it, and a second report says what is left once both of its processes have
ended.

Usage: tools/demo.py [--build COMMAND] [path/to/Uninstall.exe]

On a display of your own ($DISPLAY set and reachable) you answer the two
dialogs yourself. Without one, it runs Xvfb, answers "Yes" then "&No", and
saves a picture of each dialog to a folder it names ($DEMO_SHOTS, default
out/demo). With --build it runs COMMAND, which makes the uninstaller, while
Wine sets up (tools/run.sh does so); without, it builds nothing.
"""

import argparse
import os
import sys
import time

from winekit.base import bound, uninstaller_exe
from winekit.dialogs import Dialog
from winekit.product import (COMPLETED_CAPTION, CONFIRM_CAPTION, PROGRAM_PATH_VALUE,
                             SAMPLE_BROWSER, SETTINGS_KEY, TEMP_COPY_NAME, UNINSTALLER_NAME,
                             UNINSTALL_KEY, install_recorder, lay_sample_install, recorded_runs,
                             register_browser)
from winekit.target import REPO
from winekit.wineprefix import run_tool
from winekit.xdisplay import answers

BROWSER = SAMPLE_BROWSER


def say(text=""):
    print(text, flush=True)


def own_display():
    """$DISPLAY if it names a display that answers, else None."""
    display = os.environ.get("DISPLAY")
    return display if display and answers(display) else None


def state(prefix, snap, sample):
    """What of the product stands in the prefix, item by item."""
    def listing(folder):
        path = prefix.unix(folder)
        if not path.is_dir():
            return "absent"
        names = sorted(p.name + ("\\" if p.is_dir() else "") for p in path.iterdir())
        return "%d entries: %s" % (len(names), ", ".join(names)) if names else "empty"

    def present(win_path):
        return "present" if prefix.exists(win_path) else "absent"

    def key(path, value):
        if snap.key(path) is None:
            return "absent"
        return "present (%s = %s)" % (value, snap.value(path, value))

    copy = prefix.temp + "\\" + TEMP_COPY_NAME
    return [
        ("uninstaller", sample.uninstaller, present(sample.uninstaller)),
        ("install directory", sample.install_dir, listing(sample.install_dir)),
        ("temporary copy", copy, present(copy)),
        ("settings key", SETTINGS_KEY, key(SETTINGS_KEY, PROGRAM_PATH_VALUE)),
        ("uninstall entry", UNINSTALL_KEY, key(UNINSTALL_KEY, "DisplayName")),
        ("desktop shortcut", sample.desktop_shortcut, present(sample.desktop_shortcut)),
        ("program group", sample.program_group, listing(sample.program_group)),
    ]


def report(title, rows):
    say(title)
    for name, where, what in rows:
        say("  %-18s %s" % (name, where))
        say("  %-18s   %s" % ("", what))
    say()


def answer_by_itself(prefix, shots):
    """Answers "Yes" then "&No", with a picture of each dialog."""
    os.makedirs(shots, exist_ok=True)
    for caption, picture, answer in ((CONFIRM_CAPTION, "1-confirm.png", "Yes"),
                                     (COMPLETED_CAPTION, "2-completed.png", "&No")):
        dialog = Dialog.wait(prefix, caption)
        say('  "%s" shown' % caption)
        path = os.path.join(shots, picture)
        dialog.capture(path)
        say('  picture: %s; answering "%s"' % (path, answer))
        dialog.click(answer)


def show(prefix, display, shots):
    sample = lay_sample_install(prefix)
    # A stand-in browser records the feedback page it is asked to open.
    install_recorder(prefix, BROWSER)
    register_browser(prefix, '"%s"' % BROWSER)
    say("Uninstaller: %s" % uninstaller_exe())
    say("Prefix: %s" % prefix.path)
    say()
    report("Before:", state(prefix, prefix.snapshot(), sample))

    say("Starting %s in %s" % (sample.command_line, sample.install_dir))
    run = prefix.start(sample.command_line, cwd=sample.install_dir)
    if display:
        say("Answer the dialogs on your display (%s)." % display)
        while run.running():
            time.sleep(0.2)
    else:
        answer_by_itself(prefix, shots)
    started = time.monotonic()
    say("Uninstall role ended with exit code %d." % run.exit_code(timeout=24 * 3600))
    prefix.wait_ended([UNINSTALLER_NAME, TEMP_COPY_NAME], bound(30))
    say("Both processes have ended (%.2f s after the uninstall role)."
        % (time.monotonic() - started))
    say()
    report("After:", state(prefix, prefix.snapshot(), sample))
    runs = recorded_runs(prefix, BROWSER)
    say("Feedback page: %s" % ("opened with %s" % runs[0][0] if runs else "not opened"))
    if not display:
        say("Screenshots of the dialogs: %s" % shots)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description="The uninstaller's main job under Wine.")
    parser.add_argument("--build", metavar="COMMAND", help="makes the uninstaller meanwhile")
    parser.add_argument("uninstaller", nargs="?")
    args = parser.parse_args()
    display = own_display()
    shots = os.environ.get("DEMO_SHOTS") or str(REPO / "out" / "demo")
    sys.exit(run_tool("demo", lambda prefix: show(prefix, display, shots), args.uninstaller,
                        display, build=[args.build] if args.build else None))
