// Removal: the install directory, the program files, the uninstall entry and
// the shortcuts.
#pragma once

#include "platform/win_types.h"

// Reads a string value into buffer (MAX_PATH bytes), ended at its stored
// length. Returns 1 on every road; a value that cannot be read (no key, no
// value, longer than MAX_PATH - 1 bytes) leaves the buffer empty, and so does
// an empty value: an empty buffer means "no value".
int ReadStringValue(const char* subKey, const char* valueName, char* buffer, HKEY rootKey);

// Reads the install directory; the buffer is empty when there is none or the
// value is not a full path.
void ReadInstallDirectory(char* installDir);

// Clears the read-only bit of a plain file (neither a folder nor a reparse
// point), and only that bit. Returns the attributes it had when it changed
// them, to put them back, or 0 when it changed nothing.
DWORD ClearReadOnly(const char* path);

// Deletes the product's listed files from the top level of the install
// directory, read-only ones too (a file still in use keeps its bit).
// Returns 0 when there is no install directory or it cannot be listed, 1
// otherwise.
int RemoveProgramFiles(void);

// True when the program files are gone: the install directory can be
// listed, and neither it nor the folder the running uninstaller is in holds
// a file of the product's list any more. A folder that cannot be listed or
// an unknown path counts as not gone; a listed name that, joined to its
// folder, names nothing (a best-fit name) does not count.
int ProgramFilesAreGone(void);

// Deletes the product's key from the list of installed programs. Returns 1
// when the key was deleted.
int RemoveUninstallEntry(void);

// Deletes the user's desktop shortcut and Start-menu group. Returns 1 when
// both went.
int RemoveShortcuts(void);

// Deletes every file at the top level of the folder, then the folder itself;
// a folder that is a link is only removed, never emptied. Returns non-zero
// when the folder was removed.
int EmptyAndRemoveFolder(const char* folderPath);
