// What the contract cases share, written against the seam alone: listing a
// folder, starting the child, and the child program itself.
//
// The child program of the process cases, the same on both sides, writes
// what it got (command line, current directory, its image's path) through
// the fixture, then
// does what the words of its command line ask, in order:
//   own:NAME   creates the mutex NAME owning it (and never releases it)
//   set:NAME   signals the existing event NAME
//   wait:NAME  waits for the existing event NAME (at most 20 s)
//   exit:N     ends with exit code N
// It ends by returning, so whatever it holds goes as a process's end lets go.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/contract/fixture.h"

namespace contract {

// The same scratch key on both sides: the model has it from seeding, the
// Wine side makes and removes it around every case.
HKEY ScratchRoot()
{
    return HKEY_CURRENT_USER;
}

std::string ScratchKey()
{
    return "Software\\Korrindal Contract";
}

std::string KeyAt(const std::string& relative)
{
    return relative.empty() ? ScratchKey() : ScratchKey() + "\\" + relative;
}

const PlatformOps& W()
{
    StampLastError();
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
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    W().FindClose(search);
    return names;
}

std::vector<std::string> SortedList(const std::string& pattern)
{
    std::vector<std::string> names = List(pattern);
    auto upper = [](std::string s) {
        for (char& c : s) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return s;
    };
    auto dots = std::stable_partition(names.begin(), names.end(), [](const std::string& n) {
        return n == "." || n == "..";
    });
    std::sort(names.begin(), dots);
    std::sort(dots, names.end(), [&](const std::string& a, const std::string& b) {
        return upper(a) < upper(b);
    });
    return names;
}

HANDLE StartChild(const std::string& image, const std::string& arguments,
                  const char* currentDirectory)
{
    std::string line = "\"" + image + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!W().CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            currentDirectory, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << line << ": error " << LastError();
        return nullptr;
    }
    W().CloseHandle(info.hThread);
    return info.hProcess;
}

std::string CallerFolder()
{
    char image[MAX_PATH];
    DWORD length = W().GetModuleFileNameA(nullptr, image, sizeof image);
    EXPECT_TRUE(length > 0 && length < sizeof image) << "error " << LastError();
    std::string path(image, length < sizeof image ? length : 0);
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int ChildMain()
{
    const char* line = g_platform->GetCommandLineA();
    char image[MAX_PATH];
    DWORD length = g_platform->GetModuleFileNameA(nullptr, image, sizeof image);
    WriteChildReport(line, length > 0 && length < sizeof image ? image : "");
    std::string words(line);
    size_t at = 0;
    while (at < words.size()) {
        size_t end = words.find(' ', at);
        if (end == std::string::npos) {
            end = words.size();
        }
        std::string word = words.substr(at, end - at);
        at = end + 1;
        size_t colon = word.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string verb = word.substr(0, colon);
        std::string name = word.substr(colon + 1);
        if (verb == "own") {
            g_platform->CreateMutexA(nullptr, TRUE, name.c_str());
        } else if (verb == "set") {
            g_platform->SetEvent(g_platform->OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()));
        } else if (verb == "wait") {
            g_platform->WaitForSingleObject(
                g_platform->OpenEventA(SYNCHRONIZE, FALSE, name.c_str()), 20000);
        } else if (verb == "exit") {
            return std::atoi(name.c_str());
        }
    }
    return 0;
}

}  // namespace contract
