// The process entry point of the Windows builds. The program is linked
// without the C runtime: its start-up would derive the command tail by a
// different rule, and its DLL could be planted beside a copy run from the
// temp folder.
#include "platform/startup.h"
#include "platform/win32_platform.h"

extern "C" void __cdecl ProgramEntry(void)
{
    g_platform = &Win32PlatformOps;
    ExitProcess(static_cast<UINT>(ProgramStart()));
}
