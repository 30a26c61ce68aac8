// The hand-off from the uninstall role to its temporary copy, and what the
// copy does, with both processes running on the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "selfdelete/self_delete.h"
#include "tests/support/product_facts.h"
#include "tests/support/sample_machine.h"

namespace {

typedef mem::UserAction A;

class SelfDeleteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mem::Reset();
        sample::RegisterUninstallerDialogs();
        sample::RegisterUninstallerProgram();
    }

    // Lays the machine, answers "Yes" then "&No", and runs the uninstaller
    // and whatever it starts to their end.
    void RunRoad()
    {
        sample::LaySampleInstall(options_);
        mem::ScriptDialogs({{{mem::CLICK, IDOK, 0}}, {{mem::CLICK, IDCANCEL, 0}}});
        uninstaller_ = sample::StartUninstaller(options_);
        mem::RunUntilAllEnded();
    }

    // A copy of the uninstaller started by hand, its tail naming a file, run
    // to its end.
    static void RunCleanupByHand(const std::string& tail, const std::string& folder = "C:\\Tools")
    {
        mem::AddFile("C:\\Tools\\copy.exe", sample::UNINSTALLER_IMAGE);
        mem::StartProcess("C:\\Tools\\copy.exe", "C:\\Tools\\copy.exe " + tail, folder);
        mem::RunUntilAllEnded();
    }

    std::string Copy() const { return options_.tempPath + facts::kTempCopyName; }
    std::string Uninstaller() const { return sample::UninstallerPath(options_); }

    // The processes the uninstaller started.
    std::vector<mem::ProcessRecord> Children() const
    {
        std::vector<mem::ProcessRecord> children;
        for (const mem::ProcessRecord& process : mem::Processes()) {
            if (process.parentId == uninstaller_) {
                children.push_back(process);
            }
        }
        return children;
    }

    // Each call in the log, as "pid Name".
    static std::vector<std::string> Calls()
    {
        std::vector<std::string> calls;
        for (const mem::CallRecord& call : mem::CallLog()) {
            calls.push_back(std::to_string(call.processId) + " " + call.operation);
        }
        return calls;
    }

    static size_t IndexOf(const std::vector<std::string>& calls, const std::string& call,
                          size_t from = 0)
    {
        auto found = std::find(calls.begin() + static_cast<long>(from), calls.end(), call);
        EXPECT_NE(found, calls.end()) << call << " never made\n" << mem::Dump();
        return static_cast<size_t>(found - calls.begin());
    }

    void ExpectCleanMachine() const
    {
        EXPECT_FALSE(mem::FileExists(Uninstaller())) << mem::Dump();
        EXPECT_FALSE(mem::FolderExists(options_.installDir));
        EXPECT_FALSE(mem::FileExists(Copy()));
        EXPECT_EQ(mem::OpenHandleCount(), 0u);
        EXPECT_FALSE(mem::NamedObjectExists(facts::kStartEventName));
        EXPECT_FALSE(mem::NamedObjectExists(facts::kExitMutexName));
        EXPECT_TRUE(mem::KeyExists(HKEY_CURRENT_USER, facts::kSettingsKey)) << "only ever read";
    }

    sample::InstallOptions options_;
    DWORD uninstaller_ = 0;
};

TEST_F(SelfDeleteTest, HandOffLeavesNoUninstallerDirectoryCopyOrHandle)
{
    RunRoad();
    ExpectCleanMachine();
    ASSERT_EQ(Children().size(), 1u);
    EXPECT_EQ(Children()[0].imagePath, Copy());
    EXPECT_TRUE(Children()[0].ended);
    EXPECT_EQ(Children()[0].exitCode, 0u);
    // Neither wait ran out: the protocol ended well inside one bound.
    EXPECT_LT(mem::Now(), facts::kHandoffWaitMs);
}

