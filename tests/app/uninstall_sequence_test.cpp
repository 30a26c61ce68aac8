// The two roles and the uninstall sequence, run as the user starts the
// program, on a machine with the product installed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/support/product_facts.h"
#include "tests/support/sample_machine.h"
#include "ui/resource.h"

namespace {

typedef mem::UserAction A;

class UninstallSequenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mem::Reset();
        sample::RegisterUninstallerDialogs();
        sample::RegisterUninstallerProgram();
        sample::LaySampleInstall(options_);
    }

    // Starts the uninstaller with this command line (its quoted path when
    // empty) and runs everything to its end.
    DWORD Run(const std::vector<std::vector<A>>& answers, const std::string& commandLine = "")
    {
        mem::ScriptDialogs(answers);
        const std::string path = sample::UninstallerPath(options_);
        const DWORD id = mem::StartProcess(
            path, commandLine.empty() ? "\"" + path + "\"" : commandLine, options_.installDir);
        mem::RunUntilAllEnded();
        return id;
    }

    static const mem::ProcessRecord Process(DWORD id)
    {
        for (const mem::ProcessRecord& process : mem::Processes()) {
            if (process.id == id) {
                return process;
            }
        }
        ADD_FAILURE() << "no process " << id;
        return mem::ProcessRecord();
    }

    // Index of the first change of this kind whose path ends with this text.
    static size_t ChangeIndex(mem::ChangeKind kind, const std::string& pathEnd)
    {
        const std::vector<mem::ChangeRecord> changes = mem::Changes();
        for (size_t i = 0; i < changes.size(); ++i) {
            const std::string& path = changes[i].path;
            if (changes[i].kind == kind && path.size() >= pathEnd.size() &&
                path.compare(path.size() - pathEnd.size(), pathEnd.size(), pathEnd) == 0) {
                return i;
            }
        }
        ADD_FAILURE() << "no change " << kind << " of ..." << pathEnd << "\n" << mem::Dump();
        return changes.size();
    }

    sample::InstallOptions options_;
};

TEST_F(UninstallSequenceTest, DecliningRemovesNothingAndStartsNothing)
{
    const std::vector<std::vector<A>> declines = {
        {{mem::PRESS_ENTER, 0, 0}},  // "No" is the default button
        {{mem::PRESS_ESCAPE, 0, 0}},
        {{mem::CLOSE_BOX, 0, 0}},
        {{mem::CLICK, IDCANCEL, 0}},
    };
    for (const std::vector<A>& answer : declines) {
        SetUp();
        const DWORD id = Run({answer});
        EXPECT_TRUE(mem::Changes().empty()) << "action " << answer[0].kind << "\n" << mem::Dump();
        EXPECT_EQ(mem::Processes().size(), 2u) << "the shell and the uninstaller only";
        EXPECT_EQ(Process(id).exitCode, 0u);
        ASSERT_EQ(mem::DialogsShown().size(), 1u);
        EXPECT_EQ(mem::DialogsShown()[0].resourceId, IDD_CONFIRM_REMOVE);
    }
}

TEST_F(UninstallSequenceTest, FailedConfirmationDialogCountsAsARefusal)
{
    mem::FailCall("DialogBoxParamA", 1814);
    const DWORD id = Run({});
    EXPECT_TRUE(mem::Changes().empty()) << mem::Dump();
    EXPECT_EQ(mem::Processes().size(), 2u);
    EXPECT_EQ(Process(id).exitCode, 0u);
}

TEST_F(UninstallSequenceTest, YesRemovesFilesEntryShortcutsThenReportsThenHandsOff)
{
    const std::vector<std::vector<A>> closings = {
        {{mem::PRESS_ENTER, 0, 0}}, {{mem::CLICK, IDOK, 0}}, {{mem::ALT_KEY, 0, 'n'}},
        {{mem::PRESS_ESCAPE, 0, 0}}, {{mem::CLOSE_BOX, 0, 0}}, {{mem::CLICK, IDCANCEL, 0}},
    };
    for (const std::vector<A>& closing : closings) {
        SetUp();
        const DWORD id = Run({{{mem::CLICK, IDOK, 0}}, closing});
        SCOPED_TRACE(testing::Message() << "closing action " << closing[0].kind);

        const size_t files = ChangeIndex(mem::FILE_DELETED, "C:\\Program Files\\Quillmere\\Quillmere.exe");
        const size_t entry = ChangeIndex(mem::KEY_DELETED, "");
        const size_t shortcut = ChangeIndex(mem::FILE_DELETED, options_.desktop + "\\Quillmere.lnk");
        const size_t group = ChangeIndex(mem::FOLDER_REMOVED, options_.programs + "\\Quillmere");
        const size_t copy = ChangeIndex(mem::FILE_WRITTEN, "suicide.exe");
        EXPECT_LT(files, entry);
        EXPECT_LT(entry, shortcut);
        EXPECT_LT(shortcut, group);
        EXPECT_LT(group, copy);

        ASSERT_EQ(mem::DialogsShown().size(), 2u);
        EXPECT_EQ(mem::DialogsShown()[1].resourceId, IDD_REMOVE_COMPLETED);
        EXPECT_EQ(Process(id).exitCode, 0u);
        // Handed off and cleaned up, whichever button closed the dialog.
        EXPECT_FALSE(mem::FileExists(sample::UninstallerPath(options_)));
        EXPECT_FALSE(mem::FolderExists(options_.installDir));
        EXPECT_FALSE(mem::KeyExists(HKEY_LOCAL_MACHINE, facts::kUninstallKey));
        EXPECT_TRUE(mem::KeyExists(HKEY_CURRENT_USER, facts::kSettingsKey));
    }
}

