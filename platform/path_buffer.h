// Path buffers: byte strings of at most MAX_PATH bytes with their zero.
// A path that does not fit is never built and never cut short.
#pragma once

#include "platform/win_types.h"

// Length of a zero-terminated string.
unsigned StringLength(const char* text);

// Appends text to the string in buffer (of bufferSize bytes) if the result
// and its zero fit; returns 1 then, else 0 with the buffer unchanged, or empty
// if the append itself failed.
int AppendString(char* buffer, unsigned bufferSize, const char* text);

// Builds first + second + third into buffer if all of it fits; returns 1 then,
// else 0 with an empty buffer.
int BuildPath(char* buffer, unsigned bufferSize, const char* first, const char* second,
              const char* third);

// True for a fully qualified path: a drive letter, a colon and a separator
// ("C:\..."), or two separators ("\\server\share\..."). A relative path, a
// drive-relative one ("C:x") and a rooted one without drive ("\x") name a
// different folder depending on the current directory and drive.
int IsFullPath(const char* path);

// Fills folder (MAX_PATH bytes) with the folder the programs this one starts
// run in: the system folder, which this program never removes and only
// administrators can write to, so a program started by bare name is never
// taken from a folder anyone could drop one into. Failing that, the temp
// folder: at least not the install directory. Returns 0 when neither can be
// got whole.
int GetStartFolder(char* folder);

// The character after the one text points at: a lead byte of a double-byte
// character of the ANSI code page (as isLeadByte tells) takes its trail byte
// along, unless that is the terminating zero. No code page has a lead byte
// below 0x80, so isLeadByte is only asked about bytes from 0x80 up.
const char* NextChar(const char* text, BOOL(WINAPI* isLeadByte)(BYTE));

// Compares two whole names, the letters A to Z equal to a to z and nothing
// else folded.
int NamesEqualIgnoringAsciiCase(const char* left, const char* right);
