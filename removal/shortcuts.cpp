#include "app/constants.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"
#include "removal/folder_sweep.h"
#include "removal/removal.h"

namespace {

// Builds the path of an entry in one of the user's special folders. A folder
// that cannot be got, or a path that would not fit, builds nothing: an
// undefined or empty folder would put the entry at the root of the drive.
// Nor does a folder that is not a full path (a broken shell-folder setting):
// it would be taken from the current directory, the install directory.
int BuildSpecialFolderPath(char* path, int csidl, const char* entry)
{
    char folder[MAX_PATH];
    folder[0] = '\0';
    if (!g_platform->SHGetSpecialFolderPathA(0, folder, csidl, FALSE) || !IsFullPath(folder)) {
        path[0] = '\0';
        return 0;
    }
    return BuildPath(path, MAX_PATH, folder, entry, "");
}

}  // namespace

int RemoveUninstallEntry(void)
{
    return g_platform->RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY) == ERROR_SUCCESS ? 1 : 0;
}

int RemoveShortcuts(void)
{
    char shortcutPath[MAX_PATH];
    int shortcutDeleted = 0;
    if (BuildSpecialFolderPath(shortcutPath, CSIDL_DESKTOPDIRECTORY, DESKTOP_SHORTCUT)) {
        shortcutDeleted = g_platform->DeleteFileA(shortcutPath) ? 1 : 0;
    }

    char groupPath[MAX_PATH];
    int groupRemoved = 0;
    if (BuildSpecialFolderPath(groupPath, CSIDL_PROGRAMS, PROGRAM_GROUP)) {
        groupRemoved = EmptyAndRemoveFolder(groupPath) ? 1 : 0;
    }
    return shortcutDeleted && groupRemoved;
}

int EmptyAndRemoveFolder(const char* folderPath)
{
    // A group that is a symbolic link or a junction leads into another
    // folder, which may hold the user's own files: it is never listed. Only
    // the link itself may go, which removing it does (never its target). A
    // group whose attributes cannot be read may be such a link: it stays.
    const DWORD attributes = g_platform->GetFileAttributesA(folderPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return g_platform->RemoveDirectoryA(folderPath);
    }
    // A group that cannot be listed is left alone, itself included.
    if (!DeleteMatchingFiles(folderPath, IsNotDotEntry, g_platform->DeleteFileA)) {
        return 0;
    }
    // One level deep: a subfolder fails to delete and so stays, and with it
    // the folder.
    return g_platform->RemoveDirectoryA(folderPath);
}
