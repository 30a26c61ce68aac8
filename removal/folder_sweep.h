// The one loop that lists a folder's top level and deletes entries from it,
// shared by the program-file sweep and the emptying of the Start-menu group,
// and the look into a folder before it is removed.
#pragma once

// Deletes every entry at the top level of folderPath whose name shouldDelete
// accepts; an entry whose full path would not fit in MAX_PATH bytes is
// skipped, never cut short, and so is a name holding "\", "/" or ":". A
// folder among them fails to delete and stays. Returns 0 when the folder
// cannot be listed (or its pattern does not fit), 1 otherwise.
int DeleteMatchingFiles(const char* folderPath, int (*shouldDelete)(const char* name));

// True for every name but "." and "..", compared byte for byte.
int IsNotDotEntry(const char* name);

// True when folderPath can be listed and holds nothing but the folders "."
// and "..".
int ListsNothingButDotEntries(const char* folderPath);
