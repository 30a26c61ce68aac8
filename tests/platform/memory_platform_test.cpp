// The in-memory model's Windows behaviour that the uninstaller's correctness
// rests on: if the model were kinder than Windows here, the program's tests
// would pass for a program that fails on a real machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/memory_platform.h"

namespace {

const PlatformOps& W()
{
    return *g_platform;
}

std::vector<std::string> List(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = W().FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.push_back(found.cFileName);
    } while (W().FindNextFileA(search, &found));
    EXPECT_EQ(mem::LastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    W().FindClose(search);
    return names;
}

// The model's reports (deadlock, hang) caught for a test that expects one;
// afterwards they fail the running test again.
struct CaughtReports {
    std::vector<std::string> messages;
    CaughtReports()
    {
        mem::SetFailureReporter([this](const std::string& m) { messages.push_back(m); });
    }
    ~CaughtReports()
    {
        mem::SetFailureReporter([](const std::string& m) { ADD_FAILURE() << m; });
    }
};

class MemoryPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { mem::Reset(); }

    static BOOL Delete(const std::string& path) { return W().DeleteFileA(path.c_str()); }
    static BOOL RemoveFolder(const std::string& path) { return W().RemoveDirectoryA(path.c_str()); }
    static DWORD Error() { return mem::LastError(); }

    // Starts a process whose image runs main; returns its process handle.
    static HANDLE Start(const std::string& image, const std::string& content, mem::ProgramMain main,
                        const char* currentDirectory = nullptr)
    {
        mem::AddFile(image, content);
        mem::RegisterProgram(content, main);
        std::string line = "\"" + image + "\"";
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        PROCESS_INFORMATION info = {nullptr, nullptr, 0, 0};
        EXPECT_TRUE(W().CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                       currentDirectory, &startup, &info))
            << mem::Dump();
        W().CloseHandle(info.hThread);
        return info.hProcess;
    }
};

// --- Files and folders ------------------------------------------------------

TEST_F(MemoryPlatformTest, ResolvesRelativePathsAgainstTheCurrentDirectory)
{
    mem::AddFile("C:\\Work\\a.txt");
    mem::AddFile("C:\\b.txt");
    mem::AddFile("D:\\Work\\c.txt");
    mem::SetShellProcess("C:\\b.txt", "b", "D:\\Work");
    EXPECT_TRUE(Delete("c.txt"));
    EXPECT_FALSE(Delete("\\Work\\a.txt"));  // the root of D:, the current drive
    EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Delete("C:\\Work\\..\\Work\\a.txt"));
}

// The contract cases compare listings as sets; the model lists in NTFS's
// order, dot entries first.
TEST_F(MemoryPlatformTest, SearchListsDotEntriesFirstThenNamesSortedWithoutCase)
{
    mem::AddFile("C:\\F\\beta.txt");
    mem::AddFile("C:\\F\\Alpha");
    mem::AddFolder("C:\\F\\Gamma");
    EXPECT_EQ(List("C:\\F\\*.*"), (std::vector<std::string>{".", "..", "Alpha", "beta.txt", "Gamma"}));
}

