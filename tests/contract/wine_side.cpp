// The contract fixture on real Win32 (run under Wine): seeding and reading
// back with the real calls in a scratch folder under the temp folder and a
// scratch key under HKCU, both made fresh for every case and removed after
// it; the cases call the real table through the failure-injection layer, as
// they call the model; and the suite's main, which also takes the child's
// part.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/win32_platform.h"
#include "tests/contract/fixture.h"

namespace contract {

namespace {

// Set in the suite's environment, so a started copy of the suite inherits
// it: the file the child writes its report to.
const char CHILD_REPORT_VARIABLE[] = "CONTRACT_CHILD_REPORT";

std::string g_root;
// Child images seeded with SeedChildImageIn, anywhere on the machine,
// removed after the case.
std::vector<std::string> g_outside;

std::string TempPath()
{
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    EXPECT_TRUE(length > 0 && length < sizeof temp);
    return std::string(temp, length);
}

std::string ReportPath()
{
    return TempPath() + "contract-child-report.txt";
}

// The host's path of a Windows path, from Wine's own export.
std::string UnixPath(const std::string& path)
{
    typedef char*(CDECL * UnixFileName)(LPCWSTR);
    UnixFileName unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == NULL) {
        ADD_FAILURE() << "not running under Wine: no wine_get_unix_file_name";
        return std::string();
    }
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* text = unixFileName(wide);
    std::string result = text != NULL ? text : "";
    HeapFree(GetProcessHeap(), 0, text);
    return result;
}

// Starts a host program (Wine runs Unix executables through CreateProcess).
// Wine neither waits for its end nor knows its exit code, so the caller
// waits for its effect.
void StartHost(const std::string& program, std::string commandLine)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(("Z:" + program).c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                        NULL, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
        return;
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

// Waits up to 10 s for the path to be there (or gone).
bool AwaitPath(const std::string& path, bool there)
{
    for (int i = 0; i < 1000; ++i) {
        if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == there) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

// The path as a wide \\?\ path, which no length limit of the ANSI calls
// applies to: the fixture seeds names the cases' calls could not make.
std::wstring Long(const std::string& path)
{
    WCHAR wide[1024];
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 1024);
    EXPECT_GT(length, 0) << path;
    return L"\\\\?\\" + std::wstring(wide);
}

DWORD AttributesOf(const std::string& path)
{
    return GetFileAttributesW(Long(path).c_str());
}

// Wine splits a host program's command line by the Windows rules.
std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

}  // namespace

bool OnModel()
{
    return false;
}

void SetUpMachine()
{
    fault::Hooks hooks = {&Win32PlatformOps, SetLastError, nullptr};
    fault::Wrap(hooks);
    g_platform = &fault::FaultInjectionOps;
    char number[16];
    std::snprintf(number, sizeof number, "%lu", GetCurrentProcessId());
    g_root = TempPath() + "contract-" + number + "\\";
    ASSERT_TRUE(CreateDirectoryA(g_root.c_str(), NULL)) << g_root << " error " << GetLastError();
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(ScratchRoot(), ScratchKey().c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    SetEnvironmentVariableA(CHILD_REPORT_VARIABLE, ReportPath().c_str());
    DeleteFileA(ReportPath().c_str());
    SetCurrentDirectoryA(TempPath().c_str());
}

void TearDownMachine()
{
    SetCurrentDirectoryA(TempPath().c_str());
    // The host's rm takes read-only files, folder links and all alike.
    std::string root = UnixPath(g_root.substr(0, g_root.size() - 1));
    StartHost("/bin/rm", "rm -rf " + Quoted(root));
    EXPECT_TRUE(AwaitPath(g_root, false)) << "cannot remove " << g_root;
    EXPECT_EQ(RegDeleteTreeA(ScratchRoot(), ScratchKey().c_str()), ERROR_SUCCESS);
    RegDeleteKeyA(ScratchRoot(), ScratchKey().c_str());
    DeleteFileA(ReportPath().c_str());
    fault::Clear();
    // A child started by WinExec may still be on its way out: its image
    // cannot go before it has. (A copy under the root went with it.)
    for (const std::string& path : g_outside) {
        for (int i = 0; i < 1000 && !DeleteFileA(path.c_str()) &&
                        GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
             ++i) {
            Sleep(10);
        }
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES)
            << "cannot remove " << path;
    }
    g_outside.clear();
}

std::string Root()
{
    return g_root;
}

std::string At(const std::string& relative)
{
    return Root() + relative;
}

DWORD LastError()
{
    return GetLastError();
}

void StampLastError()
{
    SetLastError(kStaleError);
}

void SeedFolder(const std::string& relative)
{
    std::string path = At(relative);
    for (size_t i = g_root.size(); i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            CreateDirectoryW(Long(path.substr(0, i)).c_str(), NULL);
        }
    }
    ASSERT_EQ(Exists(relative), FOLDER) << path;
}