TEST_F(SelfDeleteTest, BothSidesKeepTheProtocolsOrder)
{
    RunRoad();
    ASSERT_EQ(Children().size(), 1u);
    const std::string parent = std::to_string(uninstaller_) + " ";
    const std::string child = std::to_string(Children()[0].id) + " ";
    const std::vector<std::string> calls = Calls();

    // The uninstall role: copy, open for deletion, event, mutex, start, wait,
    // let go of the copy.
    size_t at = IndexOf(calls, parent + "CopyFileA");
    at = IndexOf(calls, parent + "CreateFileA", at);
    at = IndexOf(calls, parent + "CreateEventA", at);
    at = IndexOf(calls, parent + "CreateMutexA", at);
    const size_t started = IndexOf(calls, parent + "CreateProcessA", at);
    const size_t waited = IndexOf(calls, parent + "WaitForSingleObject", started);
    const size_t letGo = IndexOf(calls, parent + "CloseHandle", waited);

    // The copy: report, wait for the end of the uninstall role, delete,
    // re-read the directory, remove it.
    const size_t set = IndexOf(calls, child + "SetEvent");
    at = IndexOf(calls, child + "OpenMutexA", set);
    const size_t childWait = IndexOf(calls, child + "WaitForSingleObject", at);
    const size_t deleted = IndexOf(calls, child + "DeleteFileA", childWait);
    at = IndexOf(calls, child + "RegOpenKeyExA", deleted);
    IndexOf(calls, child + "RemoveDirectoryA", at);

    EXPECT_LT(started, set);
    EXPECT_LT(set, letGo) << "the uninstall role waited for the copy to report";
    EXPECT_LT(letGo, deleted) << "the copy deleted while the uninstall role ran";
    // The copy's wait ended by the uninstall role's end: the mutex abandoned.
    EXPECT_EQ(mem::CallLog()[childWait].result.rfind("WAIT_ABANDONED", 0), 0u) << mem::CallLog()[childWait];
}

TEST_F(SelfDeleteTest, CopyIsQuotedAndTheUninstallerPathIsTheWholeTail)
{
    options_.tempPath = "C:\\Users\\Alice Smith\\Local Temp\\";
    RunRoad();
    ASSERT_EQ(Children().size(), 1u);
    EXPECT_EQ(Children()[0].commandLine,
              "\"C:\\Users\\Alice Smith\\Local Temp\\suicide.exe\" "
              "C:\\Program Files\\Quillmere\\Uninstall.exe");
    ExpectCleanMachine();
}

TEST_F(SelfDeleteTest, CopyRunsInTheSystemFolderSoTheInstallDirectoryCanGo)
{
    // The uninstaller runs with the install directory as its own. The temp
    // folder serves when the system folder cannot be got.
    const bool systemFolderFails[] = {false, true};
    for (bool fails : systemFolderFails) {
        SetUp();
        if (fails) {
            mem::FailCall("GetSystemDirectoryA", ERROR_ACCESS_DENIED);
        }
        RunRoad();
        ASSERT_EQ(Children().size(), 1u);
        const std::string temp = options_.tempPath.substr(0, options_.tempPath.size() - 1);
        EXPECT_EQ(Children()[0].currentDirectory, fails ? temp : "C:\\Windows\\System32");
        EXPECT_FALSE(mem::FolderExists(options_.installDir));
    }
}

TEST_F(SelfDeleteTest, CopyIsANewFileWhateverStoodAtItsName)
{
    // A copy left by an earlier run goes. A symbolic link to a user's file,
    // planted in a temp folder all users share, goes itself, never what it
    // leads to. What cannot be deleted is left as it was and keeps the
    // hand-off from starting: a read-only leftover, a folder, a hard link to
    // a user's read-only file (it shares that file's attributes), and one to
    // a file another program holds sharing writing, which a copy told to
    // overwrite would write into.
    const std::string stale = options_.tempPath + "SUICIDE.EXE";
    const std::string report = "C:\\Users\\Bob\\Documents\\Report.doc";
    enum Leftover { COPY, READ_ONLY_COPY, LINK_TO_REPORT, READ_ONLY_FOLDER, HARD_LINK_READ_ONLY,
                    HARD_LINK_HELD };
    for (Leftover leftover : {COPY, READ_ONLY_COPY, LINK_TO_REPORT, READ_ONLY_FOLDER,
                              HARD_LINK_READ_ONLY, HARD_LINK_HELD}) {
        SetUp();
        mem::AddFile(report, "Bob's report");
        if (leftover == LINK_TO_REPORT) {
            mem::AddFileLink(stale, report);
        } else if (leftover == HARD_LINK_READ_ONLY || leftover == HARD_LINK_HELD) {
            mem::AddHardLink(stale, report);
            mem::SetReadOnly(report, leftover == HARD_LINK_READ_ONLY);
            mem::SetInUse(report, leftover == HARD_LINK_HELD);
        } else if (leftover == READ_ONLY_FOLDER) {
            mem::AddFolder(stale);
        } else {
            mem::AddFile(stale, "left by an earlier run");
        }
        if (leftover == READ_ONLY_COPY || leftover == READ_ONLY_FOLDER) {
            mem::SetReadOnly(stale);
        }
        RunRoad();
        EXPECT_EQ(mem::FileContent(report), "Bob's report") << leftover << mem::Dump();
        if (leftover != COPY && leftover != LINK_TO_REPORT) {
            EXPECT_TRUE(Children().empty()) << leftover;
            for (const mem::ChangeRecord& change : mem::Changes()) {
                EXPECT_NE(change.kind, mem::ATTRIBUTES_SET) << change;
            }
            continue;
        }
        ASSERT_EQ(Children().size(), 1u) << leftover << mem::Dump();
        ExpectCleanMachine();  // the program that ran was ours: it cleaned up
    }
}

