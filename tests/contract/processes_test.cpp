// Contract cases: named events and mutexes, and the processes the hand-off
// starts. Each runs on the model and on real Win32 under Wine (fixture.h);
// the child is the suite's child program (case_helpers.cpp).
#include <cctype>
#include <cstring>
#include <string>

#include "tests/contract/fixture.h"

namespace contract {
namespace {

class ContractProcesses : public Case {
protected:
    static DWORD Await(HANDLE object) { return W().WaitForSingleObject(object, 10000); }
    static std::string Upper(std::string text)
    {
        for (char& c : text) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return text;
    }
};

TEST_F(ContractProcesses, NamedObjectsShareOneNamespaceAndGoWithTheirLastHandle)
{
    const char name[] = "contract start self delete";
    HANDLE event = W().CreateEventA(nullptr, TRUE, FALSE, name);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(LastError(), 0u);
    HANDLE again = W().CreateEventA(nullptr, FALSE, TRUE, name);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(W().WaitForSingleObject(again, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the same object";
    EXPECT_EQ(W().CreateMutexA(nullptr, TRUE, name), nullptr);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(W().OpenEventA(EVENT_ALL_ACCESS, FALSE, "CONTRACT START SELF DELETE"), nullptr);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "names keep their case";

    W().SetEvent(event);
    EXPECT_EQ(W().WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(W().WaitForSingleObject(again, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "manual reset";

    W().CloseHandle(event);
    HANDLE third = W().OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
    EXPECT_NE(third, nullptr) << "one handle keeps it";
    W().CloseHandle(third);
    W().CloseHandle(again);
    EXPECT_EQ(W().OpenEventA(EVENT_ALL_ACCESS, FALSE, name), nullptr);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(W().WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ContractProcesses, OpenedObjectDoesOnlyWhatItsAccessAllows)
{
    HANDLE event = W().CreateEventA(nullptr, TRUE, FALSE, "contract-access");
    HANDLE waitOnly = W().OpenEventA(SYNCHRONIZE, FALSE, "contract-access");
    ASSERT_NE(waitOnly, nullptr);
    EXPECT_FALSE(W().SetEvent(waitOnly));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(W().WaitForSingleObject(waitOnly, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    W().SetEvent(event);
    EXPECT_EQ(W().WaitForSingleObject(waitOnly, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    W().CloseHandle(waitOnly);
    W().CloseHandle(event);
}

TEST_F(ContractProcesses, ExistingMutexIsOpenedWithoutItsOwnership)
{
    std::string image = SeedChildImage("owner.exe");
    HANDLE owned = W().CreateEventA(nullptr, TRUE, FALSE, "contract-owned");
    HANDLE end = W().CreateEventA(nullptr, TRUE, FALSE, "contract-end");
    HANDLE owner = StartChild(image, "own:contract-mutex set:contract-owned wait:contract-end");
    ASSERT_EQ(Await(owned), static_cast<DWORD>(WAIT_OBJECT_0));

    HANDLE mutex = W().CreateMutexA(nullptr, TRUE, "contract-mutex");
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(W().WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "still the first owner's";

    // Its owner ends without releasing it: the next waiter gets it abandoned.
    W().SetEvent(end);
    EXPECT_EQ(Await(mutex), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_EQ(Await(owner), static_cast<DWORD>(WAIT_OBJECT_0));
    W().CloseHandle(owner);
    W().CloseHandle(mutex);
    EXPECT_EQ(W().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "contract-mutex"), nullptr)
        << "gone with its last handle";
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    W().CloseHandle(owned);
    W().CloseHandle(end);
}

TEST_F(ContractProcesses, ChildGetsItsCommandLineAndCurrentDirectory)
{
    std::string image = SeedChildImage("Temp Copy\\suicide.exe");
    SeedFolder("Program Files\\Quillmere");
    HANDLE child = StartChild(image, "C:\\Program Files\\Quillmere\\Uninstall.exe",
                              At("program files\\Quillmere\\").c_str());
    ASSERT_EQ(Await(child), static_cast<DWORD>(WAIT_OBJECT_0));
    W().CloseHandle(child);
    ChildReport report = LastChildReport();
    EXPECT_EQ(report.commandLine, "\"" + image + "\" C:\\Program Files\\Quillmere\\Uninstall.exe");
    EXPECT_EQ(report.currentDirectory, At("program files\\Quillmere"))
        << "the full path as given, without its trailing separator";

    // Without one the child gets the caller's.
    ASSERT_TRUE(W().SetCurrentDirectoryA(At("Program Files").c_str()));
    child = StartChild(image, "");
    ASSERT_EQ(Await(child), static_cast<DWORD>(WAIT_OBJECT_0));
    W().CloseHandle(child);
    EXPECT_EQ(LastChildReport().currentDirectory, At("Program Files"));
    ASSERT_TRUE(W().SetCurrentDirectoryA(Root().c_str()));

    std::string missing = "\"" + At("Missing.exe") + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    EXPECT_FALSE(W().CreateProcessA(nullptr, &missing[0], nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &startup, &info));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A program named without a folder is looked for in the caller's own folder,
// then its current directory, the system folder (GetSystemDirectoryA) and
// the Windows folder, by WinExec and CreateProcessA alike
// (learn.microsoft.com, WinExec and CreateProcessA). Each row puts a copy one
// place earlier in that order, and the new copy must win over those already
// there: so a copy in the current directory wins over the system folder's.
TEST_F(ContractProcesses, BareProgramNameIsLookedForWhereWindowsLooks)
{
    char folder[MAX_PATH];
    UINT length = W().GetSystemDirectoryA(folder, sizeof folder);
    ASSERT_TRUE(length > 3 && length < sizeof folder);
    EXPECT_EQ(length, std::strlen(folder));
    const std::string system(folder);
    SeedFolder("Work");
    ASSERT_TRUE(W().SetCurrentDirectoryA(At("Work").c_str()));

    // Started by WinExec, which gives no handle, the child tells it started.
    const char name[] = "contract-bare-child.exe";
    std::string line = std::string(name) + " set:contract-bare";
    std::string bare = name;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    EXPECT_EQ(W().WinExec(line.c_str(), SW_HIDE), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(W().CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &startup, &info));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE started = W().CreateEventA(nullptr, FALSE, FALSE, "contract-bare");
    const std::string places[] = {system.substr(0, system.rfind('\\')), system, At("Work"),
                                  CallerFolder()};
    for (const std::string& place : places) {
        const std::string image = Upper(SeedChildImageIn(place, name));
        EXPECT_GT(W().WinExec(line.c_str(), SW_HIDE), 31u) << place;
        EXPECT_EQ(Await(started), static_cast<DWORD>(WAIT_OBJECT_0)) << place;
        EXPECT_EQ(Upper(LastChildReport().imagePath), image) << "WinExec";

        ASSERT_TRUE(W().CreateProcessA(nullptr, &bare[0], nullptr, nullptr, FALSE, 0, nullptr,
                                       nullptr, &startup, &info))
            << place << " error " << LastError();
        EXPECT_EQ(Await(info.hProcess), static_cast<DWORD>(WAIT_OBJECT_0)) << place;
        W().CloseHandle(info.hProcess);
        W().CloseHandle(info.hThread);
        EXPECT_EQ(Upper(LastChildReport().imagePath), image) << "CreateProcessA";
    }
    W().CloseHandle(started);
    ASSERT_TRUE(W().SetCurrentDirectoryA(Root().c_str()));
}

}  // namespace
}  // namespace contract
