#include "removal/folder_sweep.h"

#include "app/constants.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"

int DeleteMatchingFiles(const char* folderPath, int (*shouldDelete)(const char* name))
{
    char workPath[MAX_PATH];
    if (!BuildPath(workPath, MAX_PATH, folderPath, ALL_FILES_PATTERN, "")) {
        return 0;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = g_platform->FindFirstFileA(workPath, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        if (shouldDelete(found.cFileName) &&
            BuildPath(workPath, MAX_PATH, folderPath, PATH_SEPARATOR, found.cFileName)) {
            g_platform->DeleteFileA(workPath);
        }
    } while (g_platform->FindNextFileA(search, &found));
    g_platform->FindClose(search);
    return 1;
}
