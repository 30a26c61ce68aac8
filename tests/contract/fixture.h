// The contract suite's fixture: what the cases need from the machine they run
// on, besides the seam itself.
//
// The contract cases are written once against PlatformOps (g_platform) and
// run twice: natively on the in-memory model (model_side.cpp, seeding with the
// mem:: calls) and as a Windows program on the real calls under Wine
// (wine_side.cpp, seeding with real files, folders and keys in a scratch
// folder and key of its own). Every path a case uses is relative to the
// fixture's root folder, every key relative to its scratch key, so the same
// case runs on both. The seeding and reading-back calls here are not the seam
// under test: on Wine they are the real Win32 calls, made directly.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace contract {

// --- The two sides ------------------------------------------------------------

// True when the cases run on the model. Only cases that Wine itself gets
// wrong look at it, and each says why (with the Windows documentation).
bool OnModel();

// Makes a fresh empty root folder and scratch key and points g_platform at
// the implementation under test; the process's current directory is left
// outside the root. Called by every case's SetUp.
void SetUpMachine();
// Removes what SetUpMachine made, whatever the case left there.
void TearDownMachine();

// The root folder as a full path with its trailing separator, e.g.
// "C:\contract\".
std::string Root();
// Root() + relative.
std::string At(const std::string& relative);
// The last error of the calling thread (mem::LastError on the model).
DWORD LastError();

// The seam under test, for every call a case makes: g_platform, with the
// calling thread's last error first set to kStaleError, which no call sets.
// A call that fails without setting an error then shows the stamp, never
// the error an earlier call left. Read the error with LastError(), not
// through W(), which would stamp it away.
const PlatformOps& W();
const DWORD kStaleError = 0xdeadbeef;
// Sets the calling thread's last error to kStaleError (mem::SetLastError on
// the model).
void StampLastError();

// --- Seeding and reading back: files and folders ---------------------------------

// A folder (and its parents) under the root.
void SeedFolder(const std::string& relative);
// A file (and its folders) under the root holding these bytes.
void SeedFile(const std::string& relative, const std::string& content = std::string());
void SeedReadOnly(const std::string& relative, bool readOnly = true);
// A link named relative to the folder target (both under the root): a folder
// symbolic link on the model (mem::AddFolderLink), a Unix symbolic link under
// Wine, which Wine shows as a folder with a reparse point.
void SeedFolderLink(const std::string& relative, const std::string& target);

enum Kind { NOTHING, FILE, FOLDER };
Kind Exists(const std::string& relative);
std::string Content(const std::string& relative);

// --- Seeding and reading back: registry ---------------------------------------------

// The scratch key: every case's keys live below ScratchRoot()\ScratchKey().
HKEY ScratchRoot();
std::string ScratchKey();
// ScratchKey() + "\" + relative; ScratchKey() for "".
std::string KeyAt(const std::string& relative);
void SeedKey(const std::string& relative);
// A value's raw bytes under its type; a string need not end with a zero.
void SeedValue(const std::string& relative, const std::string& name, DWORD type,
               const std::string& bytes);
bool KeyExists(const std::string& relative);

// --- System folders --------------------------------------------------------------

// What the machine gives as the temp path and the desktop: on the model the
// fixture seeds a Windows-like machine (paths under C:\Users\Contract); under
// Wine they are the prefix's.
void SeedSystemFolders();

// --- The child program ---------------------------------------------------------------

// A file under the root that, started, runs ChildMain (child.cpp): on the
// model a file whose bytes are registered as that program, under Wine a copy
// of the suite's own executable (which takes the child's part when started
// by the fixture). Returns its full path.
std::string SeedChildImage(const std::string& relative);
// The same image named name in any folder of the machine (a full path, e.g.
// the system folder), removed again after the case. Returns its full path.
std::string SeedChildImageIn(const std::string& folder, const std::string& name);

// What the last child wrote on starting: its command line as it got it, its
// current directory (a full path, no trailing separator but at a root) and
// the image it runs from (GetModuleFileNameA).
struct ChildReport {
    std::string commandLine;
    std::string currentDirectory;
    std::string imagePath;
};
ChildReport LastChildReport();
// For ChildMain: writes the report (under Wine with the real calls).
void WriteChildReport(const char* commandLine, const char* imagePath);

// The child's part: its actions are words of its command line
// (case_helpers.cpp).
int ChildMain();

// --- Failure injection --------------------------------------------------------------

// The occurrence-th call (1 = the next one) of the named slot fails with this
// error, without effect: the failure-injection layer (platform/fault_injection.h)
// stands between the cases and the model, or the real calls, on both sides.
void FailCall(const std::string& operation, DWORD error, int occurrence = 1);

// --- Helpers the cases share, all through the seam ------------------------------------

// The names a search lists, in the order it gives them; empty if
// FindFirstFileA fails (its error is then LastError()).
std::vector<std::string> List(const std::string& pattern);
// The same with "." and ".." kept first and the rest sorted without case:
// NTFS gives names in that order, Wine in the host's, and the program must
// not care.
std::vector<std::string> SortedList(const std::string& pattern);
// Starts the child image with this command line (after the quoted image)
// in the current directory given (nullptr: the caller's); returns its
// process handle (its thread handle closed), or nullptr.
HANDLE StartChild(const std::string& image, const std::string& arguments,
                  const char* currentDirectory = nullptr);
// The folder of the caller's own image (GetModuleFileNameA), without its
// trailing separator: where a bare program name is looked for first.
std::string CallerFolder();

// --- The cases' base ---------------------------------------------------------------------

class Case : public ::testing::Test {
protected:
    void SetUp() override { SetUpMachine(); }
    void TearDown() override { TearDownMachine(); }
};

}  // namespace contract
