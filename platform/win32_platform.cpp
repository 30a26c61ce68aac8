// The real Windows calls behind PlatformOps. Kept thin: every slot but one is
// the system function of the slot's name, so this file is only a table made
// from the slot list.
#include "platform/win32_platform.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

// The temporary copy of this program runs from the user's temp folder, where
// anyone may drop a DLL; the loader must look for delay-loaded and
// dynamically loaded DLLs only in the system folder. SetDefaultDllDirectories
// is missing on old systems, so it is looked up rather than imported.
// Named as its slot, so the table below finds it as it finds the system
// functions.
BOOL WINAPI RestrictDllSearchToSystem(void)
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
#define WIN32_SLOT(Result, Name, Params, Args) Name,
    PLATFORM_SLOTS(WIN32_SLOT)
#undef WIN32_SLOT
};
