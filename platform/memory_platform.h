// MemoryPlatformOps: a small, faithful model of the part of Windows the
// uninstaller uses, on which the program's logic runs in the native tests.
//
// It is a model, not a call recorder: files and folders on drive-letter paths
// with ASCII-case-insensitive names, registry keys with typed raw values,
// special folders, named events and mutexes, processes, modal dialogs. Calls
// fail as Windows' do, with Windows' error codes.
//
// Processes: every model process runs on a thread of its own, but only one
// runs at a time (a baton passes between them), so a run is deterministic.
// The baton passes only when the running process ends or waits on an object
// that is not signalled. When no process can run, the model's clock jumps to
// the earliest timeout. The test's own thread is the "shell" process (id 1,
// current directory "C:\"), which is what calls made straight from a test run
// as.
//
// The functions in namespace mem seed the machine, drive processes and read
// the state back; they are not modelled operations and never fail.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/platform.h"

extern const PlatformOps MemoryPlatformOps;

namespace mem {

// --- The machine --------------------------------------------------------------

// An empty machine: drive C: with nothing on it but the system folder
// (C:\Windows\System32, empty), an empty registry with the four predefined
// roots, no special folders, no temp path, no programs, no dialog templates,
// clock at 0, only the shell process, no failures armed. Points g_platform
// at the failure-injection layer (platform/fault_injection.h) over
// MemoryPlatformOps.
void Reset();

// What the model does with a fault that Windows would show as a hang or that
// it cannot answer faithfully (a deadlock, a dialog left open by the script,
// a bad seeding call): it hands a message with the dump to this reporter. The
// unit tests' support code sets one that fails the running test; without one
// the message is printed and the program aborts. Reset keeps it.
void SetFailureReporter(std::function<void(const std::string&)> reporter);

// --- Seeding: files and folders --------------------------------------------------

// Creates the folder and any missing parents.
void AddFolder(const std::string& path);
// Creates or replaces a file (with its parents) holding these bytes. A name
// made with the wide calls may hold the fullwidth forms U+FF01 to U+FF5E,
// given as their UTF-8 bytes: FindFirstFileA gives each back as the ASCII
// character it best fits, as Windows does ("\xEF\xBC\xBC" as "\\").
void AddFile(const std::string& path, const std::string& content = std::string());
void SetReadOnly(const std::string& path, bool readOnly = true);
// Another program holds the file open for reading, sharing reading and
// writing but not deletion: DeleteFileA fails with ERROR_SHARING_VIOLATION,
// while CopyFileA may overwrite it.
void SetInUse(const std::string& path, bool inUse = true);

// --- Seeding: registry ------------------------------------------------------------
//
// HKEY_CLASSES_ROOT holds nothing of its own: it is the user's
// HKCU\Software\Classes laid over the machine's HKLM\SOFTWARE\Classes, a
// key of the user's hiding the machine's of the same name, in every process,
// elevated or not, as Windows gives it. Seeding under it writes where Windows
// would: into the user's key if that exists, else the machine's.

// Creates the key and any missing parents.
void AddKey(HKEY root, const std::string& subKey);
// Stores a value's raw bytes under its type (creating the key). The name ""
// is the default value. A string value need not end with a zero.
void SetValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
              const std::string& bytes);
// A REG_SZ value holding text and its terminating zero.
void SetStringValue(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& text);
// The current user may read the key but not change or delete it: opening it
// for more than KEY_READ and deleting it fail with ERROR_ACCESS_DENIED.
void ProtectKey(HKEY root, const std::string& subKey);

// --- Seeding: system folders ----------------------------------------------------

