"""The base of every test under Wine."""

import unittest

from .base import HarnessError, bound, missing_requirements, uninstaller_exe
from .product import UNINSTALLER_NAME
from .snapshots import diff
from .wineprefix import WinePrefix


class WineTestCase(unittest.TestCase):
    """Gives each test a fresh prefix (self.prefix) and ends everything in it
    afterwards. A machine without the target's Wine, Xvfb, xdotool or the
    uninstaller fails the test here."""

    def setUp(self):
        missing = missing_requirements()
        if missing:
            self.fail("the tests under Wine need: " + ", ".join(missing))
        try:
            self.prefix = WinePrefix()
        except HarnessError as error:
            self.fail(str(error))
        self.addCleanup(self.prefix.close)

    def install_twin(self, win_path="C:\\" + UNINSTALLER_NAME):
        """The uninstaller under test copied into the prefix: a run that
        reached its self-deletion must never delete the build's own file."""
        self.prefix.install_file(uninstaller_exe(), win_path)
        return win_path

    def assertNoChange(self, before, after):
        changes = diff(before, after)
        self.assertEqual(changes, [], "the prefix changed:\n" + "\n".join(changes))

    def assertEnded(self, names, timeout):
        """Waits up to timeout (a bound for the host's wine64, scaled to the
        target) for every program whose command line mentions one of names
        to have ended in the prefix."""
        try:
            self.prefix.wait_ended(names, bound(timeout))
        except HarnessError as error:
            self.fail(str(error))
