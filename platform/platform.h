// PlatformOps: the one seam between the uninstaller and the operating system.
//
// Every call the program makes to Windows goes through g_platform. The struct
// is a plain table of function pointers, one static instance per
// implementation: Win32PlatformOps (the real calls, platform/win32_platform.cpp)
// and MemoryPlatformOps (a small model of Windows for the tests,
// platform/memory/). Each slot has the exact signature of the
// Windows function it stands for, so the Win32 table is filled with the real
// functions themselves and the compiler checks every implementation.
#pragma once

#include "platform/win_types.h"

struct PlatformOps {
    // --- Start-up -----------------------------------------------------------
    // Restricts the DLL search of this process to the system folder. The
    // Win32 side looks SetDefaultDllDirectories up at run time, so systems
    // without it still run; returns FALSE where it is missing or fails.
    BOOL(WINAPI* RestrictDllSearchToSystem)(void);
    // The process's command line exactly as it was started, program name first.
    LPSTR(WINAPI* GetCommandLineA)(void);
    // TRUE if the byte is a lead byte of a double-byte character in the
    // ANSI code page.
    BOOL(WINAPI* IsDBCSLeadByte)(BYTE testChar);

    // --- Modules ------------------------------------------------------------
    // NULL: the running executable's module handle.
    HMODULE(WINAPI* GetModuleHandleA)(LPCSTR moduleName);
    // Full path of the module's file; returns the length copied, or the size
    // (with the path cut short) when it does not fit, or 0 on failure.
    DWORD(WINAPI* GetModuleFileNameA)(HMODULE module, LPSTR fileName, DWORD size);

    // --- Dialogs ------------------------------------------------------------
    // Runs a modal dialog from the module's resources; returns the value
    // given to EndDialog, or -1 (0 for a bad owner) when it cannot be shown.
    INT_PTR(WINAPI* DialogBoxParamA)(HINSTANCE instance, LPCSTR templateName, HWND owner,
                                     DLGPROC dialogProc, LPARAM initParam);
    // Ends the modal loop of the dialog with this result.
    BOOL(WINAPI* EndDialog)(HWND dialog, INT_PTR result);

    // --- Registry (results are Windows error codes, 0 on success) -----------
    // Opens a key with the access asked for.
    LONG(WINAPI* RegOpenKeyExA)(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                                PHKEY result);
    // Opens with full access, as the 16-bit era call did.
    LONG(WINAPI* RegOpenKeyA)(HKEY root, LPCSTR subKey, PHKEY result);
    // Copies the value's raw bytes; *dataSize is the room offered on entry
    // and the stored size on return (ERROR_MORE_DATA when it does not fit).
    LONG(WINAPI* RegQueryValueExA)(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD dataSize);
    // Closes a key handle from one of the two opens.
    LONG(WINAPI* RegCloseKey)(HKEY key);
    // Deletes a key that has no subkeys.
    LONG(WINAPI* RegDeleteKeyA)(HKEY root, LPCSTR subKey);

    // --- Files and folders --------------------------------------------------
    // Lists the entries matching a "folder\*.*" pattern, "." and ".." among
    // them (but at a drive's root); INVALID_HANDLE_VALUE if not listable.
    HANDLE(WINAPI* FindFirstFileA)(LPCSTR pattern, LPWIN32_FIND_DATAA found);
    // The next entry; FALSE (ERROR_NO_MORE_FILES) after the last.
    BOOL(WINAPI* FindNextFileA)(HANDLE search, LPWIN32_FIND_DATAA found);
    // Ends a search started by FindFirstFileA.
    BOOL(WINAPI* FindClose)(HANDLE search);
    // Fails on a file in use, a read-only file and a folder.
    BOOL(WINAPI* DeleteFileA)(LPCSTR path);
    // Fails unless the folder is empty and no process has it as its current
    // directory.
    BOOL(WINAPI* RemoveDirectoryA)(LPCSTR path);
    // Copies the file's bytes; with failIfExists FALSE an existing target is
    // overwritten unless it is read-only or in use.
    BOOL(WINAPI* CopyFileA)(LPCSTR existing, LPCSTR target, BOOL failIfExists);
    // Opens an existing file; with FILE_FLAG_DELETE_ON_CLOSE the file goes
    // once every handle to it is closed and no process runs it.
    HANDLE(WINAPI* CreateFileA)(LPCSTR path, DWORD access, DWORD shareMode,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                DWORD flagsAndAttributes, HANDLE templateFile);
    // Closes a file, event, mutex, process or thread handle.
    BOOL(WINAPI* CloseHandle)(HANDLE object);
    // Makes an existing folder the process's current directory, which
    // programs it starts inherit; a folder some process has as its current
    // directory cannot be removed.
    BOOL(WINAPI* SetCurrentDirectoryA)(LPCSTR path);

    // --- System folders -----------------------------------------------------
    // The user's special folder, without a trailing separator.
    BOOL(WINAPI* SHGetSpecialFolderPathA)(HWND owner, LPSTR path, int csidl, BOOL create);
    // The temp folder with a trailing separator; returns its length, or the
    // size needed (terminating zero included) when the buffer is too small,
    // or 0 on failure.
    DWORD(WINAPI* GetTempPathA)(DWORD size, LPSTR buffer);

    // --- Strings ------------------------------------------------------------
    // Appends source to target; the caller makes sure it fits.
    LPSTR(WINAPI* lstrcatA)(LPSTR target, LPCSTR source);

    // --- Named kernel objects -----------------------------------------------
    // Creates a named event, or opens it if the name exists; NULL on failure.
    HANDLE(WINAPI* CreateEventA)(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                 BOOL initialState, LPCSTR name);
    // Opens an existing named event; NULL if there is none.
    HANDLE(WINAPI* OpenEventA)(DWORD access, BOOL inherit, LPCSTR name);
    // Signals the event; a manual-reset one stays signalled.
    BOOL(WINAPI* SetEvent)(HANDLE event);
    // Creates a named mutex, owned by this process if asked and new; a mutex
    // still owned when its owner ends is abandoned to the next waiter.
    HANDLE(WINAPI* CreateMutexA)(LPSECURITY_ATTRIBUTES security, BOOL initialOwner,
                                 LPCSTR name);
    // Opens an existing named mutex; NULL once no handle to it is left.
    HANDLE(WINAPI* OpenMutexA)(DWORD access, BOOL inherit, LPCSTR name);
    // Returns at a signal, an abandoned mutex or the timeout.
    DWORD(WINAPI* WaitForSingleObject)(HANDLE object, DWORD milliseconds);

    // --- Processes ----------------------------------------------------------
    // Starts a program; with no application name the program is the first
    // token of the command line. The child gets the line, program name first.
    BOOL(WINAPI* CreateProcessA)(LPCSTR applicationName, LPSTR commandLine,
                                 LPSECURITY_ATTRIBUTES processSecurity,
                                 LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles,
                                 DWORD creationFlags, LPVOID environment,
                                 LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                                 LPPROCESS_INFORMATION processInformation);
    // Starts a command line; a result above 31 means it started.
    UINT(WINAPI* WinExec)(LPCSTR commandLine, UINT showCommand);
};

// The implementation the program runs on. The Win32 start-up points it at
// Win32PlatformOps; the tests point it at MemoryPlatformOps.
extern const PlatformOps* g_platform;
