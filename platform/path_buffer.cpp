#include "platform/path_buffer.h"

#include "platform/platform.h"

unsigned StringLength(const char* text)
{
    unsigned length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

int AppendString(char* buffer, unsigned bufferSize, const char* text)
{
    if (StringLength(buffer) + StringLength(text) >= bufferSize) {
        return 0;
    }
    // A failed append leaves part of a path, which could name another file
    // (a group path without its "\Quillmere" is the whole Programs folder).
    if (g_platform->lstrcatA(buffer, text) == 0) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

int BuildPath(char* buffer, unsigned bufferSize, const char* first, const char* second,
              const char* third)
{
    if (bufferSize == 0) {
        return 0;
    }
    buffer[0] = '\0';
    if (AppendString(buffer, bufferSize, first) && AppendString(buffer, bufferSize, second) &&
        AppendString(buffer, bufferSize, third)) {
        return 1;
    }
    buffer[0] = '\0';
    return 0;
}

namespace {

int IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

int IsFullPath(const char* path)
{
    const char drive = static_cast<char>(path[0] | 0x20);
    if (drive >= 'a' && drive <= 'z' && path[1] == ':' && IsSeparator(path[2])) {
        return 1;
    }
    return IsSeparator(path[0]) && IsSeparator(path[1]);
}

int GetStartFolder(char* folder)
{
    const UINT systemLength = g_platform->GetSystemDirectoryA(folder, MAX_PATH);
    if (systemLength != 0 && systemLength < MAX_PATH) {
        return 1;
    }
    const DWORD tempLength = g_platform->GetTempPathA(MAX_PATH, folder);
    return tempLength != 0 && tempLength < MAX_PATH;
}

namespace {

// No code page has a lead byte below this.
const BYTE FIRST_HIGH_BYTE = 0x80;

}  // namespace

const char* NextChar(const char* text, BOOL(WINAPI* isLeadByte)(BYTE))
{
    const BYTE byte = static_cast<BYTE>(*text);
    if (byte >= FIRST_HIGH_BYTE && text[1] != '\0' && isLeadByte(byte)) {
        return text + 2;
    }
    return text + 1;
}

namespace {

char FoldAsciiCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

int NamesEqualIgnoringAsciiCase(const char* left, const char* right)
{
    while (*left != '\0' && FoldAsciiCase(*left) == FoldAsciiCase(*right)) {
        ++left;
        ++right;
    }
    return *left == '\0' && *right == '\0';
}