// The folder SHGetSpecialFolderPathA gives for csidl (no trailing separator).
// As on Windows the call verifies the folder: it fails while the folder does
// not exist, unless asked to create it. This does not create it. A path
// Windows never gives (relative, or with a trailing separator) is a seeding
// fault.
void SetSpecialFolder(int csidl, const std::string& path);
// A broken shell-folder setting: SHGetSpecialFolderPathA gives path as the
// user stored it, relative or not, for the tests that show the program
// refuses such a folder. Nothing else seeds a path Windows would not give.
void SetBrokenSpecialFolder(int csidl, const std::string& path);
// SHGetSpecialFolderPathA fails for csidl.
void FailSpecialFolder(int csidl);
// What GetTempPathA gives: a full path with its trailing separator (anything
// else is a seeding fault); "" makes it fail.
void SetTempPath(const std::string& path);
// The ANSI code page the calls take and give paths in: 1252 (Reset's, no
// double-byte characters) or 932, Shift-JIS, whose lead bytes are 0x81 to
// 0x9F and 0xE0 to 0xFC: IsDBCSLeadByte answers so, and a trail byte of the
// value of "\" is no separator in a path. Names are seeded as that code
// page's bytes (the fullwidth forms still best-fit as in 1252).
void SetAnsiCodePage(unsigned codePage);
// The system folder GetSystemDirectoryA gives (no trailing separator), made
// if missing; a program started by bare name is looked for there and in its
// parent, the Windows folder. Reset makes it "C:\Windows\System32".
void SetSystemFolder(const std::string& path);
// Makes link a folder that is a symbolic link (or junction) to the existing
// folder target: paths through it lead into target, listing and deleting
// included; GetFileAttributesA on it shows FILE_ATTRIBUTE_DIRECTORY |
// FILE_ATTRIBUTE_REPARSE_POINT; RemoveDirectoryA removes the link itself,
// never the target, whatever the target holds.
void AddFolderLink(const std::string& link, const std::string& target);
// Makes link a symbolic link to the existing file target: CopyFileA onto it
// writes into target; DeleteFileA removes the link alone; GetFileAttributesA
// on it shows FILE_ATTRIBUTE_REPARSE_POINT.
void AddFileLink(const std::string& link, const std::string& target);
// Makes link a hard link to the existing file target: a second name of the
// same file, whose bytes, read-only bit and the programs holding it open
// both names share. Nothing tells it from a file of its own (no reparse
// point). CopyFileA onto it and SetFileAttributesA on it change target;
// DeleteFileA removes the name alone, and is refused as target's delete
// would be (read-only, held open). Seed no other change through it.
void AddHardLink(const std::string& link, const std::string& target);

// --- Programs and processes ---------------------------------------------------

// What a started image runs: called on the new process's thread with
// g_platform pointing at the model (through the failure-injection layer);
// its result is the exit code.
typedef std::function<int()> ProgramMain;
// Any file whose bytes equal imageContent runs main when it is started
// (CreateProcessA, WinExec, StartProcess). A file with other bytes that is
// started runs as a program that does nothing and exits with 0.
void RegisterProgram(const std::string& imageContent, ProgramMain main);

// Makes the shell look like a program started from this image: its image
// file (if it exists) is then in use as a running image, and
// GetModuleFileNameA and GetCommandLineA answer with these; the current
// directory must exist. For tests that call a role's function straight from
// the test thread. Until then the shell's image is "C:\Windows\explorer.exe"
// (no such file), its command line that path.
void SetShellProcess(const std::string& imagePath, const std::string& commandLine,
                     const std::string& currentDirectory);

// Starts a process as the user would (from the shell): the image at
// imagePath with this command line and current directory. Returns its id.
// It runs once the shell waits (RunUntilAllEnded, WaitForSingleObject);
// processes that have not run by the next Reset never do.
DWORD StartProcess(const std::string& imagePath, const std::string& commandLine,
                   const std::string& currentDirectory);
// The shell waits until every other process has ended; the clock runs as the
// processes' waits need it to.
void RunUntilAllEnded();
// From now on the image file of a process that ends stays locked this long
// after its end (its mutexes already abandoned), as Windows may hold it while
// it tears the process down or a scanner looks at it: DeleteFileA on it fails
// with ERROR_ACCESS_DENIED until then. Reset makes it 0.
void LockImagesAfterEnd(DWORD milliseconds);
// Ends the shell "process" as far as the machine can tell: closes all its
// handles (abandoning the mutexes it owns), lets go of its image file and
// of its current directory (back to "C:\"), as the end of a process would;
// the shell then keeps running with no handles. For tests that call a role's
// function straight from the test thread and then need the end of that role.
void EndShellProcess();
// Sets the calling process's last error, as SetLastError would: a test
// stamps it before a call to tell the error the call set from one left by
// an earlier call.
void SetLastError(DWORD error);

// --- Dialogs -------------------------------------------------------------------

enum ControlKind { PUSH_BUTTON, DEFAULT_PUSH_BUTTON, STATIC_TEXT, STATIC_ICON };
struct Control {
    int id;
    ControlKind kind;
    std::string text;  // "&Yes": Alt+Y presses it
    bool tabStop;
};
// The dialog resource resourceId of every program: its controls in template
// order (which is also the tab order).
void AddDialogTemplate(int resourceId, const std::vector<Control>& controls);

