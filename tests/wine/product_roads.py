#!/usr/bin/python3
"""The shipped 32-bit Uninstall.exe itself under Wine: the tests of the twin
that between them take every road once, run again on the product file under
the emulated 32-bit Wine (target "i686", see tools/winekit/target.py).

The twin shares the product's sources but not its calling conventions,
structure sizes, entry-point decoration, stack alignment or compiled code;
these runs are where the file that ships is seen to work. Every process is
emulated here, so the whole suite is not run again: one test a road.

    PYTHONPATH=tools WINE_TARGET=i686 /usr/bin/python3 tests/wine/product_roads.py -v

(WINE_TARGET defaults to i686 here.) A missing or broken chroot fails every
test, with what is wrong; run tools/setup-i386-wine.sh.
"""

import os
import unittest

# Before the tests are imported: their bounds are scaled to the target.
os.environ.setdefault("WINE_TARGET", "i686")

ROADS = (
    # Declined by Enter as the dialog opens, and by a click on "No":
    # nothing changes.
    "test_dialogs.ConfirmationDialog.test_EnterAsItOpensDeclines",
    "test_roles.RoleChoiceUnderWine.test_NoTailShowsConfirmationAndNoChangesNothing",
    # The whole road from the install directory with "&No": the exact
    # difference of the snapshots.
    "test_self_delete.HandOffUnderWine.test_WholeRoadLeavesACleanMachineWithinFiveSeconds",
    # "&Yes": the feedback page through the registered browser, never
    # through a planted C:\Program.exe (the path quoted whatever stands
    # before it) nor a browser.exe in the temp folder.
    "test_dialogs.FeedbackBrowserPath.test_RunsRegisteredBrowserNeverThePlantedProgram",
    # The hand-off through a temp folder with a blank, and past a stale
    # copy that cannot be overwritten.
    "test_self_delete.HandOffUnderWine.test_TempFolderWithBlankWorksAllTheSame",
    "test_self_delete.HandOffUnderWine.test_StaleCopyThatCannotBeOverwrittenIsNeverStarted",
    # The cleanup role started by hand, its tail with blanks.
    "test_roles.RoleChoiceUnderWine.test_TailWithBlanksNamesOneFileWhole",
    # A program group that is a link; a product file held open, which
    # keeps the removal from finishing (no hand-off, the unfinished notice
    # and its one button); and an install read-only throughout, files and
    # uninstaller, that still goes whole in one run.
    "test_removal.RemovalOnSampleInstall.test_GroupThatIsALinkLeavesTheFilesItLeadsTo",
    "test_self_delete.HandOffUnderWine.test_FileHeldOpenKeepsTheEntryAndStartsNoHandOff",
    "test_self_delete.HandOffUnderWine.test_ReadOnlyInstallGoesWholeInOneRun",
)


def load_tests(loader, standard_tests, pattern):
    # A name that no longer exists is an error of the run, not a skip.
    return loader.loadTestsFromNames(ROADS)


if __name__ == "__main__":
    unittest.main()
