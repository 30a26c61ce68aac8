// The fixed names by which the uninstaller finds and removes the product.
#pragma once

#include "platform/win_types.h"

// Per-user settings key under HKEY_CURRENT_USER; only ever read.
extern const char SETTINGS_KEY[];
// String value in SETTINGS_KEY holding the install directory.
extern const char PROGRAM_PATH_VALUE[];
// The product's entry in the list of installed programs, under
// HKEY_LOCAL_MACHINE.
extern const char UNINSTALL_KEY[];
// The product's own files in the install directory, in order of comparison.
extern const char* const PROGRAM_FILES[];
extern const unsigned PROGRAM_FILE_COUNT;
// Appended to a folder path to list all of its entries.
extern const char ALL_FILES_PATTERN[];
// Put between a folder path and an entry name.
extern const char PATH_SEPARATOR[];
// Appended to the user's desktop folder.
extern const char DESKTOP_SHORTCUT[];
// Appended to the user's Start-menu programs folder.
extern const char PROGRAM_GROUP[];
// File name of the temporary copy; appended to the temp folder path, which
// already ends with a separator.
extern const char TEMP_COPY_NAME[];
// Named event: the cleanup role reports that it runs.
extern const char START_EVENT_NAME[];
// Named mutex: owned by the uninstall role until its process ends.
extern const char EXIT_MUTEX_NAME[];
// Bound of each of the two waits of the hand-off.
const DWORD HANDOFF_WAIT_MS = 2000;
// Local-server registration of the Internet Explorer application class, as
// the machine has it, under HKEY_LOCAL_MACHINE; its default value is the
// browser's command. Not HKEY_CLASSES_ROOT: that view lays the user's own
// classes, which any program the user runs may write, over the machine's,
// and this program runs elevated.
extern const char BROWSER_SERVER_KEY[];
// The page that asks why the product was removed, on the product's site; the
// host is set when the program is built.
#ifndef QUILLMERE_FEEDBACK_HOST
#define QUILLMERE_FEEDBACK_HOST "www.quillmere.com"
#endif
#define QUILLMERE_FEEDBACK_URL "http://" QUILLMERE_FEEDBACK_HOST "/whyuninstall.htm"
extern const char FEEDBACK_URL[sizeof(QUILLMERE_FEEDBACK_URL)];
