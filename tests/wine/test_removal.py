#!/usr/bin/python3
"""The removal under Wine on a sample install: exactly the product's own
files and its shortcuts go; whatever else the user has stays. A removal that
could not finish keeps the entry in the list of installed programs, the
uninstaller and the shortcuts, to run it again."""

import shutil
import unittest

import product_facts as facts
from winekit.base import wait_until
from winekit.dialogs import Dialog
from winekit.product import (CLOSING_BUTTON, CONFIRM_CAPTION, MIXED_CASE_PRODUCT_FILES,
                             PRODUCT_FILES, PROGRAM_GROUP_FILES, PROGRAM_PATH_VALUE, SETTINGS_KEY,
                             TEMP_COPY_NAME, UNINSTALLER_NAME, UNINSTALL_KEY, confirm_removal,
                             lay_sample_install)
from winekit.registry import reg_key, reg_string
from winekit.snapshots import diff
from winekit.testcase import WineTestCase


class RemovalOnSampleInstall(WineTestCase):
    maxDiff = None

    def setUp(self):
        super().setUp()
        # The installer's names in other letter cases: the sweep must match
        # them all the same.
        self.sample = lay_sample_install(self.prefix, files=MIXED_CASE_PRODUCT_FILES)
        install = self.sample.install_dir
        listed = PRODUCT_FILES[0]
        self.others = [
            install + "\\Readme.txt",
            install + "\\" + listed + ".bak",   # a listed name with more after it
            install + "\\My" + listed,          # and with more before it
            install + "\\" + listed[:-1],       # and cut short
            install + "\\Help\\" + PRODUCT_FILES[2],  # a listed name, but in a subfolder
            # All users' desktop: not ours.
            "C:\\users\\Public\\Desktop\\" + facts.DESKTOP_SHORTCUT,
            self.prefix.desktop + "\\Other.lnk",
            self.prefix.programs + "\\Other\\Other.lnk",
        ]
        for path in self.others:
            self.prefix.write_file(path, "not the uninstaller's")
        self.before = self.prefix.snapshot()

    def remove(self, notice=facts.COMPLETED_NOTICE):
        """The whole road: "Yes", "&No" in the completion dialog that shows
        notice or "OK" in an unfinished one's (notice None: whichever), and
        whatever runs ended."""
        run = self.prefix.start(self.sample.command_line, cwd=self.sample.install_dir)
        completed = confirm_removal(self.prefix)
        if notice:
            completed.control(notice)
        completed.click(CLOSING_BUTTON[completed.caption])
        self.assertEqual(run.exit_code(), 0)
        self.assertEnded([UNINSTALLER_NAME, TEMP_COPY_NAME], 10)
        wait_until(lambda: not self.prefix.exists(self.prefix.temp + "\\" + TEMP_COPY_NAME), 10,
                   "the temporary copy to go")
        return self.prefix.snapshot()

    def expected_changes(self, gone, gone_dirs=()):
        return sorted(["- file %s" % p.lower() for p in gone]
                      + ["- dir %s" % p.lower() for p in gone_dirs]
                      + ["- key %s" % UNINSTALL_KEY.lower()])

    def test_RemovesExactlyTheProductsFilesAndShortcuts(self):
        after = self.remove()
        gone = self.sample.files + [self.sample.uninstaller]
        gone += [self.sample.desktop_shortcut] + self.sample.group_files
        self.assertEqual(sorted(diff(self.before, after)),
                         self.expected_changes(gone, [self.sample.program_group]))

    def test_GroupThatIsALinkLeavesTheFilesItLeadsTo(self):
        # The group is a link to a folder of the user's own files, among
        # them files with the group's names: none of them may go. Wine shows
        # a host symbolic link to a folder as a reparse point (attributes
        # 0x410) and refuses to remove it, so here the link stays too; on
        # Windows the link itself would go, never what it leads to.
        group = self.prefix.unix(self.sample.program_group)
        shutil.rmtree(group)
        notes = self.prefix.user_dir + "\\Documents\\Notes"
        for name in ("Diary.txt",) + PROGRAM_GROUP_FILES:
            self.prefix.write_file(notes + "\\" + name, "the user's own")
        group.symlink_to(self.prefix.unix(notes), target_is_directory=True)
        before = self.prefix.snapshot()
        after = self.remove()
        gone = self.sample.files + [self.sample.uninstaller]
        gone += [self.sample.desktop_shortcut]
        self.assertEqual(sorted(diff(before, after)), self.expected_changes(gone))

    def test_UnlistableInstallDirectoryLeavesTheProductAsItWas(self):
        # "Program Path" ending in a blank: the search of that folder finds
        # nothing, so nothing of the product went. Its entry in the list of
        # installed programs, its uninstaller and its shortcuts stay, to
        # remove it still.
        self.prefix.reg_import("%s\n%s=%s\n" % (reg_key(SETTINGS_KEY), reg_string(PROGRAM_PATH_VALUE),
                                                reg_string(self.sample.install_dir + " ")))
        before = self.prefix.snapshot()
        self.assertNoChange(before, self.remove(facts.UNFINISHED_NOTICE))

    def test_NameTheSearchBestFitsIntoAPathNeverLeadsOutOfTheGroup(self):
        # Made with the wide calls, U+FF0E U+FF0E U+FF3C comes back from the
        # ANSI search as "..\": joined to the group, the name reaches C:\.
        self.prefix.write_file("C:\\victim.txt", "the user's own")
        planted = self.prefix.unix(self.sample.program_group) / ("\uff0e\uff0e\uff3c" * 9 + "victim.txt")
        planted.write_text("planted")
        self.remove()
        self.assertTrue(self.prefix.exists("C:\\victim.txt"), "a file outside the group went")

    def test_DoubleByteNameGoesWithTheGroup(self):
        # In code page 932 the trail byte of 表 is 0x5C, "\": read byte by
        # byte, the name would hold a separator, and stay with its group.
        self.prefix.use_locale("ja_JP.UTF-8")
        group = self.sample.program_group
        (self.prefix.unix(group) / "表示.lnk").write_text("shortcut")
        listing = self.prefix.root / "listing.txt"
        self.prefix.run('cmd /c dir /b "%s" > "%s"' % (group, self.prefix.windows_path(listing)))
        self.assertIn(b"\x95\\\x8e\xa6.lnk", listing.read_bytes().split(b"\r\n"),
                      "Wine lists the name in another code page than 932")
        self.remove(notice=None)
        self.assertFalse(self.prefix.exists(group), "the group stayed")

    def test_AnsweringNoChangesNothing(self):
        run = self.prefix.start(self.sample.command_line, cwd=self.sample.install_dir)
        Dialog.wait(self.prefix, CONFIRM_CAPTION).click("No")
        self.assertEqual(run.exit_code(), 0)
        self.assertNoChange(self.before, self.prefix.snapshot())


if __name__ == "__main__":
    unittest.main()
