// The one loop that lists a folder's top level and deletes entries from it,
// shared by the program-file sweep and the emptying of the Start-menu group,
// and the look at what a folder holds.
#pragma once

#include "platform/win_types.h"

// Deletes, with deleteFile, every entry at the top level of folderPath whose
// name shouldDelete accepts; an entry whose full path would not fit in
// MAX_PATH bytes is skipped, never cut short, and so is a name holding a
// separator (HoldsPathSeparator, in the ANSI code page). A folder among them
// fails to delete and stays. Returns 0 when the folder cannot be listed (or
// its pattern does not fit), 1 otherwise.
int DeleteMatchingFiles(const char* folderPath, int (*shouldDelete)(const char* name),
                        BOOL(WINAPI* deleteFile)(LPCSTR path));

// True when a name the directory search gave holds "\", "/" or ":" outside
// its double-byte characters (isLeadByte tells their lead bytes). The ANSI
// search converts a name made with the wide calls by best fit: a fullwidth
// reverse solidus (U+FF3C) comes back as "\", a fullwidth full stop (U+FF0E)
// as ".", so a name can read "..\..\file" and, joined to the folder, name a
// file outside it. No real entry of a folder holds one. But in a double-byte
// code page a character's trail byte may have the value of "\" (code page
// 932 gives "\x95\x5C" for one): that is part of a real name.
int HoldsPathSeparator(const char* name, BOOL(WINAPI* isLeadByte)(BYTE));

// True for every name but "." and "..", compared byte for byte.
int IsNotDotEntry(const char* name);

// Whether one entry of a listing of folderPath may be there. seen starts at
// 0 for each listing and keeps what the check has met so far.
typedef int (*EntryAllowed)(const char* folderPath, const WIN32_FIND_DATAA* entry, unsigned* seen);

// True for the first folder "." and the first folder ".." of a listing, as
// every folder but a root lists them. A file whose name the search
// best-fits to one of them (fullwidth full stops) is none, and neither is a
// second one, a folder so named.
int IsFirstDotFolder(const char* folderPath, const WIN32_FIND_DATAA* entry, unsigned* seen);

// True when folderPath can be listed to its end and every entry at its top
// level is one allowed accepts. Closes the search it opens.
int ListsOnly(const char* folderPath, EntryAllowed allowed);
