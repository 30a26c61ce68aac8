// The product's facts as the tests expect them: the keys and values it reads
// and removes, the files and names it handles, the hand-off's named objects
// and bound, the feedback page, the dialogs' texts. Written here by hand, once
// for all C++ tests, and never taken from the program's own app/constants.h:
// a name the program gets wrong must fail the tests, not move their
// expectations along with it. (The Python side states the same facts in
// tools/product_facts.py.)
#pragma once

namespace facts {

// ---- registry ----------------------------------------------------------------

// HKEY_CURRENT_USER: the product's settings; the uninstaller only reads them.
const char kSettingsKey[] = "Software\\Korrindal\\Quillmere";
// REG_SZ in kSettingsKey: the install directory.
const char kProgramPathValue[] = "Program Path";
// HKEY_LOCAL_MACHINE: the list of installed programs, and the product's entry
// in it, which the uninstaller deletes.
const char kUninstallParent[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere";
const char kDisplayName[] = "Quillmere";
// HKEY_CLASSES_ROOT: the browser's local-server registration; its default
// value is the command that starts the browser.
const char kBrowserKey[] = "CLSID\\{0002DF01-0000-0000-C000-000000000046}\\LocalServer32";

// ---- files -------------------------------------------------------------------

// The product's own files in the install directory, the only ones the sweep
// of that folder deletes.
const char* const kProductFiles[] = {"Quillmere.exe", "Quillmere.hlp", "Quillmere.cnt",
                                     "Quillmere.gid", "Quillmere.fts", "Quillmere.ftg",
                                     "Buy Online Now!.url"};
const unsigned kProductFileCount = sizeof kProductFiles / sizeof kProductFiles[0];
const char kUninstallerName[] = "Uninstall.exe";
// In the user's desktop folder.
const char kDesktopShortcut[] = "Quillmere.lnk";
// In the user's Start-menu Programs folder.
const char kProgramGroup[] = "Quillmere";
// The temporary copy, in the temp folder.
const char kTempCopyName[] = "suicide.exe";

// ---- the hand-off ------------------------------------------------------------

// Set by the copy once it runs.
const char kStartEventName[] = "SP start self delete";
// Owned by the uninstaller until its process ends.
const char kExitMutexName[] = "SP self delete mutex";
// The bound of each of the hand-off's two waits, in milliseconds.
const unsigned kHandoffWaitMs = 2000;

// ---- the feedback page -------------------------------------------------------

// The host is chosen when the program is built (QUILLMERE_FEEDBACK_HOST, given
// to the tests by the same build); the rest of the address is fixed.
#define FACTS_FEEDBACK_URL(host) "http://" host "/whyuninstall.htm"
const char kFeedbackUrl[] = FACTS_FEEDBACK_URL(QUILLMERE_FEEDBACK_HOST);
#undef FACTS_FEEDBACK_URL

// ---- the dialogs' texts ------------------------------------------------------

const char kConfirmCaption[] = "Confirm removing of Quillmere";
const char kConfirmQuestion[] =
    "Are you sure you want to completely remove Quillmere and all of its components?";
const char kCompletedCaption[] = "Uninstall Completed";
const char kCompletedNotice[] = "Quillmere has been successfully removed from your system!";
const char kUnfinishedNotice[] = "Quillmere could not be removed completely. Close it and try again.";
const char kCompletedQuestion[] = "Would you like to tell us why did you uninstall Quillmere?";

}  // namespace facts