TEST_F(UninstallSequenceTest, EveryStepRunsWhateverTheOneBeforeAchieved)
{
    options_.uninstallEntry = false;
    SetUp();
    Run({{{mem::CLICK, IDOK, 0}}, {{mem::CLICK, IDCANCEL, 0}}});
    EXPECT_FALSE(mem::FileExists(options_.desktop + "\\Quillmere.lnk")) << mem::Dump();
    EXPECT_FALSE(mem::FolderExists(options_.programs + "\\Quillmere"));
    EXPECT_EQ(mem::DialogsShown().size(), 2u);
}

TEST_F(UninstallSequenceTest, BrowserLeftOpenDoesNotKeepTheInstallDirectory)
{
    // The feedback page stays open long after the uninstaller has ended.
    mem::RegisterProgram("MZ browser", [] {
        g_platform->WaitForSingleObject(INVALID_HANDLE_VALUE, 60000);
        return 0;
    });
    Run({{{mem::CLICK, IDOK, 0}}, {{mem::CLICK, IDOK, 0}}});
    ASSERT_EQ(mem::WinExecCommands().size(), 1u);
    EXPECT_FALSE(mem::FolderExists(options_.installDir)) << mem::Dump();
    EXPECT_FALSE(mem::FileExists(sample::UninstallerPath(options_)));
}

TEST_F(UninstallSequenceTest, BlankTailRunsTheUninstallRole)
{
    const std::string path = sample::UninstallerPath(options_);
    Run({{{mem::PRESS_ESCAPE, 0, 0}}}, "\"" + path + "\" \t  ");
    EXPECT_EQ(mem::DialogsShown().size(), 1u);
}

TEST_F(UninstallSequenceTest, UnquotedOwnPathAsksFirstButAnUnquotedNameWithMoreIsCut)
{
    // As the list of installed programs starts an UninstallString written
    // without quotes. With more after it the start-up's rule holds: the rest
    // of the name becomes the tail, a file that does not exist.
    const std::string path = sample::UninstallerPath(options_);
    Run({{{mem::PRESS_ESCAPE, 0, 0}}}, path + " \t");
    EXPECT_EQ(mem::DialogsShown().size(), 1u);
    SetUp();
    const DWORD id = Run({}, path + " more");
    EXPECT_TRUE(mem::DialogsShown().empty());
    EXPECT_EQ(Process(id).exitCode, 0u);
    EXPECT_TRUE(mem::FileExists(path));
}

TEST_F(UninstallSequenceTest, RemovalThatCannotFinishKeepsTheEntryAndTheUninstallerAndSaysSo)
{
    // Another user's install (no value), a relative value, a folder that is
    // gone, a value ending in a blank, one naming another folder than the
    // uninstaller's; a product file still running (read-only too), one whose
    // path is too long; a listing cut short. The product stays as it was,
    // and so do the means to remove it once the user has closed it: entry,
    // uninstaller, shortcuts. A notice says so; Enter closes it, nothing
    // more.
    const std::string dir = options_.installDir;
    const std::string longDir = "C:\\" + std::string(237, 'q');  // 240 bytes
    const auto value = [](const std::string& text) {
        mem::SetStringValue(HKEY_CURRENT_USER, facts::kSettingsKey, facts::kProgramPathValue, text);
    };
    const std::vector<std::pair<std::string, std::function<void()>>> rows = {
        {"no value", [] {}},
        {"relative", [&] { value("Quillmere"); }},
        {"gone", [&] { value("C:\\Gone"); }},
        {"blank after", [&] { value(dir + " "); }},
        {"stale", [&] { mem::AddFolder("C:\\Old"); value("C:\\Old"); }},
        {"running", [&] { value(dir); mem::SetInUse(dir + "\\Quillmere.exe"); }},
        {"read-only, running", [&] {
             value(dir);
             mem::SetReadOnly(dir + "\\Quillmere.hlp");
             mem::SetInUse(dir + "\\Quillmere.hlp");
         }},
        {"too long", [&] { value(longDir); }},
        {"cut short", [&] { value(dir); mem::FailCall("FindNextFileA", ERROR_NOT_ENOUGH_MEMORY, 11); }},
    };
    for (const auto& row : rows) {
        options_.settingsKey = false;
        options_.installDir = row.first == "too long" ? longDir : dir;
        SetUp();
        row.second();
        Run({{{mem::CLICK, IDOK, 0}}, {{mem::PRESS_ENTER, 0, 0}}});
        EXPECT_TRUE(mem::KeyExists(HKEY_LOCAL_MACHINE, facts::kUninstallKey)) << row.first;
        EXPECT_TRUE(mem::FileExists(sample::UninstallerPath(options_))) << row.first;
        EXPECT_EQ(mem::Processes().size(), 2u) << "no copy, no browser for " << row.first;
        EXPECT_TRUE(mem::FileExists(options_.desktop + "\\Quillmere.lnk")) << row.first;
        EXPECT_TRUE(mem::FileExists(options_.programs + "\\Quillmere\\Uninstall Quillmere.lnk"))
            << row.first;
        ASSERT_EQ(mem::DialogsShown().size(), 2u) << row.first;
        EXPECT_EQ(mem::DialogsShown()[1].resourceId, IDD_REMOVE_UNFINISHED) << row.first;
    }
}

TEST_F(UninstallSequenceTest, RestrictsTheDllSearchBeforeAnythingElseInBothRoles)
{
    Run({{{mem::CLICK, IDOK, 0}}, {{mem::CLICK, IDCANCEL, 0}}});
    unsigned programs = 0;
    for (const mem::ProcessRecord& process : mem::Processes()) {
        if (process.id != 1) {
            EXPECT_TRUE(process.restrictedDllSearchFirst) << process.imagePath;
            ++programs;
        }
    }
    EXPECT_EQ(programs, 2u);
}

}  // namespace