void SeedFile(const std::string& relative, const std::string& content)
{
    size_t slash = relative.rfind('\\');
    if (slash != std::string::npos) {
        SeedFolder(relative.substr(0, slash));
    }
    HANDLE file = CreateFileW(Long(At(relative)).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << At(relative) << " error " << GetLastError();
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
    CloseHandle(file);
    ASSERT_EQ(written, content.size());
}

void SeedReadOnly(const std::string& relative, bool readOnly)
{
    DWORD attributes = AttributesOf(At(relative));
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << At(relative);
    attributes = readOnly ? attributes | FILE_ATTRIBUTE_READONLY
                          : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(SetFileAttributesW(Long(At(relative)).c_str(), attributes));
}

void SeedFolderLink(const std::string& relative, const std::string& target)
{
    ASSERT_EQ(Exists(target), FOLDER) << target;
    StartHost("/bin/ln",
              "ln -s " + Quoted(UnixPath(At(target))) + " " + Quoted(UnixPath(At(relative))));
    ASSERT_TRUE(AwaitPath(At(relative), true)) << "cannot link " << At(relative);
}

Kind Exists(const std::string& relative)
{
    DWORD attributes = AttributesOf(At(relative));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return NOTHING;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FOLDER : FILE;
}

std::string Content(const std::string& relative)
{
    HANDLE file = CreateFileA(At(relative).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot read " << At(relative) << ": error " << GetLastError();
        return std::string();
    }
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) {
        content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
}

void SeedKey(const std::string& relative)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(ScratchRoot(), KeyAt(relative).c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                              NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SeedValue(const std::string& relative, const std::string& name, DWORD type,
               const std::string& bytes)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(ScratchRoot(), KeyAt(relative).c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                              NULL, &key, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

bool KeyExists(const std::string& relative)
{
    HKEY key;
    if (RegOpenKeyExA(ScratchRoot(), KeyAt(relative).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void SeedSystemFolders()
{
    // The prefix's own.
}

std::string SeedChildImage(const std::string& relative)
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    EXPECT_TRUE(length > 0 && length < sizeof self);
    size_t slash = relative.rfind('\\');
    if (slash != std::string::npos) {
        SeedFolder(relative.substr(0, slash));
    }
    EXPECT_TRUE(CopyFileA(self, At(relative).c_str(), FALSE)) << At(relative);
    return At(relative);
}

std::string SeedChildImageIn(const std::string& folder, const std::string& name)
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    EXPECT_TRUE(length > 0 && length < sizeof self);
    std::string path = folder + "\\" + name;
    EXPECT_TRUE(CopyFileA(self, path.c_str(), TRUE)) << path << " error " << GetLastError();
    g_outside.push_back(path);
    return path;
}

ChildReport LastChildReport()
{
    ChildReport report;
    HANDLE file = CreateFileA(ReportPath().c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no child wrote a report";
        return report;
    }
    char buffer[2048];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, NULL);
    CloseHandle(file);
    std::string text(buffer, got);
    std::string* lines[] = {&report.commandLine, &report.currentDirectory, &report.imagePath};
    size_t at = 0;
    for (std::string* line : lines) {
        size_t newline = text.find('\n', at);
        *line = text.substr(at, newline == std::string::npos ? std::string::npos : newline - at);
        at = newline == std::string::npos ? text.size() : newline + 1;
    }
    return report;
}

void WriteChildReport(const char* commandLine, const char* imagePath)
{
    char directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    std::string text =
        std::string(commandLine) + "\n" + std::string(directory, length) + "\n" + imagePath;
    char path[MAX_PATH];
    if (GetEnvironmentVariableA(CHILD_REPORT_VARIABLE, path, sizeof path) == 0) {
        return;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
}

void FailCall(const std::string& operation, DWORD error, int occurrence)
{
    EXPECT_TRUE(fault::Fail(operation, error, occurrence)) << "no slot " << operation;
}

}  // namespace contract

// Started by a case (its report variable set), the suite is the child.
int main(int argc, char** argv)
{
    char report[MAX_PATH];
    if (GetEnvironmentVariableA("CONTRACT_CHILD_REPORT", report, sizeof report) != 0) {
        g_platform = &Win32PlatformOps;
        return contract::ChildMain();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
