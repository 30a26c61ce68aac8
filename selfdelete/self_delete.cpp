#include "selfdelete/self_delete.h"

#include "app/constants.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"
#include "removal/folder_sweep.h"
#include "removal/removal.h"

namespace {

// The uninstaller's file can stay locked a moment after its process ended,
// while the system tears the process down or a scanner looks at it: its
// delete is tried again this often, this long apart.
const unsigned DELETE_RETRIES = 20;
const DWORD DELETE_RETRY_MS = 100;

// The copy's command line: the copy's path in quotes (a temp folder under a
// user name with a blank has one), a blank, and the uninstaller's path as the
// tail, unquoted and whole.
const unsigned COMMAND_LINE_SIZE = 1 + (MAX_PATH - 1) + 1 + 1 + (MAX_PATH - 1) + 1;

}  // namespace

int StartSelfDelete(const char* uninstallerPath)
{
    // A lookup that fails or a path that does not fit: no hand-off. The
    // uninstaller and its directory then stay, which is safe.
    char tempDir[MAX_PATH];
    DWORD tempLength = g_platform->GetTempPathA(MAX_PATH, tempDir);
    if (tempLength == 0 || tempLength >= MAX_PATH) {
        return 0;
    }
    char copyPath[MAX_PATH];
    if (!BuildPath(copyPath, MAX_PATH, tempDir, TEMP_COPY_NAME, "")) {
        return 0;
    }
    char ownPath[MAX_PATH];
    DWORD ownLength = g_platform->GetModuleFileNameA(0, ownPath, MAX_PATH);
    if (ownLength == 0 || ownLength >= MAX_PATH) {
        return 0;
    }
    char commandLine[COMMAND_LINE_SIZE];
    if (!BuildPath(commandLine, COMMAND_LINE_SIZE, "\"", copyPath, "\" ") ||
        !AppendString(commandLine, COMMAND_LINE_SIZE, uninstallerPath)) {
        return 0;
    }

    // Whatever "suicide.exe" stands in the temp folder is not ours: a link
    // to a user's file, which a copy over it would overwrite; in a temp
    // folder shared by all users (SYSTEM's), another user's file. Only a
    // file this run creates may be started. So the name is cleared first
    // (deleting a link removes the link, never its target), and the copy
    // made only where nothing stands. A leftover is never changed, only
    // deleted: a hard link shares its attributes with the file it names, so
    // making it writable would make the user's file writable. One that
    // cannot be deleted (read-only, held open) makes the copy fail, and
    // nothing starts.
    g_platform->DeleteFileA(copyPath);
    if (!g_platform->CopyFileA(ownPath, copyPath, TRUE)) {
        return 0;
    }
    // The copy carries the uninstaller's attributes; read-only, it could not
    // be opened for deletion on close and would stay behind.
    g_platform->SetFileAttributesA(copyPath, FILE_ATTRIBUTE_NORMAL);
    // The copy is deleted by the system once this handle is closed and the
    // copy's own process has ended. A copy that cannot be opened so (a
    // scanner holds the new file) is never started, and nothing would ever
    // delete it: it goes now.
    HANDLE copy = g_platform->CreateFileA(copyPath, GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                                          FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (copy == INVALID_HANDLE_VALUE) {
        g_platform->DeleteFileA(copyPath);
        return 0;
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};

    HANDLE started = g_platform->CreateEventA(0, TRUE, FALSE, START_EVENT_NAME);
    // Never released or closed: the end of this process abandons it, which is
    // what tells the copy that the uninstaller's file is free.
    g_platform->CreateMutexA(0, TRUE, EXIT_MUTEX_NAME);

    // Not in this process's current directory (often the install directory):
    // the copy would keep that directory from being removed.
    char startFolder[MAX_PATH];
    g_platform->CreateProcessA(0, commandLine, 0, 0, FALSE, NORMAL_PRIORITY_CLASS, 0,
                               GetStartFolder(startFolder) ? startFolder : tempDir, &startup,
                               &process);
    g_platform->WaitForSingleObject(started, HANDOFF_WAIT_MS);
    g_platform->CloseHandle(copy);
    return 0;
}

int FinishSelfDelete(const char* uninstallerPath)
{
    // Started by hand there is no event, and nothing to wait for.
    HANDLE started = g_platform->OpenEventA(EVENT_ALL_ACCESS, TRUE, START_EVENT_NAME);
    if (started != 0) {
        g_platform->SetEvent(started);
        HANDLE uninstallerRunning = g_platform->OpenMutexA(MUTEX_ALL_ACCESS, TRUE, EXIT_MUTEX_NAME);
        if (uninstallerRunning != 0) {
            g_platform->WaitForSingleObject(uninstallerRunning, HANDOFF_WAIT_MS);
        }
    }

    for (unsigned retry = 0; !g_platform->DeleteFileA(uninstallerPath) && retry < DELETE_RETRIES;
         ++retry) {
        const DWORD error = g_platform->GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            break;
        }
        g_platform->Sleep(DELETE_RETRY_MS);
    }

    char installDir[MAX_PATH];
    ReadInstallDirectory(installDir);
    if (installDir[0] == '\0') {
        return 0;
    }
    // A junction, a folder symbolic link or a mount point is removed
    // whatever it leads to: an install directory that is one goes only once
    // what it leads to is empty, never with the user's files still behind
    // it. One whose attributes cannot be read may be one: it stays.
    const DWORD attributes = g_platform->GetFileAttributesA(installDir);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !ListsOnly(installDir, IsFirstDotFolder))) {
        return 0;
    }
    // Goes only if nothing but the program's files were in it.
    g_platform->RemoveDirectoryA(installDir);
    return 0;
}