TEST_F(SelfDeleteTest, UninstallerLockedAWhileAfterItsEndIsDeletedWithinTwoSeconds)
{
    // Windows may hold an ended program's file a moment (its teardown, a
    // scanner): the delete is tried again every 100 ms for 2 s, no longer.
    for (DWORD locked : {1500u, 2000u, 2001u, 2500u}) {
        SetUp();
        mem::LockImagesAfterEnd(locked);
        RunRoad();
        EXPECT_EQ(mem::FileExists(Uninstaller()), locked > 2000) << locked << mem::Dump();
        EXPECT_FALSE(mem::FileExists(Copy()));
    }
}

TEST_F(SelfDeleteTest, OnlyADeleteRefusedAsLockedIsTriedAgain)
{
    // Denied or not shared: the file may be locked a moment longer. Any
    // other error (a file that is not there) would only cost the wait.
    const struct {
        DWORD error;
        bool retried;
    } rows[] = {{ERROR_ACCESS_DENIED, true}, {ERROR_SHARING_VIOLATION, true},
                {ERROR_FILE_NOT_FOUND, false}, {ERROR_PATH_NOT_FOUND, false}};
    for (const auto& row : rows) {
        SetUp();
        mem::AddFile("C:\\Data\\Uninstall.exe");
        mem::FailCall("DeleteFileA", row.error);
        RunCleanupByHand("C:\\Data\\Uninstall.exe");
        EXPECT_EQ(mem::FileExists("C:\\Data\\Uninstall.exe"), !row.retried) << row.error;
        EXPECT_EQ(mem::Now(), row.retried ? 100u : 0u) << row.error;
    }
}

TEST_F(SelfDeleteTest, ReadOnlyUninstallerGoesAndLeavesNoCopyBehind)
{
    // Installed from read-only media: the uninstall role clears its own
    // file's bit before the hand-off, or the copy could never delete it.
    // The copy never changes the attributes of the file its tail names.
    options_.readOnlyUninstaller = true;
    RunRoad();
    ASSERT_EQ(Children().size(), 1u);
    ExpectCleanMachine();
    mem::AddFile("C:\\Data\\Report.doc");
    mem::SetReadOnly("C:\\Data\\Report.doc");
    const size_t changes = mem::Changes().size();
    RunCleanupByHand("C:\\Data\\Report.doc");
    EXPECT_TRUE(mem::FileExists("C:\\Data\\Report.doc"));
    EXPECT_EQ(mem::Changes().size(), changes) << mem::Dump();
}

TEST_F(SelfDeleteTest, FailedCopyStartsNothingAndLeavesTheUninstaller)
{
    // Held open by another program: made writable or not, it cannot be
    // overwritten.
    mem::AddFile(Copy(), "someone else's program");
    mem::SetReadOnly(Copy());
    mem::SetInUse(Copy());
    RunRoad();
    EXPECT_TRUE(Children().empty()) << mem::Dump();
    EXPECT_TRUE(mem::FileExists(Uninstaller()));
    EXPECT_EQ(mem::FileContent(Copy()), "someone else's program");
    EXPECT_LT(mem::Now(), facts::kHandoffWaitMs) << "no wait for a copy that was never started";
}

