#include "app/constants.h"

const char SETTINGS_KEY[] = "Software\\Korrindal\\Quillmere";
const char PROGRAM_PATH_VALUE[] = "Program Path";
const char UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere";

const char* const PROGRAM_FILES[] = {
    "Quillmere.exe",  // the product executable
    "Quillmere.hlp",  // its help file
    "Quillmere.cnt",  // the help file's contents,
    "Quillmere.gid",  // index
    "Quillmere.fts",  // and full-text search files
    "Quillmere.ftg",
    "Buy Online Now!.url",  // an internet shortcut
};
const unsigned PROGRAM_FILE_COUNT = sizeof(PROGRAM_FILES) / sizeof(PROGRAM_FILES[0]);

const char ALL_FILES_PATTERN[] = "\\*.*";
const char PATH_SEPARATOR[] = "\\";
const char DESKTOP_SHORTCUT[] = "\\Quillmere.lnk";
const char PROGRAM_GROUP[] = "\\Quillmere";
const char TEMP_COPY_NAME[] = "suicide.exe";
const char START_EVENT_NAME[] = "SP start self delete";
const char EXIT_MUTEX_NAME[] = "SP self delete mutex";
const char BROWSER_SERVER_KEY[] =
    "SOFTWARE\\Classes\\CLSID\\{0002DF01-0000-0000-C000-000000000046}\\LocalServer32";
const char FEEDBACK_URL[sizeof(QUILLMERE_FEEDBACK_URL)] = QUILLMERE_FEEDBACK_URL;
