// The inside of the in-memory model of Windows (see memory_platform.h),
// shared by its rooms: the machine's state (files, registry, kernel objects,
// processes, dialogs), its one lock, the record every modelled call keeps,
// and the functions one room offers the others.
//
// One machine, guarded by one mutex. Model processes run on threads of their
// own, but only the process holding the baton (Machine::running) ever runs;
// every other process thread sleeps on the condition variable until the
// baton comes to it. So the model's state is only ever touched by one thread
// at a time, and a run is the same every time.
//
// Where the model differs from Windows on purpose, the comment says so.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory_platform.h"

namespace memory_model {

// --- Windows values the program itself never needs ---------------------------

const DWORD kErrorBadNetPath = 53;
const DWORD kErrorModNotFound = 126;
const DWORD kErrorBadPathname = 161;
const DWORD kErrorEnvVarNotFound = 203;
const DWORD kErrorKeyDeleted = 1018;
const DWORD kErrorPossibleDeadlock = 1131;
const DWORD kErrorInvalidWindowHandle = 1400;
const DWORD kErrorResourceTypeNotFound = 1813;
const DWORD kErrorResourceNameNotFound = 1814;

const DWORD kDeleteAccess = 0x00010000;  // DELETE
const DWORD kGenericAll = 0x10000000;
const DWORD kGenericExecute = 0x20000000;
const DWORD kFileReadData = 0x0001;
const DWORD kFileWriteData = 0x0002;
const DWORD kFileAppendData = 0x0004;
const DWORD kFileExecute = 0x0020;
const DWORD kMaximumAllowed = 0x02000000;
const DWORD kKeyWow64Flags = 0x0300;
const DWORD kStillActive = 259;
const UINT kScClose = 0xF060;
const int kCsidlFlagCreate = 0x8000;

// Sharing bits: the access a handle holds, in the same bits as the share
// mode that would allow it.
const DWORD kR = FILE_SHARE_READ;
const DWORD kW = FILE_SHARE_WRITE;
const DWORD kD = FILE_SHARE_DELETE;

// --- Names ---------------------------------------------------------------------

char UpperChar(char c);
std::string Upper(const std::string& s);
bool SameName(const std::string& a, const std::string& b);
// Text for the call log and the dump.
std::string Quote(const char* text);
std::string Hex(uintptr_t value);
std::string Number(long long value);
// Bytes as text with everything unprintable escaped, for the dump.
std::string Escape(const std::string& bytes);

// --- The machine -----------------------------------------------------------------

struct Node;
typedef std::shared_ptr<Node> NodePtr;
struct KObject;

// A file or folder. Children are keyed by their upper-case name, so a
// folder's entries come out sorted case-insensitively.
struct Node {
    std::string name;  // as created; a drive's root is "C:"
    bool dir = false;
    bool readOnly = false;
    std::string content;
    bool inUseElsewhere = false;   // mem::SetInUse
    int imageRefs = 0;             // processes running it
    bool deletePending = false;
    // Until this time on the clock the file of an ended process's image
    // stays locked (mem::LockImagesAfterEnd).
    uint64_t lockedUntil = 0;
    // A symbolic link or a junction: paths through a folder link lead into
    // this folder, which holds its children; a file link leads to this file.
    NodePtr linkTarget;
    // A file link that is a hard link: a second name of linkTarget's file,
    // whose bytes, attributes and open handles it shares (FileOf).
    bool hardLink = false;
    Node* parent = nullptr;
    std::map<std::string, NodePtr> children;
    std::vector<KObject*> opens;   // file handles open on it
};

struct RegValue {
    std::string name;
    DWORD type = REG_NONE;
    std::string bytes;
};

struct RegKey;
typedef std::shared_ptr<RegKey> KeyPtr;
struct RegKey {
    std::string name;  // a root's is "HKLM" etc.
    RegKey* parent = nullptr;
    std::map<std::string, KeyPtr> subkeys;
    std::map<std::string, RegValue> values;  // "" is the default value
    bool isProtected = false;
    bool deleted = false;
};

struct Process;

enum ObjectKind { OBJ_EVENT, OBJ_MUTEX, OBJ_PROCESS, OBJ_THREAD, OBJ_FILE, OBJ_FIND, OBJ_KEY };

// What a handle refers to. A named event or mutex may be shared by several
// handles (the same name opened again); every other object has one handle.
struct KObject {
    ObjectKind kind = OBJ_EVENT;
    std::string name;
    int handles = 0;
    // event
    bool manualReset = false;
    bool signalled = false;
    // mutex
    Process* owner = nullptr;
    int recursion = 0;
    bool abandoned = false;
    // process, thread
    Process* process = nullptr;
    // file
    NodePtr file;
    DWORD access = 0;  // kR | kW | kD
    DWORD share = 0;
    bool deleteOnClose = false;
    // search
    std::vector<WIN32_FIND_DATAA> found;
    size_t next = 0;
    // key
    KeyPtr key;
    REGSAM keyAccess = 0;
};
typedef std::shared_ptr<KObject> ObjectPtr;

// A resolved path: a drive and the names below its root, "." and ".."
// already applied.
struct Path {
    char drive = 'C';
    std::vector<std::string> parts;
    bool trailingSeparator = false;
};

std::string PathText(const Path& path);

enum ProcessState { READY, RUNNING, BLOCKED, ENDED };
enum WaitKind { WAIT_NOTHING, WAIT_FOR_OBJECT, WAIT_FOR_ALL_ENDED };

struct Process {
    DWORD id = 0;
    DWORD parentId = 0;
    std::string imagePath;
    NodePtr image;  // held as a running image while the process lives
    std::string commandLine;
    std::string commandBuffer;  // what GetCommandLineA hands out
    Path currentDirectory;
    bool startedByWinExec = false;
    ProcessState state = READY;
    DWORD exitCode = kStillActive;
    bool restrictedDllSearchFirst = false;
    unsigned calls = 0;
    DWORD lastError = 0;
    HINSTANCE instance = nullptr;
    std::map<uintptr_t, ObjectPtr> handles;
    // The access granted to handles opened by name with less than full access.
    std::map<uintptr_t, DWORD> handleAccess;
    // waiting
    WaitKind waitKind = WAIT_NOTHING;
    ObjectPtr waitObject;
    bool hasDeadline = false;
    uint64_t deadline = 0;
    bool wokenByDeadlock = false;
    // the thread (none for the shell)
    bool killed = false;
    std::thread thread;
    mem::ProgramMain main;
    // The shell never ends: mem::EndShellProcess closes its handles and lets
    // go of its image and current directory, and it runs on.
};

struct Dialog {
    HWND hwnd = nullptr;
    Process* process = nullptr;
    int resourceId = 0;
    std::vector<mem::Control> controls;
    std::vector<HWND> controlWindows;
    int focus = -1;
    bool ended = false;
    INT_PTR result = 0;
};

struct Machine {
    std::map<char, NodePtr> drives;
    KeyPtr roots[4];
    std::map<int, std::string> specialFolders;
    std::map<int, bool> failedSpecialFolders;
    std::string tempPath;
    std::string systemFolder;
    // The ANSI code page: 1252 (no lead bytes) or 932 (mem::SetAnsiCodePage).
    unsigned codePage = 1252;
    std::vector<std::pair<std::string, mem::ProgramMain>> programs;
    std::map<std::string, ObjectPtr> named;
    std::vector<std::unique_ptr<Process>> processes;  // by id - 1
    Process* running = nullptr;
    uint64_t clock = 0;
    // How long an ended process's image file stays locked.
    uint64_t imageLockAfterEnd = 0;
    uintptr_t nextHandle = 0x100;
    uintptr_t nextWindow = 0x10010;
    std::map<int, std::vector<mem::Control>> templates;
    std::deque<std::vector<mem::UserAction>> script;
    std::vector<mem::DialogRecord> dialogRecords;
    std::vector<std::shared_ptr<Dialog>> openDialogs;
    std::vector<mem::CallRecord> callLog;
    // The calls and what happened between them (dialog keys, blocked
    // waits), for the dump.
    std::vector<std::string> timeline;
    std::vector<mem::ChangeRecord> changes;
    std::vector<mem::WinExecRecord> winExecCommands;
};

// The machine's one lock, the baton handed between process threads, the
// machine and the failure reporter. Never destroyed: process threads that
// could not be ended (blocked for good in a deadlock the test moved past)
// keep waiting on them until the program exits.
std::mutex& Mutex();
std::condition_variable& Baton();
Machine& M();
std::function<void(const std::string&)>& Reporter();
typedef std::unique_lock<std::mutex> Lock;

// The model process whose thread this is; null on the test's own thread.
extern thread_local Process* t_self;

Process* Shell();
// The process a call comes from: a model process's own thread, else the test
// thread, which is the shell.
Process* Self();

std::string DumpLocked();
// A fault of the test or of the program that Windows would show as a hang
// or that the model cannot answer faithfully: the test must fail.
void ReportLocked(const std::string& message);

// --- Calls ---------------------------------------------------------------------

// One modelled call: holds the machine's lock, knows the calling process,
// and writes the call log line. (Failures are injected by a layer over the
// model, platform/fault_injection.h; a call it fails never gets here.)
struct Call {
    std::unique_lock<std::mutex> lock;
    Process* me;
    const char* operation;
    std::vector<std::string> args;