TEST_F(SelfDeleteTest, FailedLookupOrOpenLeavesNoCopyAndStartsNothing)
{
    // A copy that cannot be opened for deletion on close (a scanner holds
    // it) would never be deleted: it is deleted at once, and not started.
    const char* lookups[] = {"GetTempPathA", "GetModuleFileNameA", "CreateFileA"};
    for (const char* lookup : lookups) {
        SetUp();
        options_ = sample::InstallOptions();
        // WinMain asks for its own path first; the hand-off asks again.
        mem::FailCall(lookup, ERROR_SHARING_VIOLATION, std::string(lookup) == "GetModuleFileNameA" ? 2 : 1);
        RunRoad();
        EXPECT_FALSE(mem::FileExists(Copy())) << lookup;
        EXPECT_TRUE(Children().empty()) << lookup;
        EXPECT_TRUE(mem::FileExists(Uninstaller())) << lookup;
    }
}

TEST_F(SelfDeleteTest, TempPathTooLongForTheCopyMakesNoCopy)
{
    options_.tempPath = "C:\\" + std::string(246, 't') + "\\";  // 250 + "suicide.exe" = 261
    RunRoad();
    EXPECT_TRUE(Children().empty());
    EXPECT_TRUE(mem::FileExists(Uninstaller()));
}

TEST_F(SelfDeleteTest, UnlistedFileKeepsTheDirectoryButTheUninstallerGoes)
{
    options_.otherFiles = {"My Notes.txt"};
    RunRoad();
    EXPECT_FALSE(mem::FileExists(Uninstaller()));
    EXPECT_TRUE(mem::FileExists(options_.installDir + "\\My Notes.txt"));
    EXPECT_TRUE(mem::FolderExists(options_.installDir));
    EXPECT_FALSE(mem::FileExists(Copy()));
}

TEST_F(SelfDeleteTest, CleanupRoleStartedByHandDeletesItsFileWithoutWaiting)
{
    sample::LaySampleInstall(options_);
    mem::AddFile("C:\\Data\\old report.doc");
    RunCleanupByHand("C:\\Data\\old report.doc");
    EXPECT_FALSE(mem::FileExists("C:\\Data\\old report.doc"));
    EXPECT_EQ(mem::Now(), 0u);
    EXPECT_TRUE(mem::DialogsShown().empty());
    // The install directory still holds the product: it stays.
    EXPECT_TRUE(mem::FolderExists(options_.installDir));
}

TEST_F(SelfDeleteTest, InstallDirectoryThatIsALinkGoesOnlyOnceWhatItLeadsToIsEmpty)
{
    // The user's link to the product on another drive: removing it would
    // take away whatever is still behind it. It goes only once that lists
    // as nothing but the folders "." and "..", one each (a file or a second
    // folder named U+FF0E lists as "."). One that cannot be listed stays,
    // and so does any directory whose attributes cannot be read: it may be
    // a link.
    const std::string dir = "C:\\Program Files\\Quillmere";
    const struct {
        bool link;
        const char* file;
        const char* failing;
        bool stays;
    } rows[] = {
        {true, "My Notes.txt", nullptr, true}, {true, nullptr, nullptr, false},
        {true, "\xEF\xBC\x8E", nullptr, true},  {true, "\xEF\xBC\x8E\\x.txt", nullptr, true},
        {true, nullptr, "FindFirstFileA", true},
        {false, nullptr, "GetFileAttributesA", true}, {false, nullptr, nullptr, false},
    };
    for (const auto& row : rows) {
        SetUp();
        const std::string folder = row.link ? "D:\\Apps\\Quillmere" : dir;
        mem::AddFolder(folder);
        if (row.file != nullptr) {
            mem::AddFile(folder + "\\" + row.file);
        }
        if (row.link) {
            mem::AddFolderLink(dir, folder);
        }
        mem::SetStringValue(HKEY_CURRENT_USER, facts::kSettingsKey, facts::kProgramPathValue, dir);
        if (row.failing != nullptr) {
            mem::FailCall(row.failing, ERROR_ACCESS_DENIED);
        }
        RunCleanupByHand("C:\\nothing.txt");
        EXPECT_EQ(mem::FolderExists(dir), row.stays) << mem::Dump();
        if (row.file != nullptr) {
            EXPECT_TRUE(mem::FileExists(folder + "\\" + row.file));
        }
    }
}

TEST_F(SelfDeleteTest, CleanupRoleWithoutAnInstallDirectoryRemovesNoFolder)
{
    options_.settingsKey = false;
    sample::LaySampleInstall(options_);
    mem::AddFolder("C:\\Empty");
    RunCleanupByHand("C:\\nothing.txt", "C:\\Empty");
    for (const mem::CallRecord& call : mem::CallLog()) {
        EXPECT_NE(call.operation, "RemoveDirectoryA") << call;
    }
}

}  // namespace
