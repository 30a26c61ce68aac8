#!/usr/bin/python3
"""The removal under Wine on a sample install: exactly the product's own
files, its entry in the list of installed programs and its shortcuts go;
whatever else the user has stays."""

import unittest

from harness import (CONFIRM_CAPTION, MIXED_CASE_PRODUCT_FILES, UNINSTALL_KEY, Dialog,
                     WineTestCase, confirm_removal, diff, lay_sample_install, wait_until)


class RemovalOnSampleInstall(WineTestCase):

    def setUp(self):
        super().setUp()
        # The installer's names in other letter cases: the sweep must match
        # them all the same.
        self.sample = lay_sample_install(self.prefix, files=MIXED_CASE_PRODUCT_FILES)
        self.read_only = self.sample.install_dir + "\\quillmere.hlp"
        self.prefix.write_file(self.read_only, "help the user may not delete", read_only=True)
        install = self.sample.install_dir
        self.others = [
            install + "\\Readme.txt",
            install + "\\Quillmere.exe.bak",   # a listed name with more after it
            install + "\\MyQuillmere.exe",     # and with more before it
            install + "\\Quillmere.ex",        # and cut short
            install + "\\Help\\Quillmere.cnt",  # a listed name, but in a subfolder
            r"C:\users\Public\Desktop\Quillmere.lnk",  # all users' desktop: not ours
            self.prefix.desktop + "\\Other.lnk",
            self.prefix.programs + "\\Other\\Other.lnk",
        ]
        for path in self.others:
            self.prefix.write_file(path, "not the uninstaller's")
        self.before = self.prefix.snapshot()

    def test_RemovesExactlyTheProductsFilesEntryAndShortcuts(self):
        run = self.prefix.start(self.sample.command_line, cwd=self.sample.install_dir)
        confirm_removal(self.prefix).click("&No")
        self.assertEqual(run.exit_code(), 0)
        self.assertEnded(["uninstall.exe", "suicide.exe"], 10)
        wait_until(lambda: not self.prefix.exists(self.prefix.temp + "\\suicide.exe"), 10,
                   "the temporary copy to go")

        gone = [p for p in self.sample.files if p != self.read_only]
        gone += [self.sample.uninstaller, self.sample.desktop_shortcut,
                 self.sample.program_group] + self.sample.group_files
        expected = sorted(["- file %s" % p.lower() for p in gone if p != self.sample.program_group]
                          + ["- dir %s" % self.sample.program_group.lower(),
                             "- key %s" % UNINSTALL_KEY.lower()])
        self.assertEqual(sorted(diff(self.before, self.prefix.snapshot())), expected)

    def test_AnsweringNoChangesNothing(self):
        run = self.prefix.start(self.sample.command_line, cwd=self.sample.install_dir)
        Dialog.wait(self.prefix, CONFIRM_CAPTION).click("No")
        self.assertEqual(run.exit_code(), 0)
        self.assertNoChange(self.before, self.prefix.snapshot())


if __name__ == "__main__":
    unittest.main()
