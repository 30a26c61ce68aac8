// The contract fixture on the in-memory model: seeding and reading back with
// the mem:: calls, the child program registered as a model program.
#include <algorithm>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/contract/fixture.h"

namespace contract {

namespace {

const char ROOT[] = "C:\\contract\\";
const char CHILD_IMAGE[] = "MZ image of the contract suite's child";
// The suite's own image: where the shell (the cases' caller) runs from, in a
// folder of its own, as under Wine; a bare program name is looked for there
// first.
const char SUITE_IMAGE[] = "C:\\Contract Suite\\contract_tests.exe";

std::vector<ChildReport>& Reports()
{
    static std::vector<ChildReport> reports;
    return reports;
}

}  // namespace

bool OnModel()
{
    return true;
}

void SetUpMachine()
{
    mem::SetFailureReporter([](const std::string& message) { ADD_FAILURE() << message; });
    mem::Reset();
    mem::AddFolder(ROOT);
    mem::AddKey(ScratchRoot(), ScratchKey());
    mem::RegisterProgram(CHILD_IMAGE, [] { return ChildMain(); });
    mem::AddFile(SUITE_IMAGE, "MZ image of the contract suite");
    mem::SetShellProcess(SUITE_IMAGE, std::string("\"") + SUITE_IMAGE + "\"", "C:\\");
    Reports().clear();
}

void TearDownMachine()
{
    // A child still waiting would run on into the next case's machine.
    mem::RunUntilAllEnded();
}

std::string Root()
{
    return ROOT;
}

std::string At(const std::string& relative)
{
    return Root() + relative;
}

DWORD LastError()
{
    return mem::LastError();
}

void StampLastError()
{
    mem::SetLastError(kStaleError);
}

void SeedFolder(const std::string& relative)
{
    mem::AddFolder(At(relative));
}

void SeedFile(const std::string& relative, const std::string& content)
{
    mem::AddFile(At(relative), content);
}

void SeedReadOnly(const std::string& relative, bool readOnly)
{
    mem::SetReadOnly(At(relative), readOnly);
}

void SeedFolderLink(const std::string& relative, const std::string& target)
{
    mem::AddFolderLink(At(relative), At(target));
}

Kind Exists(const std::string& relative)
{
    if (mem::FolderExists(At(relative))) {
        return FOLDER;
    }
    return mem::FileExists(At(relative)) ? FILE : NOTHING;
}

std::string Content(const std::string& relative)
{
    return mem::FileContent(At(relative));
}

void SeedKey(const std::string& relative)
{
    mem::AddKey(ScratchRoot(), KeyAt(relative));
}

void SeedValue(const std::string& relative, const std::string& name, DWORD type,
               const std::string& bytes)
{
    mem::SetValue(ScratchRoot(), KeyAt(relative), name, type, bytes);
}

bool KeyExists(const std::string& relative)
{
    return mem::KeyExists(ScratchRoot(), KeyAt(relative));
}

void SeedSystemFolders()
{
    mem::AddFolder("C:\\Users\\Contract\\AppData\\Local\\Temp");
    mem::SetTempPath("C:\\Users\\Contract\\AppData\\Local\\Temp\\");
    mem::AddFolder("C:\\Users\\Contract\\Desktop");
    mem::SetSpecialFolder(CSIDL_DESKTOPDIRECTORY, "C:\\Users\\Contract\\Desktop");
}

std::string SeedChildImage(const std::string& relative)
{
    mem::AddFile(At(relative), CHILD_IMAGE);
    return At(relative);
}

std::string SeedChildImageIn(const std::string& folder, const std::string& name)
{
    mem::AddFile(folder + "\\" + name, CHILD_IMAGE);
    return folder + "\\" + name;
}

ChildReport LastChildReport()
{
    EXPECT_FALSE(Reports().empty()) << "no child wrote a report";
    return Reports().empty() ? ChildReport() : Reports().back();
}

// The model keeps each process's current directory in its record; the child
// is the latest live process started with this command line.
void WriteChildReport(const char* commandLine, const char* imagePath)
{
    ChildReport report;
    report.commandLine = commandLine;
    report.imagePath = imagePath;
    std::vector<mem::ProcessRecord> processes = mem::Processes();
    for (auto p = processes.rbegin(); p != processes.rend(); ++p) {
        if (!p->ended && p->commandLine == report.commandLine) {
            report.currentDirectory = p->currentDirectory;
            break;
        }
    }
    Reports().push_back(report);
}

void FailCall(const std::string& operation, DWORD error, int occurrence)
{
    mem::FailCall(operation, error, occurrence);
}

}  // namespace contract
