// The uninstall entry, the desktop shortcut and the Start-menu group.
#include <gtest/gtest.h>

#include <string>

#include "platform/memory_platform.h"
#include "removal/removal.h"
#include "tests/support/product_facts.h"

namespace {

const std::string DESKTOP = "C:\\Users\\Alice\\Desktop";
const std::string PROGRAMS = "C:\\Users\\Alice\\Start Menu\\Programs";
const std::string GROUP = PROGRAMS + "\\Quillmere";
const std::string COMMON_DESKTOP = "C:\\Users\\Public\\Desktop";
const std::string COMMON_PROGRAMS = "C:\\ProgramData\\Start Menu\\Programs";

class RegistrationAndShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mem::Reset();
        mem::AddKey(HKEY_LOCAL_MACHINE, facts::kUninstallKey);
        mem::SetStringValue(HKEY_LOCAL_MACHINE, facts::kUninstallKey, "DisplayName", "Quillmere");
        mem::AddKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other");
        mem::SetSpecialFolder(CSIDL_DESKTOPDIRECTORY, DESKTOP);
        mem::SetSpecialFolder(CSIDL_PROGRAMS, PROGRAMS);
        mem::SetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, COMMON_DESKTOP);
        mem::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, COMMON_PROGRAMS);
        mem::AddFile(DESKTOP + "\\Quillmere.lnk");
        mem::AddFile(DESKTOP + "\\Other.lnk");
        mem::AddFile(GROUP + "\\Quillmere.lnk");
        mem::AddFile(GROUP + "\\Quillmere Help.lnk");
        mem::AddFile(GROUP + "\\Uninstall Quillmere.lnk");
        mem::AddFile(PROGRAMS + "\\Other.lnk");
        mem::AddFile(COMMON_DESKTOP + "\\Quillmere.lnk");
        mem::AddFile(COMMON_PROGRAMS + "\\Quillmere\\Quillmere.lnk");
    }

    static void ExpectOthersUntouched()
    {
        EXPECT_TRUE(mem::KeyExists(HKEY_LOCAL_MACHINE,
                                   "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
        EXPECT_TRUE(mem::FileExists(DESKTOP + "\\Other.lnk"));
        EXPECT_TRUE(mem::FileExists(PROGRAMS + "\\Other.lnk"));
        // Only the current user's folders are the product's to clean.
        EXPECT_TRUE(mem::FileExists(COMMON_DESKTOP + "\\Quillmere.lnk"));
        EXPECT_TRUE(mem::FileExists(COMMON_PROGRAMS + "\\Quillmere\\Quillmere.lnk"));
    }
};

TEST_F(RegistrationAndShortcutsTest, RemovesTheEntryAndASecondRunChangesNothing)
{
    EXPECT_EQ(RemoveUninstallEntry(), 1);
    EXPECT_FALSE(mem::KeyExists(HKEY_LOCAL_MACHINE, facts::kUninstallKey));
    EXPECT_EQ(RemoveShortcuts(), 1);
    EXPECT_FALSE(mem::FileExists(DESKTOP + "\\Quillmere.lnk"));
    EXPECT_FALSE(mem::FolderExists(GROUP));
    EXPECT_EQ(mem::OpenHandleCount(), 0u) << "the group's search is closed";
    ExpectOthersUntouched();

    const size_t changes = mem::Changes().size();
    EXPECT_EQ(RemoveUninstallEntry(), 0);
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_EQ(mem::Changes().size(), changes) << mem::Dump();
    ExpectOthersUntouched();
}

TEST_F(RegistrationAndShortcutsTest, EntryThatCannotBeDeletedStays)
{
    mem::ProtectKey(HKEY_LOCAL_MACHINE, facts::kUninstallKey);
    EXPECT_EQ(RemoveUninstallEntry(), 0);
    EXPECT_TRUE(mem::KeyExists(HKEY_LOCAL_MACHINE, facts::kUninstallKey));
}

TEST_F(RegistrationAndShortcutsTest, MissingShortcutDoesNotStopTheGroupsRemoval)
{
    ASSERT_EQ(RemoveShortcuts(), 1);  // the first run removes both
    mem::AddFile(GROUP + "\\Quillmere.lnk");
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_FALSE(mem::FolderExists(GROUP));
}

TEST_F(RegistrationAndShortcutsTest, GroupWithASubfolderKeepsItAndItselfWithItsFilesGone)
{
    mem::AddFile(GROUP + "\\Extras\\Tour.lnk");
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_TRUE(mem::FolderExists(GROUP));
    EXPECT_TRUE(mem::FileExists(GROUP + "\\Extras\\Tour.lnk"));
    EXPECT_FALSE(mem::FileExists(GROUP + "\\Quillmere.lnk"));
    EXPECT_FALSE(mem::FileExists(GROUP + "\\Uninstall Quillmere.lnk"));
    EXPECT_FALSE(mem::FileExists(DESKTOP + "\\Quillmere.lnk"));
}

TEST_F(RegistrationAndShortcutsTest, GroupWithAFileThatCannotGoStaysWithTheOthersGone)
{
    mem::SetReadOnly(GROUP + "\\Quillmere Help.lnk");
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_TRUE(mem::FileExists(GROUP + "\\Quillmere Help.lnk"));
    EXPECT_FALSE(mem::FileExists(GROUP + "\\Quillmere.lnk"));
}

TEST_F(RegistrationAndShortcutsTest, FailedOrRelativeFolderLookupTouchesNothingThere)
{
    // An undefined group path could be "\Quillmere" at the drive's root,
    // whose files would all be deleted. A relative one (a broken setting)
    // would be taken from the current directory, here the root.
    const bool relative[] = {false, true};
    for (bool broken : relative) {
        SetUp();
        mem::AddFile("C:\\Quillmere\\precious.doc");
        mem::AddFile("C:\\Quillmere.lnk");
        if (broken) {
            mem::SetBrokenSpecialFolder(CSIDL_DESKTOPDIRECTORY, ".");
            mem::SetBrokenSpecialFolder(CSIDL_PROGRAMS, ".");
        } else {
            mem::FailSpecialFolder(CSIDL_DESKTOPDIRECTORY);
            mem::FailSpecialFolder(CSIDL_PROGRAMS);
        }
        EXPECT_EQ(RemoveShortcuts(), 0);
        EXPECT_TRUE(mem::Changes().empty()) << mem::Dump();
        EXPECT_TRUE(mem::FileExists("C:\\Quillmere\\precious.doc"));
        EXPECT_TRUE(mem::FileExists("C:\\Quillmere.lnk"));
        EXPECT_TRUE(mem::FileExists(DESKTOP + "\\Quillmere.lnk"));
    }
}

TEST_F(RegistrationAndShortcutsTest, OneFailedLookupStillRemovesTheOtherPart)
{
    mem::FailSpecialFolder(CSIDL_DESKTOPDIRECTORY);
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_TRUE(mem::FileExists(DESKTOP + "\\Quillmere.lnk"));
    EXPECT_FALSE(mem::FolderExists(GROUP));

    SetUp();
    mem::FailSpecialFolder(CSIDL_PROGRAMS);
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_FALSE(mem::FileExists(DESKTOP + "\\Quillmere.lnk"));
    EXPECT_TRUE(mem::FolderExists(GROUP));
}

TEST_F(RegistrationAndShortcutsTest, EmptyingSkipsOnlyTheDotEntriesByteForByte)
{
    mem::AddFile(GROUP + "\\..x");
    mem::AddFile(GROUP + "\\.hidden");
    EXPECT_NE(EmptyAndRemoveFolder(GROUP.c_str()), 0) << mem::Dump();
    EXPECT_FALSE(mem::FolderExists(GROUP));
    EXPECT_TRUE(mem::FolderExists(PROGRAMS));
}

TEST_F(RegistrationAndShortcutsTest, NameTheSearchBestFitsIntoAPathNeverLeadsOutOfTheGroup)
{
    // Made with the wide calls, U+FF0E U+FF0E U+FF3C comes back from the
    // ANSI search as "..\": joined to the group, the name reaches the root.
    std::string climb;
    for (int i = 0; i < 6; ++i) {
        climb += "\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBC";
    }
    mem::AddFile(GROUP + "\\" + climb + "victim.txt");
    mem::AddFile("C:\\victim.txt");
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_TRUE(mem::FileExists("C:\\victim.txt")) << mem::Dump();
    EXPECT_FALSE(mem::FileExists(GROUP + "\\Quillmere.lnk")) << "the others go";
}

TEST_F(RegistrationAndShortcutsTest, FailedAppendBuildsNoPathAtAll)
{
    // Without its "\Quillmere" the group path would be the whole Programs
    // folder. Calls 1-3 build the shortcut's path, 4-6 the group's.
    mem::FailCall("lstrcatA", ERROR_INVALID_PARAMETER, 5);
    EXPECT_EQ(RemoveShortcuts(), 0);
    EXPECT_TRUE(mem::FileExists(PROGRAMS + "\\Other.lnk")) << mem::Dump();
    EXPECT_TRUE(mem::FolderExists(GROUP));
    EXPECT_FALSE(mem::FileExists(DESKTOP + "\\Quillmere.lnk"));
}

TEST_F(RegistrationAndShortcutsTest, UnlistableGroupIsLeftAlone)
{
    // A group whose attributes cannot be read may be a link into the user's
    // files: it is not listed either. The empty one shows that the step
    // itself does not remove it.
    const std::string empty = PROGRAMS + "\\Empty";
    const char* failing[] = {"FindFirstFileA", "GetFileAttributesA"};
    for (const char* operation : failing) {
        SetUp();
        mem::AddFolder(empty);
        mem::FailCall(operation, ERROR_ACCESS_DENIED);
        EXPECT_EQ(EmptyAndRemoveFolder(GROUP.c_str()), 0) << operation;
        EXPECT_TRUE(mem::FileExists(GROUP + "\\Quillmere.lnk")) << operation;
        mem::FailCall(operation, ERROR_ACCESS_DENIED);
        EXPECT_EQ(EmptyAndRemoveFolder(empty.c_str()), 0) << operation;
        EXPECT_TRUE(mem::FolderExists(empty)) << operation;
        EXPECT_TRUE(mem::Changes().empty()) << operation << mem::Dump();
    }
}

TEST_F(RegistrationAndShortcutsTest, GroupThatIsALinkIsRemovedNeverEmptied)
{
    // The user's own folder, reached through a group that is a link to it:
    // only the link may go. Left, it counts as not removed.
    const std::string notes = "C:\\Users\\Alice\\Documents\\Notes";
    const std::string programs = "C:\\Users\\Alice\\Other Start Menu\\Programs";
    const bool removalFails[] = {false, true};
    for (bool fails : removalFails) {
        SetUp();
        mem::AddFile(notes + "\\Diary.txt");
        mem::AddFile(notes + "\\Quillmere.lnk");
        mem::AddFolderLink(programs + "\\Quillmere", notes);
        mem::SetSpecialFolder(CSIDL_PROGRAMS, programs);
        if (fails) {
            mem::FailCall("RemoveDirectoryA", ERROR_ACCESS_DENIED);
        }
        EXPECT_EQ(RemoveShortcuts(), fails ? 0 : 1);
        EXPECT_EQ(mem::FolderExists(programs + "\\Quillmere"), fails);
        EXPECT_TRUE(mem::FileExists(notes + "\\Diary.txt")) << mem::Dump();
        EXPECT_TRUE(mem::FileExists(notes + "\\Quillmere.lnk"));
    }
}

}  // namespace
