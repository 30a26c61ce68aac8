#include "app/constants.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"
#include "removal/folder_sweep.h"
#include "removal/removal.h"

namespace {

int IsProgramFile(const char* name)
{
    for (unsigned i = 0; i < PROGRAM_FILE_COUNT; ++i) {
        if (NamesEqualIgnoringAsciiCase(name, PROGRAM_FILES[i])) {
            return 1;
        }
    }
    return 0;
}

// A folder named like a product file is none: the sweep never removes one.
int IsNoProgramFile(const WIN32_FIND_DATAA* entry)
{
    return (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
           !IsProgramFile(entry->cFileName);
}

// Cuts a full path to the folder that holds its last name ("C:\a\b.exe" to
// "C:\a", "C:\b.exe" to "C:"), stepping over double-byte characters, whose
// trail byte may have the value of "\". Returns 0 for a path without one.
int CutToFolder(char* path)
{
    const char* last = 0;
    for (const char* p = path; *p != '\0'; p = NextChar(p, g_platform->IsDBCSLeadByte)) {
        if (*p == '\\' || *p == '/') {
            last = p;
        }
    }
    if (last == 0) {
        return 0;
    }
    path[last - path] = '\0';
    return 1;
}

}  // namespace

int RemoveProgramFiles(void)
{
    char installDir[MAX_PATH];
    ReadInstallDirectory(installDir);
    // No directory read: an empty path would make the pattern "\*.*", the
    // root of the current drive.
    if (installDir[0] == '\0') {
        return 0;
    }
    // Only the top level: subfolders are neither entered nor removed.
    return DeleteMatchingFiles(installDir, IsProgramFile);
}

int ProgramFilesAreGone(void)
{
    char installDir[MAX_PATH];
    ReadInstallDirectory(installDir);
    // The product may run from another folder than the one the setting
    // names (a value an older install left): the files beside the running
    // uninstaller count as much.
    char ownFolder[MAX_PATH];
    const DWORD ownLength = g_platform->GetModuleFileNameA(0, ownFolder, MAX_PATH);
    if (installDir[0] == '\0' || ownLength == 0 || ownLength >= MAX_PATH ||
        !CutToFolder(ownFolder)) {
        return 0;
    }
    return ListsOnly(installDir, IsNoProgramFile) && ListsOnly(ownFolder, IsNoProgramFile);
}