    Call(const char* op, std::vector<std::string> arguments);
    void Log(const std::string& result);

    // Fails with a Windows error code as the last error.
    void Error(DWORD error) { me->lastError = error; }

    // Ends a call that reports success as a BOOL: sets the last error on
    // failure and logs the result.
    BOOL Finish(BOOL ok, DWORD error);
};

std::string BoolResult(BOOL result, const Process* p);
// Notes what changed the machine, for mem::Changes.
void Change(DWORD pid, mem::ChangeKind kind, const std::string& path);
// Arguments as the call log shows them: "a, b, c".
std::string Joined(const std::vector<std::string>& args);

// --- The baton (machine.cpp) -------------------------------------------------------

bool WaitSatisfied(const Process* p);
// Gives the baton away (the caller has blocked or ended).
void PassBaton();
void BlockUntilWoken(std::unique_lock<std::mutex>& lock, Process* me);
void ProcessThread(Process* p);
void ResetLocked();

// --- Paths and nodes (paths.cpp) --------------------------------------------------

// A lead byte of a double-byte character in the machine's ANSI code page.
bool LeadByte(unsigned char byte);

std::string NodeText(const Node* node);
// How a path is taken: by a modelled call, or exactly as a test wrote it
// (seeding and reading back: no length limit, names kept whole, so a test
// can lay names Windows' calls could not make).
enum PathUse { CALL_PATH, CALL_PATTERN, TEST_PATH };

DWORD ResolvePath(const char* text, const Process* process, Path& out, PathUse use = CALL_PATH);
Node* Child(Node* folder, const std::string& name);
NodePtr ChildPtr(Node* folder, const std::string& name);
// The folder a path through node leads into: node itself, or the target of
// a link, or nullptr when the target is gone.
Node* Through(Node* node);
// The file a name stands for: the node itself, or for a hard link the file
// it is a second name of.
Node* FileOf(Node* node);
const Node* FileOf(const Node* node);
// The attributes GetFileAttributesA and a listing show for a node.
DWORD Attributes(const Node* node);
// The folder holding the path's last name (the root for a root path),
// through links on the way.
DWORD FindParent(const Path& path, Node*& parent);
// The node the path names: ERROR_PATH_NOT_FOUND when a folder on the way is
// missing, ERROR_FILE_NOT_FOUND when only the last name is.
DWORD Lookup(const Path& path, NodePtr& found);
DWORD LookupText(const char* text, const Process* process, NodePtr& found, Path* resolved = nullptr,
                 PathUse use = CALL_PATH);
// Looks up a path that must name a folder: ERROR_DIRECTORY for a file.
DWORD LookupFolder(const char* path, const Process* process, NodePtr& folder, Path& resolved);
// Creates the folders of the path that are missing; returns the last.
Node* MakeFolders(const Path& path, DWORD changedBy, bool logChanges);
DWORD AccessBits(DWORD access);
bool SharingAllows(const Node* node, DWORD access, DWORD share);
void RemoveNode(Node* node);
// A delete-pending file goes when nothing holds it any more.
void FinishPendingDelete(Node* node, DWORD changedBy);

// --- Kernel objects and handles (objects.cpp) ----------------------------------------

HANDLE NewHandle(Process* process, const ObjectPtr& object);
ObjectPtr HandleObject(const Process* process, const void* handle);
void CloseHandleOf(Process* process, uintptr_t value);
bool Signalled(const KObject* object, const Process* waiter);
DWORD Acquire(KObject* object, Process* waiter);
// Closes every handle of the process, abandoning the mutexes it owns.
void CloseAllHandles(Process* process);
// The object behind one of the calling process's handles, if it is of this
// kind; else the call has failed and is logged.
ObjectPtr OwnHandleOfKind(Call& c, HANDLE handle, ObjectKind kind);

// --- Processes (processes.cpp) -----------------------------------------------------

void ReleaseImage(Process* process);
void EndProcess(Process* process, DWORD exitCode);
// Checks that the loader may map the image.
DWORD CheckImage(const Node* node);
HINSTANCE InstanceOf(DWORD id);
Process* NewProcess(const Process* parent, const Path& image, const NodePtr& node,
                    const std::string& commandLine, const Path& currentDirectory, bool byWinExec);

// --- Registry (registry.cpp) -------------------------------------------------------

bool IsRoot(HKEY key, int& index);
std::string KeyText(const RegKey* key);
// A key handle as the call log shows it: a predefined root by its name
// ("HKCU"), any other in hex.
std::string RootText(HKEY key);
// Follows a subkey path ("A\B\C", a trailing "\" allowed) below a key.
LONG FindSubKey(const KeyPtr& base, const char* subKey, KeyPtr& found);
// HKEY_CLASSES_ROOT\subKey: the user's class key if there is one, else the
// machine's.
LONG FindClassesKey(const char* subKey, KeyPtr& found);
// The key subKey names below a predefined root, HKEY_CLASSES_ROOT as its view.
LONG FindKey(HKEY root, const char* subKey, KeyPtr& found);
// Creates the key and its missing parents below a predefined root (under
// HKEY_CLASSES_ROOT where Windows would write it).
KeyPtr MakeKey(HKEY root, const std::string& subKey);

// --- The operations, one per slot of PlatformOps -------------------------------------

// The model's function for each slot: the slot's name with a "_" after it.
#define MODEL_DECLARE_SLOT(Result, Name, Params, Args) Result WINAPI Name##_ Params;
PLATFORM_SLOTS(MODEL_DECLARE_SLOT)
#undef MODEL_DECLARE_SLOT

}  // namespace memory_model
