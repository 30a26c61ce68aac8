"""The product as the Wine tests know it: its facts (tools/
product_facts.py) with the registry roots Wine's files give them, a sample
install laid out as its installer leaves it, the recording browser and a
file held open by another process."""

import product_facts as facts

from .base import HarnessError, bound, uninstaller_exe, wait_until
from .dialogs import Dialog
from .registry import reg_key, reg_string

CONFIRM_CAPTION = facts.CONFIRM_CAPTION
COMPLETED_CAPTION = facts.COMPLETED_CAPTION
UNFINISHED_CAPTION = facts.UNFINISHED_CAPTION
# The button that closes the dialog after "Yes" and starts nothing more, by
# its caption: the completion's "&No", or the one button of the notice of a
# removal that could not finish.
CLOSING_BUTTON = {COMPLETED_CAPTION: "&No", UNFINISHED_CAPTION: "OK"}

# Keys with their roots, as `reg import` takes them and the snapshots show
# them; HKEY_CLASSES_ROOT's machine-wide keys are HKLM\Software\Classes.
SETTINGS_KEY = "HKCU\\" + facts.SETTINGS_KEY
PROGRAM_PATH_VALUE = facts.PROGRAM_PATH_VALUE
UNINSTALL_KEY = "HKLM\\" + facts.UNINSTALL_KEY
BROWSER_KEY = "HKLM\\Software\\Classes\\" + facts.BROWSER_KEY
UNINSTALLER_NAME = facts.UNINSTALLER_NAME
TEMP_COPY_NAME = facts.TEMP_COPY_NAME
PRODUCT_FILES = facts.PRODUCT_FILES

INSTALL_DIR = r"C:\Program Files\Quillmere"
# A browser laid out as Wine registers its own: a path with blanks, quoted.
SAMPLE_BROWSER = r"C:\Program Files\Web Browser\browser.exe"


def _in_other_cases(names):
    """The names in other letter cases, each changed another way: the sweep
    compares without regard to ASCII case, so each of these must go as
    well."""
    changes = (str.upper, str.lower, str.swapcase,
               lambda name: "".join(c.upper() if i % 2 else c.lower() for i, c in enumerate(name)))
    return tuple(changes[i % len(changes)](name) for i, name in enumerate(names))


MIXED_CASE_PRODUCT_FILES = _in_other_cases(PRODUCT_FILES)
# The shortcuts the installer puts in the program group; the uninstaller
# removes the group whole, whatever its files are called.
PROGRAM_GROUP_FILES = ("Quillmere.lnk", "Quillmere Help.lnk", "Uninstall Quillmere.lnk",
                       "Buy Online Now!.url")


class SampleInstall:
    def __init__(self, prefix, install_dir, files):
        self.prefix = prefix
        self.install_dir = install_dir
        self.files = [install_dir + "\\" + name for name in files]
        self.uninstaller = install_dir + "\\" + UNINSTALLER_NAME
        self.desktop_shortcut = prefix.desktop + "\\" + facts.DESKTOP_SHORTCUT
        self.program_group = prefix.programs + "\\" + facts.PROGRAM_GROUP
        self.group_files = [self.program_group + "\\" + n for n in PROGRAM_GROUP_FILES]

    @property
    def command_line(self):
        """How Explorer or a shortcut starts the uninstaller."""
        return '"%s"' % self.uninstaller


def confirm_removal(prefix):
    """Answers "Yes" to the confirmation with a click and returns the dialog
    that follows: the completion dialog, or the notice of a removal that
    could not finish (its caption says which)."""
    Dialog.wait(prefix, CONFIRM_CAPTION).click("Yes")
    return Dialog.wait(prefix, (COMPLETED_CAPTION, UNFINISHED_CAPTION))


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
    prefix.write_file(sample.desktop_shortcut, "shortcut to %s\\%s\r\n"
                      % (install_dir, PRODUCT_FILES[0]))
    for path in sample.group_files:
        prefix.write_file(path, "shortcut in the program group\r\n")
    prefix.reg_import(
        reg_key(SETTINGS_KEY) + "\n"
        + "%s=%s\n" % (reg_string(PROGRAM_PATH_VALUE), reg_string(install_dir))
        + "\"Language\"=\"English\"\n\n"
        + reg_key(UNINSTALL_KEY) + "\n"
        + "\"DisplayName\"=%s\n" % reg_string(facts.DISPLAY_NAME)
        + "\"UninstallString\"=%s\n" % reg_string(sample.uninstaller)
        + "\"DisplayIcon\"=%s\n" % reg_string(sample.uninstaller + ",0")
        + "\"Publisher\"=%s\n" % reg_string(facts.COMPANY_NAME)
        + "\"DisplayVersion\"=\"1.0\"\n"
        + "\"URLInfoAbout\"=%s\n" % reg_string("http://%s/" % facts.FEEDBACK_HOST)
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
    holder = prefix.start('"%s" "%s" "%s" "%s"' % (
        prefix.windows_path(prefix.session.helpers["hold"]), win_path,
        prefix.windows_path(ready), prefix.windows_path(release)))
    wait_until(lambda: ready.exists() or not holder.running(), bound(30),
               "the file to be held open")
    if not ready.exists():
        raise HarnessError("could not hold %s open (exit %s)" % (win_path, holder.exit_code()))

    def let_go():
        release.touch()
        holder.exit_code()
    return let_go
