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

// Every slot of PlatformOps, in its order, each as X(result, name,
// (parameters), (the parameters' names, to call through)). The struct, the
// implementations' tables, the model's operation names and the fuzz
// targets' table are all made from this one list, so a slot added here
// cannot be left out of any of them, and the compiler still checks every
// implementation against the slot's signature.
#define PLATFORM_SLOTS(X) \
    /* --- Start-up --- */ \
    /* Restricts the DLL search of this process to the system folder. The \
       Win32 side looks SetDefaultDllDirectories up at run time, so systems \
       without it still run; returns FALSE where it is missing or fails. */ \
    X(BOOL, RestrictDllSearchToSystem, (void), ()) \
    /* The process's command line exactly as it was started, program name first. */ \
    X(LPSTR, GetCommandLineA, (void), ()) \
    /* TRUE if the byte is a lead byte of a double-byte character in the \
       ANSI code page. */ \
    X(BOOL, IsDBCSLeadByte, (BYTE testChar), (testChar)) \
 \
    /* --- Errors and time --- */ \
    /* The calling thread's last error: what the last call that failed set. */ \
    X(DWORD, GetLastError, (void), ()) \
    /* Suspends the calling thread for at least this many milliseconds. */ \
    X(void, Sleep, (DWORD milliseconds), (milliseconds)) \
 \
    /* --- Modules --- */ \
    /* NULL: the running executable's module handle. */ \
    X(HMODULE, GetModuleHandleA, (LPCSTR moduleName), (moduleName)) \
    /* Full path of the module's file; returns the length copied, or the size \
       (with the path cut short) when it does not fit, or 0 on failure. */ \
    X(DWORD, GetModuleFileNameA, (HMODULE module, LPSTR fileName, DWORD size), \
      (module, fileName, size)) \
 \
    /* --- Dialogs --- */ \
    /* Runs a modal dialog from the module's resources; returns the value \
       given to EndDialog, or -1 (0 for a bad owner) when it cannot be shown. */ \
    X(INT_PTR, DialogBoxParamA, (HINSTANCE instance, LPCSTR templateName, HWND owner, \
      DLGPROC dialogProc, LPARAM initParam), \
      (instance, templateName, owner, dialogProc, initParam)) \
    /* Ends the modal loop of the dialog with this result. */ \
    X(BOOL, EndDialog, (HWND dialog, INT_PTR result), (dialog, result)) \
 \
    /* --- Registry (results are Windows error codes, 0 on success) --- */ \
    /* Opens a key with the access asked for. */ \
    X(LONG, RegOpenKeyExA, (HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result), \
      (root, subKey, options, access, result)) \
    /* Opens with full access, as the 16-bit era call did. */ \
    X(LONG, RegOpenKeyA, (HKEY root, LPCSTR subKey, PHKEY result), (root, subKey, result)) \
    /* Copies the value's raw bytes; *dataSize is the room offered on entry \
       and the stored size on return (ERROR_MORE_DATA when it does not fit). */ \
    X(LONG, RegQueryValueExA, (HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, \
      LPBYTE data, LPDWORD dataSize), \
      (key, valueName, reserved, type, data, dataSize)) \
    /* Closes a key handle from one of the two opens. */ \
    X(LONG, RegCloseKey, (HKEY key), (key)) \
    /* Deletes a key that has no subkeys. */ \
    X(LONG, RegDeleteKeyA, (HKEY root, LPCSTR subKey), (root, subKey)) \
 \
    /* --- Files and folders --- */ \
    /* Lists the entries matching a "folder\*.*" pattern, "." and ".." among \
       them (but at a drive's root); INVALID_HANDLE_VALUE if not listable. */ \
    X(HANDLE, FindFirstFileA, (LPCSTR pattern, LPWIN32_FIND_DATAA found), (pattern, found)) \
    /* The next entry; FALSE (ERROR_NO_MORE_FILES) after the last. */ \
    X(BOOL, FindNextFileA, (HANDLE search, LPWIN32_FIND_DATAA found), (search, found)) \
    /* Ends a search started by FindFirstFileA. */ \
    X(BOOL, FindClose, (HANDLE search), (search)) \
    /* Fails on a file in use, a read-only file and a folder. */ \
    X(BOOL, DeleteFileA, (LPCSTR path), (path)) \
    /* Fails unless the folder is empty and no process has it as its current \
       directory. */ \
    X(BOOL, RemoveDirectoryA, (LPCSTR path), (path)) \
    /* Copies the file's bytes; with failIfExists FALSE an existing target is \
       overwritten unless it is read-only or in use. */ \
    X(BOOL, CopyFileA, (LPCSTR existing, LPCSTR target, BOOL failIfExists), \
      (existing, target, failIfExists)) \
    /* Opens an existing file; with FILE_FLAG_DELETE_ON_CLOSE the file goes \
       once every handle to it is closed and no process runs it. */ \
    X(HANDLE, CreateFileA, (LPCSTR path, DWORD access, DWORD shareMode, \
      LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flagsAndAttributes, \
      HANDLE templateFile), \
      (path, access, shareMode, security, disposition, flagsAndAttributes, templateFile)) \
    /* Closes a file, event, mutex, process or thread handle. */ \
    X(BOOL, CloseHandle, (HANDLE object), (object)) \
    /* The attributes of a file or folder; INVALID_FILE_ATTRIBUTES when there \
       is none or they cannot be read. A folder that is a symbolic link or a \
       junction shows FILE_ATTRIBUTE_REPARSE_POINT beside \
       FILE_ATTRIBUTE_DIRECTORY. */ \
    X(DWORD, GetFileAttributesA, (LPCSTR path), (path)) \
    /* Replaces the attributes of a file; FILE_ATTRIBUTE_NORMAL clears them \
       all, read-only among them. */ \
    X(BOOL, SetFileAttributesA, (LPCSTR path, DWORD attributes), (path, attributes)) \
    /* The full path a path names, resolved against the current directory as \
       every file call resolves it, without looking at the disk: "/" taken \
       as "\\", repeated separators once, "." and ".." applied, the last \
       name's trailing dots and blanks dropped. Returns its length, or the \
       size needed (terminating zero included) when the buffer is too small, \
       or 0 on failure; *filePart (if asked) points at the last name. */ \
    X(DWORD, GetFullPathNameA, (LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart), \
      (path, size, buffer, filePart)) \
    /* Makes an existing folder the process's current directory, which \
       programs it starts inherit; a folder some process has as its current \
       directory cannot be removed. */ \
    X(BOOL, SetCurrentDirectoryA, (LPCSTR path), (path)) \
 \
    /* --- System folders --- */ \
    /* The user's special folder, without a trailing separator. */ \
    X(BOOL, SHGetSpecialFolderPathA, (HWND owner, LPSTR path, int csidl, BOOL create), \
      (owner, path, csidl, create)) \
    /* The temp folder with a trailing separator; returns its length, or the \
       size needed (terminating zero included) when the buffer is too small, \
       or 0 on failure. */ \
    X(DWORD, GetTempPathA, (DWORD size, LPSTR buffer), (size, buffer)) \
    /* The system folder, without a trailing separator; returns its length, \
       or the size needed (terminating zero included) when the buffer is too \
       small, or 0 on failure. Only administrators may write there. */ \
    X(UINT, GetSystemDirectoryA, (LPSTR buffer, UINT size), (buffer, size)) \
 \
    /* --- Strings --- */ \
    /* Appends source to target; the caller makes sure it fits. */ \
    X(LPSTR, lstrcatA, (LPSTR target, LPCSTR source), (target, source)) \
 \
    /* --- Named kernel objects --- */ \
    /* Creates a named event, or opens it if the name exists; NULL on failure. */ \
    X(HANDLE, CreateEventA, (LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, \
      LPCSTR name), \
      (security, manualReset, initialState, name)) \
    /* Opens an existing named event; NULL if there is none. */ \
    X(HANDLE, OpenEventA, (DWORD access, BOOL inherit, LPCSTR name), (access, inherit, name)) \
    /* Signals the event; a manual-reset one stays signalled. */ \
    X(BOOL, SetEvent, (HANDLE event), (event)) \
    /* Creates a named mutex, owned by this process if asked and new; a mutex \
       still owned when its owner ends is abandoned to the next waiter. */ \
    X(HANDLE, CreateMutexA, (LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name), \
      (security, initialOwner, name)) \
    /* Opens an existing named mutex; NULL once no handle to it is left. */ \
    X(HANDLE, OpenMutexA, (DWORD access, BOOL inherit, LPCSTR name), (access, inherit, name)) \
    /* Returns at a signal, an abandoned mutex or the timeout. */ \
    X(DWORD, WaitForSingleObject, (HANDLE object, DWORD milliseconds), (object, milliseconds)) \
 \
    /* --- Processes --- */ \
    /* Starts a program; with no application name the program is the first \
       token of the command line. The child gets the line, program name first. */ \
    X(BOOL, CreateProcessA, (LPCSTR applicationName, LPSTR commandLine, \
      LPSECURITY_ATTRIBUTES processSecurity, LPSECURITY_ATTRIBUTES threadSecurity, \
      BOOL inheritHandles, DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory, \
      LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation), \
      (applicationName, commandLine, processSecurity, threadSecurity, inheritHandles, \
       creationFlags, environment, currentDirectory, startupInfo, processInformation)) \
    /* Starts a command line; a result above 31 means it started. */ \
    X(UINT, WinExec, (LPCSTR commandLine, UINT showCommand), (commandLine, showCommand))

struct PlatformOps {
// A type and a declarator's name cannot stand in parentheses.
#define PLATFORM_SLOT_MEMBER(Result, Name, Params, Args) \
    Result(WINAPI* Name) Params;  // NOLINT(bugprone-macro-parentheses)
    PLATFORM_SLOTS(PLATFORM_SLOT_MEMBER)
#undef PLATFORM_SLOT_MEMBER
};

// The implementation the program runs on. The Win32 start-up points it at
// Win32PlatformOps; the tests point it at MemoryPlatformOps.
extern const PlatformOps* g_platform;
