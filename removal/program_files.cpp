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

// A product file that is read-only (copied from a CD, as help files were)
// would stay for ever: its bit is cleared first, and put back when the file
// still cannot go (it is in use).
BOOL WINAPI DeleteProductFile(LPCSTR path)
{
    const DWORD before = ClearReadOnly(path);
    if (g_platform->DeleteFileA(path)) {
        return TRUE;
    }
    if (before != 0) {
        g_platform->SetFileAttributesA(path, before);
    }
    return FALSE;
}

// A folder named like a product file is none: the sweep never removes one.
// Nor is a name the ANSI listing only best-fits to a product file's (one
// spelt with fullwidth letters, U+FF45 for "e", lists in ASCII letters):
// joined, it names nothing. Any other answer, a path too long among them,
// counts as the product's file still there.
int IsNoProgramFile(const char* folderPath, const WIN32_FIND_DATAA* entry, unsigned*)
{
    if ((entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !IsProgramFile(entry->cFileName)) {
        return 1;
    }
    char path[MAX_PATH];
    return BuildPath(path, MAX_PATH, folderPath, PATH_SEPARATOR, entry->cFileName) &&
           g_platform->GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES &&
           g_platform->GetLastError() == ERROR_FILE_NOT_FOUND;
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

DWORD ClearReadOnly(const char* path)
{
    const DWORD attributes = g_platform->GetFileAttributesA(path);
    const DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_READONLY | kept)) != FILE_ATTRIBUTE_READONLY) {
        return 0;
    }
    // No attribute at all is written as FILE_ATTRIBUTE_NORMAL: a zero would
    // ask for no change.
    DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (cleared == 0) {
        cleared = FILE_ATTRIBUTE_NORMAL;
    }
    return g_platform->SetFileAttributesA(path, cleared) ? attributes : 0;
}

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
    return DeleteMatchingFiles(installDir, IsProgramFile, DeleteProductFile);
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
