#!/usr/bin/python3
"""The choice of role under Wine: no tail asks first, a tail names one file
to delete, and nothing else in the machine is touched either way."""

import unittest

from winekit.dialogs import Dialog
from winekit.product import CONFIRM_CAPTION
from winekit.snapshots import diff
from winekit.testcase import WineTestCase


class RoleChoiceUnderWine(WineTestCase):

    def test_NoTailShowsConfirmationAndNoChangesNothing(self):
        # Quoted or not: the list of installed programs starts an
        # UninstallString as it is written, and it is often unquoted, with
        # the separators an installer happened to write.
        twin = self.install_twin(r"C:\Program Files\Quillmere\Uninstall.exe")
        before = self.prefix.snapshot()
        for line in ('"%s"' % twin, twin, r"C:\Program Files\Quillmere\\Uninstall.exe",
                     "C:/Program Files/Quillmere/Uninstall.exe"):
            with self.subTest(line=line):
                run = self.prefix.start(line, program=twin)
                Dialog.wait(self.prefix, CONFIRM_CAPTION).click("No")
                self.assertEqual(run.exit_code(), 0)
        self.assertNoChange(before, self.prefix.snapshot())

    def test_TailNamingMissingFileExitsZeroAndChangesNothing(self):
        twin = self.install_twin()
        self.prefix.write_file(r"C:\data\kept.txt", "kept")
        before = self.prefix.snapshot()
        self.assertEqual(self.prefix.run(r'"%s" C:\data\absent.txt' % twin), 0)
        self.assertNoChange(before, self.prefix.snapshot())

    def test_TailNamingFileDeletesThatFileOnly(self):
        twin = self.install_twin()
        self.prefix.write_file(r"C:\data\victim.txt", "to go")
        self.prefix.write_file(r"C:\data\neighbour.txt", "to stay")
        before = self.prefix.snapshot()
        self.assertEqual(self.prefix.run(r'"%s" C:\data\victim.txt' % twin), 0)
        self.assertEqual(diff(before, self.prefix.snapshot()), [r"- file c:\data\victim.txt"])

    def test_TailWithBlanksNamesOneFileWhole(self):
        # The tail is not split at blanks: "C:\some dir\a file.txt" is one
        # path, and neither "C:\some" nor "dir\a" is touched.
        twin = self.install_twin()
        self.prefix.write_file(r"C:\some dir\a file.txt", "to go")
        self.prefix.write_file(r"C:\some", "to stay")
        before = self.prefix.snapshot()
        self.assertEqual(self.prefix.run(r'"%s" C:\some dir\a file.txt' % twin), 0)
        self.assertEqual(diff(before, self.prefix.snapshot()), [r"- file c:\some dir\a file.txt"])


if __name__ == "__main__":
    unittest.main()
