#!/bin/bash
# The uninstaller's main job, shown on a throwaway Wine prefix: a sample
# Quillmere install is laid out, a report says what is there, the uninstaller
# (the 64-bit twin, the build that runs on this machine) removes it, and a
# second report says what is left once both of its processes have ended.
#
# Usage: tools/demo.sh [path/to/64-bit/Uninstall.exe]
#
# On a display of your own ($DISPLAY set and reachable) you answer the two
# dialogs yourself. Without one, the script runs Xvfb, answers "Yes" then
# "&No", and saves a picture of each dialog to a folder it names.
# It builds nothing: run tools/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/twin.sh

display=""
if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    display="$DISPLAY"
fi

export UNINSTALLER_EXE="$(readlink -f "$exe")"
export DEMO_DISPLAY="$display"
export DEMO_SHOTS="${DEMO_SHOTS:-$PWD/out/demo}"
exec /usr/bin/python3 - <<'PYTHON'
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.getcwd(), "tests", "wine"))
import harness as h

BROWSER = r"C:\Program Files\Web Browser\browser.exe"


def say(text=""):
    print(text, flush=True)


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
        values = snap.key(path)
        if values is None:
            return "absent"
        return "present (%s = %s)" % (value, snap.value(path, value))

    copy = prefix.temp + "\\" + h.TEMP_COPY_NAME
    return [
        ("uninstaller", sample.uninstaller, present(sample.uninstaller)),
        ("install directory", sample.install_dir, listing(sample.install_dir)),
        ("temporary copy", copy, present(copy)),
        ("settings key", h.SETTINGS_KEY, key(h.SETTINGS_KEY, h.PROGRAM_PATH_VALUE)),
        ("uninstall entry", h.UNINSTALL_KEY, key(h.UNINSTALL_KEY, "DisplayName")),
        ("desktop shortcut", sample.desktop_shortcut, present(sample.desktop_shortcut)),
        ("program group", sample.program_group, listing(sample.program_group)),
    ]


def report(title, rows):
    say(title)
    for name, where, what in rows:
        say("  %-18s %s" % (name, where))
        say("  %-18s   %s" % ("", what))
    say()


def caption_in_colour(path, y):
    """Whether the caption row of a picture is blue rather than grey."""
    out = subprocess.run(["convert", path, "-format", "%%[fx:p{8,%d}.b - p{8,%d}.r]" % (y, y),
                          "info:"], check=True, stdout=subprocess.PIPE).stdout
    return float(out) > 0.2


def shoot(dialog, folder, name):
    """The dialog's own window, frame and caption included (Wine draws them
    itself on a display without a window manager)."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    # Active, as a user sees it, with its caption in colour. Wine draws it
    # so once the window has had a click (here on its caption, which does
    # nothing else); the first click on a new window is sometimes taken
    # for the focus change alone, so look and click again if need be.
    info = dialog.describe()
    left, top, right, _ = info["window"]
    caption = ((left + right) // 2, (top + info["client"][1]) // 2)
    for _ in range(5):
        h.click_at(*caption)
        time.sleep(0.4)
        subprocess.run(["import", "-display", h.session().display, "-window",
                        str(dialog.window), path], check=True)
        if caption_in_colour(path, caption[1] - top):
            break
    return path


def main():
    display = os.environ["DEMO_DISPLAY"] or None
    shots = os.environ["DEMO_SHOTS"]
    say("Uninstaller: %s" % h.uninstaller_exe())
    say("Setting up a throwaway Wine prefix%s ..." % ("" if display else " and Xvfb"))
    session = h.session(display)
    prefix = h.WinePrefix()
    try:
        sample = h.lay_sample_install(prefix)
        # A stand-in browser records the feedback page it is asked to open.
        h.install_recorder(prefix, BROWSER)
        h.register_browser(prefix, '"%s"' % BROWSER)
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
            confirm = h.Dialog.wait(prefix, h.CONFIRM_CAPTION)
            say("  confirmation shown: %s" % shoot(confirm, shots, "1-confirm.png"))
            say('  answering "Yes"')
            confirm.click("Yes")
            completed = h.Dialog.wait(prefix, h.COMPLETED_CAPTION)
            say("  completion shown:   %s" % shoot(completed, shots, "2-completed.png"))
            say('  answering "&No"')
            completed.click("&No")
        started = time.monotonic()
        say("Uninstall role ended with exit code %d." % run.exit_code(timeout=24 * 3600))
        h.wait_until(lambda: not prefix.running("uninstall.exe")
                     and not prefix.running(h.TEMP_COPY_NAME), 30,
                     "the temporary copy to end")
        say("Both processes have ended (%.2f s after the uninstall role)."
            % (time.monotonic() - started))
        say()
        report("After:", state(prefix, prefix.snapshot(), sample))
        runs = h.recorded_runs(prefix, BROWSER)
        say("Feedback page: %s" % ("opened with %s" % runs[0][0] if runs else "not opened"))
        if not display:
            say("Screenshots of the dialogs: %s" % shots)
    finally:
        prefix.close()


try:
    main()
except h.HarnessError as error:
    print("demo: %s" % error, file=sys.stderr)
    sys.exit(1)
PYTHON