enum ActionKind {
    PRESS_ENTER,   // WM_COMMAND with the focused push button's id, else the default button's
    PRESS_ESCAPE,  // WM_COMMAND IDCANCEL
    CLOSE_BOX,     // the close box: WM_COMMAND IDCANCEL
    PRESS_TAB,     // focus to the next tab stop
    CLICK,         // WM_COMMAND (id, BN_CLICKED) for the button controlId
    ALT_KEY,       // Alt+letter: presses the button whose text has &letter
};
struct UserAction {
    ActionKind kind;
    int controlId;  // CLICK
    char letter;    // ALT_KEY
};
// The user's answers: each dialog shown (in any process) takes the next
// list, delivers WM_INITDIALOG, then the actions one by one as the dialog
// manager would, until the procedure calls EndDialog. A dialog that runs out
// of actions without ending is a hang: the test fails with the model's dump.
void ScriptDialogs(const std::vector<std::vector<UserAction>>& answers);

struct DialogRecord {
    DWORD processId;
    int resourceId;
    INT_PTR result;  // the EndDialog value, or the failure value
};
std::vector<DialogRecord> DialogsShown();

// --- Failure injection ---------------------------------------------------------

// The occurrence-th call (1 = the next one) of the named operation (the slot
// name, e.g. "DeleteFileA") from now on fails without effect, as Windows
// reports that failure, with this error code: the layer over the model
// fails it without calling the model, which logs it as injected.
void FailCall(const std::string& operation, DWORD error, int occurrence = 1);
// The names FailCall takes: every slot of PlatformOps, in its order.
std::vector<std::string> OperationNames();

// --- Reading the state back -------------------------------------------------

// The last error of the calling process (the shell from a test).
DWORD LastError();

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::string FileContent(const std::string& path);
// A file whose deletion waits for its last handle or running image to go:
// still listed, but no longer to be opened or overwritten.
bool DeletePending(const std::string& path);
bool KeyExists(HKEY root, const std::string& subKey);
bool ValueExists(HKEY root, const std::string& subKey, const std::string& name);

struct ProcessRecord {
    DWORD id;
    DWORD parentId;
    std::string imagePath;
    std::string commandLine;
    std::string currentDirectory;
    bool startedByWinExec;
    bool ended;
    DWORD exitCode;
    bool restrictedDllSearchFirst;  // its first call restricted the DLL search
};
std::vector<ProcessRecord> Processes();

// Handles open in all processes, and in one.
unsigned OpenHandleCount();
unsigned OpenHandleCount(DWORD processId);
bool NamedObjectExists(const std::string& name);

// One modelled call, in the order made.
struct CallRecord {
    DWORD processId;
    std::string operation;          // the slot's name
    std::vector<std::string> args;  // as the model shows them: strings quoted,
                                    // flags and handles in hex; an injected
                                    // call's are every parameter, in order
    std::string result;             // e.g. "TRUE", "FALSE (error 5)", "0x104 \"a.txt\""
    bool injected;                  // failed by FailCall, never reaching the model
};
// Every modelled call in order (the dump also shows the dialog manager's
// messages and blocked waits among them).
std::vector<CallRecord> CallLog();

// What changed the machine, in order: the path of a file or folder
// ("C:\Dir\file.txt"), or a key with its root ("HKLM\SOFTWARE\...").
enum ChangeKind {
    FILE_DELETED,
    FOLDER_REMOVED,
    KEY_DELETED,
    FILE_WRITTEN,
    FOLDER_CREATED,
    ATTRIBUTES_SET,  // the read-only bit of a file or folder set or cleared
};
struct ChangeRecord {
    DWORD processId;
    ChangeKind kind;
    std::string path;
};
std::vector<ChangeRecord> Changes();

// Every command line given to WinExec, whether a program was found for it
// or not (injected failures aside).
struct WinExecRecord {
    DWORD processId;
    std::string commandLine;
    UINT showCommand;
};
std::vector<WinExecRecord> WinExecCommands();

// The records as text, for messages: "2 DeleteFileA("C:\a.txt") -> TRUE",
// "1 FileDeleted C:\a.txt", "2 WinExec "cmd"".
std::string Text(const CallRecord& call);
std::string Text(const ChangeRecord& change);
std::string Text(const WinExecRecord& command);
bool operator==(const CallRecord& a, const CallRecord& b);
bool operator==(const ChangeRecord& a, const ChangeRecord& b);
bool operator==(const WinExecRecord& a, const WinExecRecord& b);
// For test frameworks that print what they compare.
std::ostream& operator<<(std::ostream& out, const CallRecord& call);
std::ostream& operator<<(std::ostream& out, const ChangeRecord& change);
std::ostream& operator<<(std::ostream& out, const WinExecRecord& command);

// The clock, in milliseconds since Reset.
DWORD Now();

// The whole state, for failure messages.
std::string Dump();

}  // namespace mem
