// A typical machine with Quillmere installed, and the uninstaller's own
// resources and program, for tests that run the whole road on the model.
#pragma once

#include <iterator>
#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/support/product_facts.h"

namespace sample {

// The bytes of the uninstaller's image on the model: a file holding them
// runs the uninstaller's start-up (once RegisterUninstallerProgram is done).
extern const char UNINSTALLER_IMAGE[];

// The dialog templates of Uninstall.exe, controls in template (= tab)
// order.
void RegisterUninstallerDialogs();
// Files holding UNINSTALLER_IMAGE run ProgramStart when started.
void RegisterUninstallerProgram();

// What LaySampleInstall puts on the machine. The defaults are a complete
// install for the user Alice; change what a test needs.
struct InstallOptions {
    std::string installDir = "C:\\Program Files\\Quillmere";
    // The product's files, laid in the install directory.
    std::vector<std::string> productFiles{std::begin(facts::kProductFiles),
                                          std::end(facts::kProductFiles)};
    // Other files in the install directory (the user's own, say).
    std::vector<std::string> otherFiles;
    bool uninstaller = true;  // Uninstall.exe in the install directory
    bool readOnlyUninstaller = false;  // installed from read-only media, say
    // HKCU "Software\Korrindal\Quillmere" "Program Path" = installDir.
    bool settingsKey = true;
    // HKLM uninstall entry with DisplayName and UninstallString.
    bool uninstallEntry = true;
    std::string desktop = "C:\\Users\\Alice\\Desktop";
    std::string programs = "C:\\Users\\Alice\\Start Menu\\Programs";
    std::string commonDesktop = "C:\\Users\\Public\\Desktop";
    std::string commonPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    bool desktopShortcut = true;  // desktop\Quillmere.lnk
    // Shortcuts in programs\Quillmere; with none the group is not made.
    std::vector<std::string> groupShortcuts = {"Quillmere.lnk", "Quillmere Help.lnk",
                                               "Uninstall Quillmere.lnk"};
    std::string tempPath = "C:\\Users\\Alice\\Temp\\";  // made as a folder too
    // HKCR browser key whose default value is the quoted iexplore.exe path,
    // and that file.
    bool browser = true;
};

void LaySampleInstall(const InstallOptions& options = InstallOptions());

// installDir\Uninstall.exe.
std::string UninstallerPath(const InstallOptions& options = InstallOptions());

// Starts the uninstaller as the user would from the list of installed
// programs: its quoted path as the command line, the install directory as the
// current directory. Does not run it (mem::RunUntilAllEnded does).
DWORD StartUninstaller(const InstallOptions& options = InstallOptions());

}  // namespace sample
