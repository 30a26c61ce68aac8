#include "platform/startup.h"

namespace {

// Bytes up to this value (blank and control bytes) end an unquoted program
// name and are skipped before the tail; read unsigned, so 128 and up never do.
const unsigned char LAST_BLANK_OR_CONTROL = 32;

}  // namespace

const char* SkipProgramName(const char* commandLine, BOOL(WINAPI* isLeadByte)(BYTE))
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            if (isLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
                ++p;
            }
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (static_cast<unsigned char>(*p) > LAST_BLANK_OR_CONTROL) {
            ++p;
        }
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= LAST_BLANK_OR_CONTROL) {
        ++p;
    }
    return p;
}

int ProgramStart(void)
{
    // First of all: nothing may be loaded from the folder the program runs
    // in. The result does not matter; old systems simply lack the call.
    g_platform->RestrictDllSearchToSystem();
    HINSTANCE instance = g_platform->GetModuleHandleA(0);
    const char* tail = SkipProgramName(g_platform->GetCommandLineA(), g_platform->IsDBCSLeadByte);
    return WinMain(instance, 0, const_cast<LPSTR>(tail), SW_SHOWDEFAULT);
}
