// The program's own start-up: from the process's command line to WinMain.
#pragma once

#include "platform/platform.h"

// Returns the command tail of a command line: what follows the program name
// and the blanks and control bytes (values 1 to 32) after it.
//
// A name in double quotes runs to the closing quote, which is skipped too;
// inside the quotes a double-byte lead byte takes the next byte along, so a
// trail byte with the value of a quote does not end the name. An unquoted
// name runs to the first byte of value 32 or less, read unsigned, so bytes
// from 128 up belong to the name. Never reads past the terminating zero.
const char* SkipProgramName(const char* commandLine, BOOL(WINAPI* isLeadByte)(BYTE));

// The command tail WinMain gets: what SkipProgramName leaves, but for one
// line. The list of installed programs starts an UninstallString as it is
// written, often unquoted ("C:\Program Files\Quillmere\Uninstall.exe"), and
// the blank would make the rest of the path a tail. Windows hands the line
// on unchanged, however the installer spelt the path ("C:/Program
// Files/...", "...\\Uninstall.exe"), while ownPath (this program's full
// path) is normalised. So a line that does not begin with a quote and, its
// trailing blanks and control bytes removed, is ownPath once fullPath
// (GetFullPathNameA) has spelt it out, compared without regard to ASCII
// case, has an empty tail. As CreateProcess does, ".exe" is added to a last
// name without a "." (if it still fits in MAX_PATH bytes) before the
// comparison. ownPath is empty when unknown.
const char* CommandTail(const char* commandLine, const char* ownPath,
                        BOOL(WINAPI* isLeadByte)(BYTE),
                        DWORD(WINAPI* fullPath)(LPCSTR, DWORD, LPSTR, LPSTR*));

// Everything the entry point does but ending the process: restricts the DLL
// search, derives the tail of this process's command line and runs WinMain.
// Returns WinMain's result, the process's exit code.
int ProgramStart(void);