TEST_F(MemoryPlatformTest, SearchGoesOnOnlyFromAHandleOfItsOwn)
{
    WIN32_FIND_DATAA found;
    EXPECT_FALSE(W().FindNextFileA(reinterpret_cast<HANDLE>(0x1234), &found));
    EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The seeding of a file another program holds (the contract cases cover the
// other refusals of DeleteFileA on both sides).
TEST_F(MemoryPlatformTest, FileHeldByAnotherProgramIsNotDeleted)
{
    mem::AddFile("C:\\D\\elsewhere.txt");
    mem::SetInUse("C:\\D\\elsewhere.txt");
    EXPECT_FALSE(Delete("C:\\D\\elsewhere.txt"));
    EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(mem::Changes().empty());
    mem::SetInUse("C:\\D\\elsewhere.txt", false);
    EXPECT_TRUE(Delete("C:\\D\\elsewhere.txt"));
    EXPECT_EQ(mem::Changes(), (std::vector<mem::ChangeRecord>{{1, mem::FILE_DELETED, "C:\\D\\elsewhere.txt"}}));
}

// --- Registry -----------------------------------------------------------------

TEST_F(MemoryPlatformTest, ProtectedKeyIsReadOnlyAndUndeletable)
{
    const char path[] = "CLSID\\{0002DF01-0000-0000-C000-000000000046}\\LocalServer32";
    mem::SetStringValue(HKEY_CLASSES_ROOT, path, "", "browser");
    mem::ProtectKey(HKEY_CLASSES_ROOT, path);
    HKEY key = nullptr;
    EXPECT_EQ(W().RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(W().RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key), ERROR_SUCCESS);
    W().RegCloseKey(key);
    // RegOpenKeyA gets what the user may have: reading.
    ASSERT_EQ(W().RegOpenKeyA(HKEY_CLASSES_ROOT, path, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(W().RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(W().RegDeleteKeyA(HKEY_CLASSES_ROOT, path), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(mem::KeyExists(HKEY_CLASSES_ROOT, path));
}

TEST_F(MemoryPlatformTest, SpecialFolderIsGivenOnlyWhenItExists)
{
    char path[MAX_PATH];
    EXPECT_FALSE(W().SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE)) << "unset";
    mem::SetSpecialFolder(CSIDL_DESKTOPDIRECTORY, "C:\\Users\\Alice\\Desktop");
    EXPECT_FALSE(W().SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE)) << "missing";
    EXPECT_TRUE(W().SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE));
    EXPECT_EQ(std::string(path), "C:\\Users\\Alice\\Desktop");
    EXPECT_EQ(mem::Changes().back(), (mem::ChangeRecord{1, mem::FOLDER_CREATED, "C:\\Users\\Alice\\Desktop"}));
    mem::FailSpecialFolder(CSIDL_DESKTOPDIRECTORY);
    EXPECT_FALSE(W().SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE));
}

// The contract cases hold GetTempPathA and SHGetSpecialFolderPathA to a full
// path, with and without its trailing separator; a test cannot seed other.
TEST_F(MemoryPlatformTest, SeedingRefusesSystemFoldersWindowsNeverGives)
{
    CaughtReports reports;
    mem::SetTempPath("C:\\T");
    mem::SetTempPath("Temp\\");
    mem::SetSpecialFolder(CSIDL_DESKTOPDIRECTORY, "Desktop");
    mem::SetSpecialFolder(CSIDL_DESKTOPDIRECTORY, "C:\\Users\\Alice\\Desktop\\");
    EXPECT_EQ(reports.messages.size(), 4u);
    char path[MAX_PATH];
    EXPECT_EQ(W().GetTempPathA(sizeof path, path), 0u) << "nothing seeded";
    EXPECT_FALSE(W().SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE));
}

// --- Named objects and processes ----------------------------------------------

TEST_F(MemoryPlatformTest, MutexOfAnEndedProcessIsAbandonedToItsWaiter)
{
    HANDLE go = W().CreateEventA(nullptr, TRUE, FALSE, "go");
    // The owner takes the mutex, lets the waiter start, and ends.
    HANDLE owner = Start("C:\\owner.exe", "owner", [] {
        g_platform->CreateMutexA(nullptr, TRUE, "SP self delete mutex");
        HANDLE g = g_platform->OpenEventA(EVENT_ALL_ACCESS, FALSE, "go");
        g_platform->SetEvent(g);
        g_platform->WaitForSingleObject(INVALID_HANDLE_VALUE, 500);  // never signalled
        return 7;
    });
    static DWORD waited;
    static DWORD waitedAt;
    waited = 0;
    HANDLE waiter = Start("C:\\waiter.exe", "waiter", [] {
        HANDLE m = g_platform->OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "SP self delete mutex");
        waited = g_platform->WaitForSingleObject(m, 2000);
        waitedAt = mem::Now();
        return 0;
    });
    EXPECT_EQ(W().WaitForSingleObject(go, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    mem::RunUntilAllEnded();
    EXPECT_EQ(waited, static_cast<DWORD>(WAIT_ABANDONED)) << mem::Dump();
    EXPECT_EQ(waitedAt, 500u) << "woken when the owner ended, not at its timeout";
    EXPECT_FALSE(mem::NamedObjectExists("SP self delete mutex"));
    EXPECT_EQ(mem::Processes()[1].exitCode, 7u);
    W().CloseHandle(owner);
    W().CloseHandle(waiter);
    W().CloseHandle(go);
    EXPECT_EQ(mem::OpenHandleCount(), 0u);
}

TEST_F(MemoryPlatformTest, TimeoutsMoveTheClockAndNothingElse)
{
    HANDLE event = W().CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(W().WaitForSingleObject(event, 2000), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(mem::Now(), 2000u);
    HANDLE child = Start("C:\\sleeper.exe", "sleeper", [] {
        g_platform->WaitForSingleObject(INVALID_HANDLE_VALUE, 300);
        return 0;
    });
    EXPECT_EQ(W().WaitForSingleObject(child, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(mem::Now(), 2300u);
}

TEST_F(MemoryPlatformTest, WaitThatNothingCanEndIsReportedAsADeadlock)
{
    CaughtReports reports;
    HANDLE event = W().CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(W().WaitForSingleObject(event, INFINITE), WAIT_FAILED);
    ASSERT_EQ(reports.messages.size(), 1u);
    EXPECT_NE(reports.messages[0].find("deadlock"), std::string::npos);
}

TEST_F(MemoryPlatformTest, UnquotedProgramPathWithBlanksTriesEachPrefixFirst)
{
    mem::AddFile("C:\\Program Files\\Internet Explorer\\iexplore.exe", "browser");
    std::string line = "C:\\Program Files\\Internet Explorer\\iexplore.exe http://x/";
    EXPECT_EQ(W().WinExec(line.c_str(), SW_SHOW), 33u);
    mem::AddFile("C:\\Program.exe", "planted");
    EXPECT_EQ(W().WinExec(line.c_str(), SW_SHOW), 33u);
    EXPECT_EQ(W().WinExec(("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" x"), SW_SHOW), 33u);
    EXPECT_EQ(W().WinExec("C:\\Nothing.exe arg", SW_SHOW), 2u);

    std::vector<mem::ProcessRecord> p = mem::Processes();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[1].imagePath, "C:\\Program Files\\Internet Explorer\\iexplore.exe");
    EXPECT_EQ(p[2].imagePath, "C:\\Program.exe");
    EXPECT_EQ(p[3].imagePath, "C:\\Program Files\\Internet Explorer\\iexplore.exe");
    EXPECT_TRUE(p[2].startedByWinExec);
    EXPECT_EQ(p[2].commandLine, line);
    EXPECT_EQ(mem::WinExecCommands().size(), 4u);
    EXPECT_EQ(mem::OpenHandleCount(), 0u) << "WinExec hands out no handles";
}

TEST_F(MemoryPlatformTest, NewProcessGetsItsLineDirectoryAndImage)
{
    mem::AddFile("C:\\Users\\Alice\\Temp\\suicide.exe", "copy");
    mem::AddFolder("C:\\Program Files\\Quillmere");
    mem::SetShellProcess("C:\\Users\\Alice\\Temp\\suicide.exe", "parent", "C:\\Program Files\\Quillmere");
    std::string line = "\"C:\\Users\\Alice\\Temp\\suicide\" C:\\Program Files\\Quillmere\\Uninstall.exe";
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    PROCESS_INFORMATION info = {nullptr, nullptr, 0, 0};
    ASSERT_TRUE(W().CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                                   nullptr, nullptr, &startup, &info));
    EXPECT_EQ(mem::OpenHandleCount(1), 2u);
    mem::ProcessRecord child = mem::Processes().back();
    EXPECT_EQ(child.id, info.dwProcessId);
    EXPECT_EQ(child.imagePath, "C:\\Users\\Alice\\Temp\\suicide.exe");
    EXPECT_EQ(child.commandLine, line);
    EXPECT_EQ(child.currentDirectory, "C:\\Program Files\\Quillmere");

    std::string missing = "C:\\Missing.exe";
    EXPECT_FALSE(W().CreateProcessA(nullptr, &missing[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &info));
    EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(MemoryPlatformTest, ProcessKnowsItsOwnStartUp)
{
    mem::AddFile("C:\\A\\Uninstall.exe", "uninstaller");
    static std::string seenLine;
    static char seenPath[8];
    static DWORD seenLength;
    mem::RegisterProgram("uninstaller", [] {
        g_platform->RestrictDllSearchToSystem();
        seenLine = g_platform->GetCommandLineA();
        seenLength = g_platform->GetModuleFileNameA(g_platform->GetModuleHandleA(nullptr), seenPath,
                                                    sizeof seenPath);
        return 0;
    });
    mem::StartProcess("C:\\A\\Uninstall.exe", "\"C:\\A\\Uninstall.exe\" tail", "C:\\A");
    mem::RunUntilAllEnded();
    EXPECT_TRUE(mem::Processes()[1].restrictedDllSearchFirst);
    EXPECT_EQ(seenLine, "\"C:\\A\\Uninstall.exe\" tail");
    EXPECT_EQ(seenLength, 8u) << "cut short: the size is returned";
    EXPECT_EQ(std::string(seenPath), "C:\\A\\Un");

    char temp[8];
    mem::SetTempPath("C:\\T\\");
    EXPECT_EQ(W().GetTempPathA(sizeof temp, temp), 5u);
    mem::SetTempPath("C:\\Temp\\");
    std::memset(temp, 'x', sizeof temp);
    EXPECT_EQ(W().GetTempPathA(sizeof temp, temp), 9u) << "the size needed, with the zero";
    EXPECT_EQ(temp[0], 'x');
    mem::SetTempPath("");
    EXPECT_EQ(W().GetTempPathA(sizeof temp, temp), 0u);
}

// --- Dialogs ------------------------------------------------------------------

struct Messages {
    std::vector<std::string> seen;
    BOOL placeFocus = FALSE;
    WPARAM initFocus = 0;
};
Messages* g_messages = nullptr;

// Records what arrives and ends on IDOK or IDCANCEL.
INT_PTR RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG) {
        g_messages->seen.push_back("init");
        g_messages->initFocus = wParam;
        return g_messages->placeFocus;
    }
    if (message == WM_COMMAND) {
        g_messages->seen.push_back("command " + std::to_string(LOWORD(wParam)) + " " +
                                   std::to_string(HIWORD(wParam)));
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            g_platform->EndDialog(dialog, 100 + LOWORD(wParam));
            return TRUE;
        }
    }
    if (message == WM_SYSCOMMAND || message == WM_CLOSE) {
        g_messages->seen.push_back(message == WM_CLOSE ? "close" : "syscommand");
    }
    return FALSE;
}

class MemoryPlatformDialogTest : public MemoryPlatformTest {
protected:
    void SetUp() override
    {
        MemoryPlatformTest::SetUp();
        g_messages = &messages;
        mem::AddDialogTemplate(7, {{-1, mem::STATIC_TEXT, "&Label", false},
                                   {IDCANCEL, mem::DEFAULT_PUSH_BUTTON, "&No", true},
                                   {IDOK, mem::PUSH_BUTTON, "&Yes", true},
                                   {9, mem::PUSH_BUTTON, "&More", true}});
    }
    void TearDown() override { g_messages = nullptr; }

    INT_PTR Show(const std::vector<mem::UserAction>& actions, BOOL placeFocus = FALSE)
    {
        messages = Messages();
        messages.placeFocus = placeFocus;
        mem::ScriptDialogs({actions});
        return W().DialogBoxParamA(W().GetModuleHandleA(nullptr), MAKEINTRESOURCEA(7), nullptr,
                                   RecordingProc, 0);
    }

    Messages messages;
};

TEST_F(MemoryPlatformDialogTest, EnterPressesTheFocusedButtonElseTheDefault)
{
    EXPECT_EQ(Show({{mem::PRESS_ENTER, 0, 0}}), 102);
    EXPECT_EQ(messages.seen, (std::vector<std::string>{"init", "command 2 0"}));
    EXPECT_NE(messages.initFocus, 0u) << "WM_INITDIALOG names the first tab stop";
    // Focus placed by the system on the first tab stop: the default button.
    EXPECT_EQ(Show({{mem::PRESS_TAB, 0, 0}, {mem::PRESS_ENTER, 0, 0}}, TRUE), 101);
    EXPECT_EQ(Show({{mem::PRESS_TAB, 0, 0}, {mem::PRESS_ENTER, 0, 0}}, FALSE), 102)
        << "no focus: Tab goes to the first tab stop";
    EXPECT_EQ(Show({{mem::CLICK, 9, 0}, {mem::PRESS_TAB, 0, 0}, {mem::PRESS_TAB, 0, 0},
                    {mem::PRESS_ENTER, 0, 0}}),
              101)
        << "a click moves the focus; Tab wraps round";
}

TEST_F(MemoryPlatformDialogTest, EscAndTheCloseBoxArriveAsCancel)
{
    EXPECT_EQ(Show({{mem::PRESS_ESCAPE, 0, 0}}), 102);
    EXPECT_EQ(Show({{mem::CLOSE_BOX, 0, 0}}), 102);
    EXPECT_EQ(messages.seen, (std::vector<std::string>{"init", "syscommand", "close", "command 2 0"}));
}

TEST_F(MemoryPlatformDialogTest, AltLetterPressesTheButtonWithThatMnemonic)
{
    EXPECT_EQ(Show({{mem::ALT_KEY, 0, 'm'}, {mem::ALT_KEY, 0, 'x'}, {mem::ALT_KEY, 0, 'Y'}}), 101);
    EXPECT_EQ(messages.seen, (std::vector<std::string>{"init", "command 9 0", "command 1 0"}));
    // A label's mnemonic only moves the focus on: from "&Yes" to "&No".
    EXPECT_EQ(Show({{mem::PRESS_TAB, 0, 0}, {mem::ALT_KEY, 0, 'l'}, {mem::PRESS_ENTER, 0, 0}}, TRUE), 102);
    EXPECT_EQ(messages.seen, (std::vector<std::string>{"init", "command 2 0"}));
}

TEST_F(MemoryPlatformDialogTest, DialogFailsWithoutItsModuleOrTemplateAndAHangFailsTheTest)
{
    EXPECT_EQ(W().DialogBoxParamA(nullptr, MAKEINTRESOURCEA(7), nullptr, RecordingProc, 0), -1);
    EXPECT_EQ(W().DialogBoxParamA(W().GetModuleHandleA(nullptr), MAKEINTRESOURCEA(8), nullptr,
                                  RecordingProc, 0),
              -1);
    EXPECT_EQ(Error(), 1814u);
    EXPECT_FALSE(W().EndDialog(reinterpret_cast<HWND>(0x1234), 1));

    CaughtReports reports;
    EXPECT_EQ(Show({{mem::CLICK, -1, 0}}), -1);
    ASSERT_EQ(reports.messages.size(), 1u);
    EXPECT_NE(reports.messages[0].find("still open"), std::string::npos);
    EXPECT_EQ(mem::DialogsShown().back().result, -1);
}

// --- Failure injection -----------------------------------------------------------

TEST_F(MemoryPlatformTest, InjectedFailureHitsTheNamedCallOnceWithoutEffect)
{
    mem::AddFile("C:\\a.txt");
    mem::AddFile("C:\\b.txt");
    mem::FailCall("DeleteFileA", ERROR_SHARING_VIOLATION, 2);
    EXPECT_TRUE(Delete("C:\\a.txt"));
    EXPECT_FALSE(Delete("C:\\b.txt"));
    EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(mem::FileExists("C:\\b.txt"));
    EXPECT_TRUE(Delete("C:\\b.txt"));
    // The failed call never reached the model, yet is in its log, marked.
    const std::vector<mem::CallRecord> log = mem::CallLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], (mem::CallRecord{1, "DeleteFileA", {"\"C:\\b.txt\""}, "0 (error 32)", true}));
    EXPECT_FALSE(log[2].injected);

    mem::FailCall("DialogBoxParamA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(W().DialogBoxParamA(W().GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), nullptr,
                                  RecordingProc, 0),
              -1);
    mem::SetStringValue(HKEY_CURRENT_USER, "K", "V", "x");
    mem::FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    EXPECT_EQ(W().RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_QUERY_VALUE, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(mem::OpenHandleCount(), 0u);
}

}  // namespace
