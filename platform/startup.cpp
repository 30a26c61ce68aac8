#include "platform/startup.h"

#include "platform/path_buffer.h"

namespace {

// Bytes up to this value (blank and control bytes) end an unquoted program
// name and are skipped before the tail; read unsigned, so 128 and up never do.
const unsigned char LAST_BLANK_OR_CONTROL = 32;

const char* SkipBlanks(const char* p)
{
    while (*p != '\0' && static_cast<unsigned char>(*p) <= LAST_BLANK_OR_CONTROL) {
        ++p;
    }
    return p;
}

}  // namespace

const char* SkipProgramName(const char* commandLine, BOOL(WINAPI* isLeadByte)(BYTE))
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            p = NextChar(p, isLeadByte);
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (static_cast<unsigned char>(*p) > LAST_BLANK_OR_CONTROL) {
            ++p;
        }
    }
    return SkipBlanks(p);
}

const char* CommandTail(const char* commandLine, const char* ownPath,
                        BOOL(WINAPI* isLeadByte)(BYTE),
                        DWORD(WINAPI* fullPath)(LPCSTR, DWORD, LPSTR, LPSTR*))
{
    const char* tail = SkipProgramName(commandLine, isLeadByte);
    if (commandLine[0] == '"' || *tail == '\0' || ownPath[0] == '\0') {
        return tail;
    }
    // The line without its trailing blanks and control bytes. One too long
    // for a path cannot be this program's.
    char line[MAX_PATH];
    unsigned length = 0;
    const char* rest = commandLine;
    for (; *rest != '\0' && length < MAX_PATH - 1; ++rest) {
        line[length++] = *rest;
    }
    rest = SkipBlanks(rest);
    if (*rest != '\0') {
        return tail;
    }
    while (length > 0 && static_cast<unsigned char>(line[length - 1]) <= LAST_BLANK_OR_CONTROL) {
        --length;
    }
    line[length] = '\0';
    char full[MAX_PATH];
    LPSTR lastName = 0;
    const DWORD fullLength = fullPath(line, MAX_PATH, full, &lastName);
    if (fullLength == 0 || fullLength >= MAX_PATH) {
        return tail;
    }
    // CreateProcess starts "...\Uninstall" as "...\Uninstall.exe", and hands
    // the line on as written. No trail byte of a double-byte character is a
    // ".", so the last name is looked at byte by byte.
    char* end = lastName;
    while (end != 0 && *end != '\0' && *end != '.') {
        ++end;
    }
    const char exe[] = ".exe";
    if (end != 0 && *end == '\0' && end + sizeof exe <= full + MAX_PATH) {
        for (unsigned i = 0; i < sizeof exe; ++i) {
            end[i] = exe[i];
        }
    }
    return NamesEqualIgnoringAsciiCase(full, ownPath) ? rest : tail;
}

int ProgramStart(void)
{
    // First of all: nothing may be loaded from the folder the program runs
    // in. The result does not matter; old systems simply lack the call.
    g_platform->RestrictDllSearchToSystem();
    HINSTANCE instance = g_platform->GetModuleHandleA(0);
    const char* line = g_platform->GetCommandLineA();
    // Only an unquoted line can be the program's own unquoted path, so only
    // for one is that path looked up.
    char ownPath[MAX_PATH];
    ownPath[0] = '\0';
    if (line[0] != '"') {
        const DWORD ownLength = g_platform->GetModuleFileNameA(0, ownPath, MAX_PATH);
        if (ownLength == 0 || ownLength >= MAX_PATH) {
            ownPath[0] = '\0';
        }
    }
    const char* tail =
        CommandTail(line, ownPath, g_platform->IsDBCSLeadByte, g_platform->GetFullPathNameA);
    return WinMain(instance, 0, const_cast<LPSTR>(tail), SW_SHOWDEFAULT);
}
