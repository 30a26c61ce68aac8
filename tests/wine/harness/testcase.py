"""The base of every test under Wine."""

import unittest

from .base import missing_requirements, uninstaller_exe, wait_until, HarnessError
from .snapshots import diff
from .wineprefix import WinePrefix

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
