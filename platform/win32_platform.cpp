// The real Windows calls behind PlatformOps. Kept thin: every slot but one is
// the system function itself, so this file is only a table.
#include "platform/win32_platform.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

// The temporary copy of this program runs from the user's temp folder, where
// anyone may drop a DLL; the loader must look for delay-loaded and
// dynamically loaded DLLs only in the system folder. SetDefaultDllDirectories
// is missing on old systems, so it is looked up rather than imported.
BOOL WINAPI Win32RestrictDllSearchToSystem(void)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == NULL) {
        return FALSE;
    }
    SetDefaultDllDirectoriesProc setDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories == NULL) {
        return FALSE;
    }
    return setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

const PlatformOps Win32PlatformOps = {
    Win32RestrictDllSearchToSystem,
    GetCommandLineA,
    IsDBCSLeadByte,
    GetModuleHandleA,
    GetModuleFileNameA,
    DialogBoxParamA,
    EndDialog,
    RegOpenKeyExA,
    RegOpenKeyA,
    RegQueryValueExA,
    RegCloseKey,
    RegDeleteKeyA,
    FindFirstFileA,
    FindNextFileA,
    FindClose,
    DeleteFileA,
    RemoveDirectoryA,
    CopyFileA,
    CreateFileA,
    CloseHandle,
    SetCurrentDirectoryA,
    SHGetSpecialFolderPathA,
    GetTempPathA,
    lstrcatA,
    CreateEventA,
    OpenEventA,
    SetEvent,
    CreateMutexA,
    OpenMutexA,
    WaitForSingleObject,
    CreateProcessA,
    WinExec,
};
