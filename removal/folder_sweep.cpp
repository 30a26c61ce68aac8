#include "removal/folder_sweep.h"

#include "app/constants.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"

int HoldsPathSeparator(const char* name, BOOL(WINAPI* isLeadByte)(BYTE))
{
    for (; *name != '\0'; name = NextChar(name, isLeadByte)) {
        if (*name == '\\' || *name == '/' || *name == ':') {
            return 1;
        }
    }
    return 0;
}

namespace {

// Starts the search of the folder's top level; INVALID_HANDLE_VALUE when it
// cannot be listed or its pattern does not fit.
HANDLE FindFirstEntry(const char* folderPath, WIN32_FIND_DATAA* found)
{
    char pattern[MAX_PATH];
    if (!BuildPath(pattern, MAX_PATH, folderPath, ALL_FILES_PATTERN, "")) {
        return INVALID_HANDLE_VALUE;
    }
    return g_platform->FindFirstFileA(pattern, found);
}

}  // namespace

int DeleteMatchingFiles(const char* folderPath, int (*shouldDelete)(const char* name),
                        BOOL(WINAPI* deleteFile)(LPCSTR path))
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstEntry(folderPath, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        char entryPath[MAX_PATH];
        if (!HoldsPathSeparator(found.cFileName, g_platform->IsDBCSLeadByte) &&
            shouldDelete(found.cFileName) &&
            BuildPath(entryPath, MAX_PATH, folderPath, PATH_SEPARATOR, found.cFileName)) {
            deleteFile(entryPath);
        }
    } while (g_platform->FindNextFileA(search, &found));
    g_platform->FindClose(search);
    return 1;
}

int IsNotDotEntry(const char* name)
{
    const int dot = name[0] == '.' && name[1] == '\0';
    const int dotDot = name[0] == '.' && name[1] == '.' && name[2] == '\0';
    return !dot && !dotDot;
}

int IsFirstDotFolder(const char*, const WIN32_FIND_DATAA* entry, unsigned* seen)
{
    if ((entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        IsNotDotEntry(entry->cFileName)) {
        return 0;
    }
    // One bit for ".", another for "..".
    const unsigned dot = entry->cFileName[1] == '\0' ? 1U : 2U;
    if (*seen & dot) {
        return 0;
    }
    *seen |= dot;
    return 1;
}

int ListsOnly(const char* folderPath, EntryAllowed allowed)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstEntry(folderPath, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    unsigned seen = 0;
    int onlyAllowed = 1;
    do {
        onlyAllowed = allowed(folderPath, &found, &seen);
    } while (onlyAllowed && g_platform->FindNextFileA(search, &found));
    // A search that fails before its last entry has not shown them all.
    if (onlyAllowed && g_platform->GetLastError() != ERROR_NO_MORE_FILES) {
        onlyAllowed = 0;
    }
    g_platform->FindClose(search);
    return onlyAllowed;
}
