#include "app/constants.h"
#include "app/path_buffer.h"
#include "platform/platform.h"
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

    char workPath[MAX_PATH];
    if (!BuildPath(workPath, MAX_PATH, installDir, ALL_FILES_PATTERN, "")) {
        return 0;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = g_platform->FindFirstFileA(workPath, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        // A name whose full path would not fit is skipped, never cut short.
        if (IsProgramFile(found.cFileName) &&
            BuildPath(workPath, MAX_PATH, installDir, PATH_SEPARATOR, found.cFileName)) {
            g_platform->DeleteFileA(workPath);
        }
    } while (g_platform->FindNextFileA(search, &found));
    g_platform->FindClose(search);
    return 1;
}
