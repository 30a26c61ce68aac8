// The in-memory model of Windows behind PlatformOps (see memory_platform.h).
//
// One machine, guarded by one mutex. Model processes run on threads of their
// own, but only the process holding the baton (Machine::running) ever runs;
// every other process thread sleeps on the condition variable until the
// baton comes to it. So the model's state is only ever touched by one thread
// at a time, and a run is the same every time.
//
// Where the model differs from Windows on purpose, the comment says so.
#include "platform/memory_platform.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

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

char UpperChar(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Upper(const std::string& s)
{
    std::string u(s);
    for (char& c : u) {
        c = UpperChar(c);
    }
    return u;
}

bool SameName(const std::string& a, const std::string& b)
{
    return Upper(a) == Upper(b);
}

std::string Quote(const char* text)
{
    if (text == nullptr) {
        return "NULL";
    }
    return std::string("\"") + text + "\"";
}

std::string Hex(uintptr_t value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%lx", static_cast<unsigned long>(value));
    return buffer;
}

std::string Number(long long value)
{
    return std::to_string(value);
}

// Bytes as text with everything unprintable escaped, for the dump.
std::string Escape(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '"') {
            out += static_cast<char>(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            out += buffer;
        }
    }
    return out;
}

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

const char* KindName(ObjectKind kind)
{
    switch (kind) {
    case OBJ_EVENT: return "event";
    case OBJ_MUTEX: return "mutex";
    case OBJ_PROCESS: return "process";
    case OBJ_THREAD: return "thread";
    case OBJ_FILE: return "file";
    case OBJ_FIND: return "search";
    case OBJ_KEY: return "key";
    }
    return "?";
}

// What a handle refers to. Events and mutexes may be shared by several
// handles (the same name opened again); everything else has one handle.
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

std::string PathText(const Path& path)
{
    std::string text(1, path.drive);
    text += ":\\";
    for (size_t i = 0; i < path.parts.size(); ++i) {
        if (i != 0) {
            text += "\\";
        }
        text += path.parts[i];
    }
    return text;
}

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
    // ends the shell's image hold etc.
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

struct Injection {
    std::string operation;
    DWORD error;
    int remaining;
};

struct Machine {
    std::map<char, NodePtr> drives;
    KeyPtr roots[4];
    std::map<int, std::string> specialFolders;
    std::map<int, bool> failedSpecialFolders;
    std::string tempPath;
    std::vector<std::pair<std::string, mem::ProgramMain>> programs;
    std::map<std::string, ObjectPtr> named;
    std::vector<std::unique_ptr<Process>> processes;  // by id - 1
    Process* running = nullptr;
    uint64_t clock = 0;
    uintptr_t nextHandle = 0x100;
    uintptr_t nextWindow = 0x10010;
    std::map<int, std::vector<mem::Control>> templates;
    std::deque<std::vector<mem::UserAction>> script;
    std::vector<mem::DialogRecord> dialogRecords;
    std::vector<std::shared_ptr<Dialog>> openDialogs;
    std::vector<Injection> injections;
    std::vector<std::string> callLog;
    // The calls and what happened between them (dialog keys, blocked
    // waits), for the dump.
    std::vector<std::string> timeline;
    std::vector<std::string> changes;
    std::vector<std::string> winExecCommands;
};

// Never destroyed: process threads that could not be ended (blocked for good
// in a deadlock when the test moved on) keep waiting on these until exit.
std::mutex& Mutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::condition_variable& Baton()
{
    static std::condition_variable* cv = new std::condition_variable;
    return *cv;
}
Machine& M()
{
    static Machine* machine = new Machine;
    return *machine;
}
std::function<void(const std::string&)>& Reporter()
{
    static std::function<void(const std::string&)>* reporter =
        new std::function<void(const std::string&)>();
    return *reporter;
}

thread_local Process* t_self = nullptr;

Process* Shell()
{
    return M().processes.front().get();
}

// The process a call comes from: a model process's own thread, else the test
// thread, which is the shell.
Process* Self()
{
    return t_self != nullptr ? t_self : Shell();
}

std::string DumpLocked();

// A fault of the test or of the program that Windows would show as a hang
// or that the model cannot answer faithfully: the test must fail.
void ReportLocked(const std::string& message)
{
    std::string text = "memory platform: " + message + "\n" + DumpLocked();
    if (Reporter()) {
        Reporter()(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::abort();
    }
}

// --- Calls ---------------------------------------------------------------------

// Every slot of PlatformOps, in its order.
const char* const kOperations[] = {
    "RestrictDllSearchToSystem", "GetCommandLineA", "IsDBCSLeadByte", "GetModuleHandleA",
    "GetModuleFileNameA", "DialogBoxParamA", "EndDialog", "RegOpenKeyExA", "RegOpenKeyA",
    "RegQueryValueExA", "RegCloseKey", "RegDeleteKeyA", "FindFirstFileA", "FindNextFileA",
    "FindClose", "DeleteFileA", "RemoveDirectoryA", "CopyFileA", "CreateFileA", "CloseHandle",
    "SetCurrentDirectoryA", "SHGetSpecialFolderPathA", "GetTempPathA", "lstrcatA", "CreateEventA", "OpenEventA",
    "SetEvent", "CreateMutexA", "OpenMutexA", "WaitForSingleObject", "CreateProcessA",
    "WinExec",
};

// One modelled call: holds the machine's lock, knows the calling process and
// whether an injected failure is due, and writes the call log line.
struct Call {
    std::unique_lock<std::mutex> lock;
    Process* me;
    const char* operation;
    std::string args;
    bool injected = false;
    DWORD injectedError = 0;

    Call(const char* op, const std::string& arguments)
        : lock(Mutex()), me(Self()), operation(op), args(arguments)
    {
        ++me->calls;
        std::vector<Injection>& list = M().injections;
        for (size_t i = 0; i < list.size();) {
            if (list[i].operation == op && --list[i].remaining == 0) {
                if (!injected) {
                    injected = true;
                    injectedError = list[i].error;
                }
                list.erase(list.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        if (injected) {
            me->lastError = injectedError;
        }
    }

    void Log(const std::string& result)
    {
        std::string line = Number(me->id) + " " + operation + "(" + args + ") -> " + result;
        if (injected) {
            line += " [injected error " + Number(injectedError) + "]";
        }
        M().callLog.push_back(line);
        M().timeline.push_back(line);
    }

    // Fails with a Windows error code as the last error.
    void Error(DWORD error) { me->lastError = error; }

    // Ends a call that reports success as a BOOL: sets the last error on
    // failure and logs the result.
    BOOL Finish(BOOL ok, DWORD error);
};

std::string BoolResult(BOOL result, const Process* p)
{
    return result ? "TRUE" : "FALSE (error " + Number(p->lastError) + ")";
}

BOOL Call::Finish(BOOL ok, DWORD error)
{
    if (!ok) {
        Error(error);
    }
    Log(BoolResult(ok, me));
    return ok;
}

void Change(DWORD pid, const std::string& what)
{
    M().changes.push_back(Number(pid) + " " + what);
}

// --- Files and folders --------------------------------------------------------

std::string NodeText(const Node* node)
{
    if (node->parent == nullptr) {
        return node->name + "\\";
    }
    std::vector<const Node*> chain;
    for (const Node* n = node; n != nullptr; n = n->parent) {
        chain.push_back(n);
    }
    std::string text = chain.back()->name;
    for (size_t i = chain.size() - 1; i-- > 0;) {
        text += "\\" + chain[i]->name;
    }
    return text;
}

bool InvalidNameByte(char c, bool wildcardsAllowed)
{
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32) {
        return true;
    }
    if (c == '*' || c == '?') {
        return !wildcardsAllowed;
    }
    return c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

// How a path is taken: by a modelled call, or exactly as a test wrote it
// (seeding and reading back: no length limit, names kept whole, so a test
// can lay names Windows' calls could not make).
enum PathUse { CALL_PATH, CALL_PATTERN, TEST_PATH };

// Resolves a path as Windows does, against the process's current directory:
// "/" is a separator too, repeated separators count once, "." and ".." are
// applied to the text (".." never climbs above the root), trailing dots and
// blanks of the last name are dropped.
DWORD ResolvePath(const char* text, const Process* process, Path& out, PathUse use = CALL_PATH)
{
    bool wildcardsInLast = use == CALL_PATTERN;
    if (text == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // ANSI calls take at most MAX_PATH bytes with the zero.
    if (use != TEST_PATH && std::strlen(text) >= MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::string s(text);
    if (s.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    std::replace(s.begin(), s.end(), '/', '\\');
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        return kErrorBadNetPath;  // no network and no \\?\ paths here
    }
    out = Path();
    std::string rest;
    const Path& cwd = process->currentDirectory;
    if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]))) {
        out.drive = UpperChar(s[0]);
        rest = s.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // "D:name": relative to the current directory if it is on D:,
            // else to D:'s root.
            if (out.drive == cwd.drive) {
                out.parts = cwd.parts;
            }
        }
    } else if (s[0] == '\\') {
        out.drive = cwd.drive;
        rest = s;
    } else {
        out.drive = cwd.drive;
        out.parts = cwd.parts;
        rest = s;
    }
    std::vector<std::string> names;
    std::string current;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == '\\') {
            if (!current.empty()) {
                names.push_back(current);
            }
            current.clear();
        } else {
            current += rest[i];
        }
    }
    out.trailingSeparator = !rest.empty() && rest.back() == '\\' && !names.empty();
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = names[i];
        bool last = i + 1 == names.size();
        if (name == ".") {
            continue;
        }
        if (name == "..") {
            if (!out.parts.empty()) {
                out.parts.pop_back();
            }
            continue;
        }
        if (last && !out.trailingSeparator && use == CALL_PATH) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
                name.pop_back();
            }
            if (name.empty()) {
                continue;
            }
        }
        for (char c : name) {
            if (InvalidNameByte(c, wildcardsInLast && last)) {
                return ERROR_INVALID_NAME;
            }
        }
        out.parts.push_back(name);
    }
    if (M().drives.find(out.drive) == M().drives.end()) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

Node* Child(Node* folder, const std::string& name)
{
    auto it = folder->children.find(Upper(name));
    return it == folder->children.end() ? nullptr : it->second.get();
}

NodePtr ChildPtr(Node* folder, const std::string& name)
{
    auto it = folder->children.find(Upper(name));
    return it == folder->children.end() ? NodePtr() : it->second;
}

// The folder holding the path's last name (the root for a root path).
DWORD FindParent(const Path& path, Node*& parent)
{
    Node* node = M().drives[path.drive].get();
    for (size_t i = 0; i + 1 < path.parts.size(); ++i) {
        node = Child(node, path.parts[i]);
        if (node == nullptr || !node->dir) {
            return ERROR_PATH_NOT_FOUND;
        }
    }
    parent = node;
    return ERROR_SUCCESS;
}

// The node the path names: ERROR_PATH_NOT_FOUND when a folder on the way is
// missing, ERROR_FILE_NOT_FOUND when only the last name is.
DWORD Lookup(const Path& path, NodePtr& found)
{
    if (path.parts.empty()) {
        found = M().drives[path.drive];
        return ERROR_SUCCESS;
    }
    Node* parent = nullptr;
    DWORD error = FindParent(path, parent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    found = ChildPtr(parent, path.parts.back());
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD LookupText(const char* text, const Process* process, NodePtr& found, Path* resolved = nullptr,
                 PathUse use = CALL_PATH)
{
    Path path;
    DWORD error = ResolvePath(text, process, path, use);
    if (resolved != nullptr) {
        *resolved = path;
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = Lookup(path, found);
    if (error == ERROR_SUCCESS && path.trailingSeparator && !found->dir) {
        return ERROR_INVALID_NAME;  // "file.txt\" names no file
    }
    return error;
}

// Creates the folders of the path that are missing; returns the last.
Node* MakeFolders(const Path& path, DWORD changedBy, bool logChanges)
{
    NodePtr& root = M().drives[path.drive];
    if (!root) {
        root = std::make_shared<Node>();
        root->name = std::string(1, path.drive) + ":";
        root->dir = true;
    }
    Node* node = root.get();
    for (const std::string& name : path.parts) {
        Node* next = Child(node, name);
        if (next == nullptr) {
            NodePtr made = std::make_shared<Node>();
            made->name = name;
            made->dir = true;
            made->parent = node;
            node->children[Upper(name)] = made;
            next = made.get();
            if (logChanges) {
                Change(changedBy, "FolderCreated " + NodeText(next));
            }
        } else if (!next->dir) {
            return nullptr;
        }
        node = next;
    }
    return node;
}

DWORD AccessBits(DWORD access)
{
    DWORD bits = 0;
    if (access & (GENERIC_READ | kGenericAll | kGenericExecute | kFileReadData | kFileExecute)) {
        bits |= kR;
    }
    if (access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) {
        bits |= kW;
    }
    if (access & (kDeleteAccess | kGenericAll)) {
        bits |= kD;
    }
    return bits;
}

bool Conflict(DWORD accessA, DWORD shareA, DWORD accessB, DWORD shareB)
{
    return (accessA & ~shareB & 7) != 0 || (accessB & ~shareA & 7) != 0;
}

// Whether an open with this access and share mode is allowed by everything
// that has the file open: the program's own handles, another program that
// holds it (reads it and shares reading and writing) and the loader of a
// running image (reads it and shares reading and deletion).
bool SharingAllows(const Node* node, DWORD access, DWORD share)
{
    for (const KObject* open : node->opens) {
        if (Conflict(access, share, open->access, open->share)) {
            return false;
        }
    }
    if (node->inUseElsewhere && Conflict(access, share, kR, kR | kW)) {
        return false;
    }
    if (node->imageRefs > 0 && Conflict(access, share, kR, kR | kD)) {
        return false;
    }
    return true;
}

void RemoveNode(Node* node)
{
    Node* parent = node->parent;
    node->parent = nullptr;
    parent->children.erase(Upper(node->name));
}

// A delete-pending file goes when nothing holds it any more.
void FinishPendingDelete(Node* node, DWORD changedBy)
{
    if (node->deletePending && node->opens.empty() && node->imageRefs == 0 &&
        !node->inUseElsewhere && node->parent != nullptr) {
        Change(changedBy, "FileDeleted " + NodeText(node));
        RemoveNode(node);
    }
}

// --- Kernel objects and handles ---------------------------------------------------

HANDLE NewHandle(Process* process, const ObjectPtr& object)
{
    uintptr_t value = M().nextHandle;
    M().nextHandle += 4;
    process->handles[value] = object;
    ++object->handles;
    return reinterpret_cast<HANDLE>(value);
}

ObjectPtr HandleObject(const Process* process, const void* handle)
{
    auto it = process->handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == process->handles.end() ? ObjectPtr() : it->second;
}

// Drops one handle of the object: a file handle opened for deletion on
// close makes the file delete-pending; a named object loses its name with
// its last handle.
void ReleaseObject(const ObjectPtr& object, DWORD closedBy)
{
    --object->handles;
    if (object->kind == OBJ_FILE && object->file) {
        Node* node = object->file.get();
        node->opens.erase(std::remove(node->opens.begin(), node->opens.end(), object.get()),
                          node->opens.end());
        if (object->deleteOnClose) {
            node->deletePending = true;
        }
        FinishPendingDelete(node, closedBy);
    }
    if ((object->kind == OBJ_EVENT || object->kind == OBJ_MUTEX) && object->handles == 0 &&
        !object->name.empty()) {
        auto it = M().named.find(object->name);
        if (it != M().named.end() && it->second == object) {
            M().named.erase(it);
        }
    }
}

void CloseHandleOf(Process* process, uintptr_t value)
{
    auto it = process->handles.find(value);
    ObjectPtr object = it->second;
    process->handles.erase(it);
    ReleaseObject(object, process->id);
}

bool Signalled(const KObject* object, const Process* waiter)
{
    switch (object->kind) {
    case OBJ_EVENT: return object->signalled;
    case OBJ_MUTEX: return object->owner == nullptr || object->owner == waiter;
    case OBJ_PROCESS:
    case OBJ_THREAD: return object->process->state == ENDED;
    case OBJ_FILE: return true;
    default: return false;
    }
}

DWORD Acquire(KObject* object, Process* waiter)
{
    if (object->kind == OBJ_EVENT && !object->manualReset) {
        object->signalled = false;
    }
    if (object->kind == OBJ_MUTEX) {
        bool abandoned = object->abandoned;
        object->abandoned = false;
        object->owner = waiter;
        ++object->recursion;
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
    return WAIT_OBJECT_0;
}

// Every mutex the process owns becomes abandoned: free, and the next wait on
// it reports WAIT_ABANDONED.
void AbandonMutexes(const Process* owner)
{
    for (auto& p : M().processes) {
        for (auto& entry : p->handles) {
            KObject* object = entry.second.get();
            if (object->kind == OBJ_MUTEX && object->owner == owner) {
                object->owner = nullptr;
                object->recursion = 0;
                object->abandoned = true;
            }
        }
    }
}

void CloseAllHandles(Process* process)
{
    AbandonMutexes(process);
    while (!process->handles.empty()) {
        CloseHandleOf(process, process->handles.begin()->first);
    }
}

void ReleaseImage(Process* process)
{
    if (process->image) {
        NodePtr image = process->image;
        process->image.reset();
        --image->imageRefs;
        FinishPendingDelete(image.get(), process->id);
    }
}

void EndProcess(Process* process, DWORD exitCode)
{
    CloseAllHandles(process);
    ReleaseImage(process);
    process->exitCode = exitCode;
    process->state = ENDED;
}

// --- The baton -------------------------------------------------------------------

bool WaitSatisfied(const Process* p)
{
    if (p->hasDeadline && M().clock >= p->deadline) {
        return true;
    }
    if (p->waitKind == WAIT_FOR_OBJECT) {
        return Signalled(p->waitObject.get(), p);
    }
    if (p->waitKind == WAIT_FOR_ALL_ENDED) {
        for (auto& other : M().processes) {
            if (other.get() != p && other->state != ENDED) {
                return false;
            }
        }
        return true;
    }
    return false;
}

// The next process to run: the lowest id that is ready or whose wait is
// over; when there is none, the clock jumps to the earliest timeout.
Process* PickNext()
{
    for (;;) {
        for (auto& p : M().processes) {
            if (p->state == READY || (p->state == BLOCKED && WaitSatisfied(p.get()))) {
                return p.get();
            }
        }
        bool any = false;
        uint64_t earliest = 0;
        for (auto& p : M().processes) {
            if (p->state == BLOCKED && p->hasDeadline && (!any || p->deadline < earliest)) {
                earliest = p->deadline;
                any = true;
            }
        }
        if (!any) {
            return nullptr;
        }
        M().clock = earliest;
    }
}

// Gives the baton away (the caller has blocked or ended). A state where
// nothing can ever run again is a deadlock: the test fails and the shell is
// woken, its wait failing.
void PassBaton()
{
    Process* next = PickNext();
    if (next == nullptr) {
        ReportLocked("deadlock: no process can run and no wait has a timeout");
        next = Shell();
        next->wokenByDeadlock = true;
    }
    next->state = RUNNING;
    M().running = next;
    Baton().notify_all();
}

void BlockUntilWoken(std::unique_lock<std::mutex>& lock, Process* me)
{
    me->state = BLOCKED;
    PassBaton();
    Baton().wait(lock, [me] { return M().running == me; });
}

void ProcessThread(Process* p)
{
    t_self = p;
    std::unique_lock<std::mutex> lock(Mutex());
    Baton().wait(lock, [p] { return M().running == p || p->killed; });
    if (p->killed) {
        return;
    }
    mem::ProgramMain main = p->main;
    lock.unlock();
    int exitCode = main ? main() : 0;
    lock.lock();
    EndProcess(p, static_cast<DWORD>(exitCode));
    PassBaton();
}

// --- Processes ----------------------------------------------------------------------

std::string ParentFolderText(const std::string& imagePath)
{
    size_t cut = imagePath.find_last_of('\\');
    return cut == std::string::npos ? std::string() : imagePath.substr(0, cut);
}

// One candidate name for the program: a name without a folder is looked for
// as Windows does (the caller's image folder, its current directory, the
// system folders); ".exe" is added when the last name has no extension.
DWORD TryProgram(const std::string& candidate, const Process* caller, Path& image, NodePtr& node)
{
    std::string name = candidate;
    size_t lastSeparator = name.find_last_of("\\/");
    std::string lastName = lastSeparator == std::string::npos ? name : name.substr(lastSeparator + 1);
    if (lastName.find('.') == std::string::npos) {
        name += ".exe";
    }
    std::vector<std::string> tries;
    bool bare = name.find_first_of("\\/:") == std::string::npos;
    if (bare) {
        std::string imageFolder = ParentFolderText(caller->imagePath);
        if (!imageFolder.empty()) {
            tries.push_back(imageFolder + "\\" + name);
        }
        tries.push_back(PathText(caller->currentDirectory) + "\\" + name);
        tries.push_back("C:\\Windows\\System32\\" + name);
        tries.push_back("C:\\Windows\\" + name);
    } else {
        tries.push_back(name);
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const std::string& text : tries) {
        Path path;
        NodePtr found;
        DWORD e = ResolvePath(text.c_str(), caller, path);
        if (e == ERROR_SUCCESS) {
            e = Lookup(path, found);
        }
        if (e == ERROR_SUCCESS && !found->dir) {
            image = path;
            node = found;
            return ERROR_SUCCESS;
        }
        if (e == ERROR_PATH_NOT_FOUND && !bare) {
            error = ERROR_PATH_NOT_FOUND;
        }
    }
    return error;
}

// Finds the program a command line starts, as CreateProcessA does without an
// application name: a quoted first token is the path; an unquoted one with
// blanks is tried up to each blank in turn ("C:\Program" before
// "C:\Program Files\..."), then whole; the first existing file wins.
DWORD ResolveProgram(const char* applicationName, const char* commandLine, const Process* caller,
                     Path& image, NodePtr& node)
{
    if (applicationName != nullptr) {
        Path path;
        DWORD error = ResolvePath(applicationName, caller, path);
        if (error == ERROR_SUCCESS) {
            error = Lookup(path, node);
        }
        if (error == ERROR_SUCCESS && node->dir) {
            error = ERROR_ACCESS_DENIED;
        }
        image = path;
        return error;
    }
    if (commandLine == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string line(commandLine);
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;
    }
    line = line.substr(start);
    std::vector<std::string> candidates;
    if (line[0] == '"') {
        size_t close = line.find('"', 1);
        candidates.push_back(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else {
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == ' ' || line[i] == '\t') {
                candidates.push_back(line.substr(0, i));
            }
        }
        candidates.push_back(line);
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) {
            continue;
        }
        DWORD e = TryProgram(candidate, caller, image, node);
        if (e == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        if (candidates.size() == 1) {
            error = e;
        }
    }
    return error;
}

// Checks that the loader may map the image: not delete-pending, and its
// open (reading, sharing reading and deletion) allowed by the handles on it.
DWORD CheckImage(const Node* node)
{
    if (node->deletePending) {
        return ERROR_ACCESS_DENIED;
    }
    if (!SharingAllows(node, kR, kR | kD)) {
        return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

HINSTANCE InstanceOf(DWORD id)
{
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000u + 0x10000u * id));
}

Process* NewProcess(const Process* parent, const Path& image, const NodePtr& node,
                    const std::string& commandLine, const Path& currentDirectory, bool byWinExec)
{
    std::unique_ptr<Process> owned(new Process);
    Process* p = owned.get();
    p->id = static_cast<DWORD>(M().processes.size() + 1);
    p->parentId = parent->id;
    p->imagePath = PathText(image);
    p->image = node;
    ++node->imageRefs;
    p->commandLine = commandLine;
    p->commandBuffer = commandLine;
    p->currentDirectory = currentDirectory;
    p->startedByWinExec = byWinExec;
    p->instance = InstanceOf(p->id);
    p->state = READY;
    for (auto& program : M().programs) {
        if (program.first == node->content) {
            p->main = program.second;
        }
    }
    M().processes.push_back(std::move(owned));
    p->thread = std::thread(ProcessThread, p);
    return p;
}

// --- Registry ----------------------------------------------------------------------

bool IsRoot(HKEY key, int& index)
{
    if (key == HKEY_CLASSES_ROOT) {
        index = 0;
    } else if (key == HKEY_CURRENT_USER) {
        index = 1;
    } else if (key == HKEY_LOCAL_MACHINE) {
        index = 2;
    } else if (key == HKEY_USERS) {
        index = 3;
    } else {
        return false;
    }
    return true;
}

std::string KeyText(const RegKey* key)
{
    std::string text = key->name;
    for (const RegKey* p = key->parent; p != nullptr; p = p->parent) {
        text = p->name + "\\" + text;
    }
    return text;
}

std::string RootText(HKEY key)
{
    int index = 0;
    if (IsRoot(key, index)) {
        return M().roots[index]->name;
    }
    return Hex(reinterpret_cast<uintptr_t>(key));
}

// The key a handle stands for (a predefined root or an open key of the
// process) and the access it was opened with.
LONG KeyOfHandle(const Process* process, HKEY handle, KeyPtr& key, REGSAM& access)
{
    int index = 0;
    if (IsRoot(handle, index)) {
        key = M().roots[index];
        access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    ObjectPtr object = HandleObject(process, handle);
    if (!object || object->kind != OBJ_KEY) {
        return ERROR_INVALID_HANDLE;
    }
    if (object->key->deleted) {
        return static_cast<LONG>(kErrorKeyDeleted);
    }
    key = object->key;
    access = object->keyAccess;
    return ERROR_SUCCESS;
}

// Follows a subkey path ("A\B\C", a trailing "\" allowed) below a key.
LONG FindSubKey(const KeyPtr& base, const char* subKey, KeyPtr& found)
{
    found = base;
    if (subKey == nullptr) {
        return ERROR_SUCCESS;
    }
    std::string path(subKey);
    if (!path.empty() && path[0] == '\\') {
        return static_cast<LONG>(kErrorBadPathname);
    }
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    if (path.empty()) {
        return ERROR_SUCCESS;
    }
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        auto it = found->subkeys.find(Upper(name));
        if (name.empty() || it == found->subkeys.end()) {
            found.reset();
            return ERROR_FILE_NOT_FOUND;
        }
        found = it->second;
        if (end == std::string::npos) {
            return ERROR_SUCCESS;
        }
        start = end + 1;
    }
}

KeyPtr MakeKey(HKEY root, const std::string& subKey)
{
    int index = 0;
    if (!IsRoot(root, index)) {
        return KeyPtr();
    }
    KeyPtr key = M().roots[index];
    size_t start = 0;
    while (start < subKey.size()) {
        size_t end = subKey.find('\\', start);
        std::string name = subKey.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!name.empty()) {
            KeyPtr& slot = key->subkeys[Upper(name)];
            if (!slot) {
                slot = std::make_shared<RegKey>();
                slot->name = name;
                slot->parent = key.get();
            }
            key = slot;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return key;
}

// Access beyond reading, which a protected key refuses.
bool WantsMoreThanRead(REGSAM access)
{
    return (access & ~static_cast<REGSAM>(KEY_READ) & ~kKeyWow64Flags) != 0;
}

// --- Dialogs ---------------------------------------------------------------------------

bool IsButton(const mem::Control& control)
{
    return control.kind == mem::PUSH_BUTTON || control.kind == mem::DEFAULT_PUSH_BUTTON;
}

std::shared_ptr<Dialog> OpenDialog(HWND hwnd)
{
    for (auto& dialog : M().openDialogs) {
        if (dialog->hwnd == hwnd) {
            return dialog;
        }
    }
    return std::shared_ptr<Dialog>();
}

// Whether a control's text carries the mnemonic "&letter" ("&&" is a plain
// ampersand).
bool HasMnemonic(const std::string& text, char letter)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            if (text[i + 1] == '&') {
                ++i;
                continue;
            }
            return UpperChar(text[i + 1]) == UpperChar(letter);
        }
    }
    return false;
}

// --- Find ----------------------------------------------------------------------------

bool WildMatch(const char* pattern, const char* name)
{
    if (*pattern == '\0') {
        return *name == '\0';
    }
    if (*pattern == '*') {
        for (const char* n = name;; ++n) {
            if (WildMatch(pattern + 1, n)) {
                return true;
            }
            if (*n == '\0') {
                return false;
            }
        }
    }
    if (*name == '\0') {
        return false;
    }
    if (*pattern == '?' || UpperChar(*pattern) == UpperChar(*name)) {
        return WildMatch(pattern + 1, name + 1);
    }
    return false;
}

// Matches a name against the last part of a search pattern as the file
// system does for long names: "*.*" is every name, dot or not, and a final
// ".*" or "." also matches a name without an extension.
bool PatternMatches(const std::string& pattern, const std::string& name)
{
    if (pattern == "*.*" || pattern == "*") {
        return true;
    }
    if (WildMatch(pattern.c_str(), name.c_str())) {
        return true;
    }
    bool noExtension = name.find('.') == std::string::npos;
    if (noExtension && pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
        return WildMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    }
    if (noExtension && !pattern.empty() && pattern.back() == '.') {
        return WildMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
    }
    return false;
}

WIN32_FIND_DATAA FindData(const std::string& name, const Node* node)
{
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    DWORD attributes = 0;
    if (node->dir) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    if (node->readOnly) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    data.dwFileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    data.nFileSizeLow = node->dir ? 0 : static_cast<DWORD>(node->content.size());
    std::strncpy(data.cFileName, name.c_str(), sizeof data.cFileName - 1);
    return data;
}

// --- Dump --------------------------------------------------------------------------------

void DumpNode(std::ostringstream& out, const Node* node)
{
    out << "  " << NodeText(node);
    if (node->dir) {
        if (node->parent != nullptr) {
            out << "\\";
        }
    } else {
        out << "  " << node->content.size() << " bytes";
    }
    if (node->readOnly) {
        out << "  read-only";
    }
    if (node->inUseElsewhere) {
        out << "  in use elsewhere";
    }
    if (node->imageRefs > 0) {
        out << "  running image (" << node->imageRefs << ")";
    }
    if (!node->opens.empty()) {
        out << "  open handles " << node->opens.size();
    }
    if (node->deletePending) {
        out << "  delete-pending";
    }
    out << "\n";
    for (auto& child : node->children) {
        DumpNode(out, child.second.get());
    }
}

const char* TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_?";
    }
}

void DumpKey(std::ostringstream& out, const RegKey* key)
{
    out << "  " << KeyText(key) << (key->isProtected ? "  [protected]" : "") << "\n";
    for (auto& value : key->values) {
        out << "      " << (value.second.name.empty() ? "(default)" : "\"" + value.second.name + "\"")
            << " " << TypeName(value.second.type) << " \"" << Escape(value.second.bytes) << "\"\n";
    }
    for (auto& sub : key->subkeys) {
        DumpKey(out, sub.second.get());
    }
}

std::string ObjectText(const KObject* object)
{
    std::ostringstream out;
    out << KindName(object->kind);
    switch (object->kind) {
    case OBJ_EVENT:
        out << " \"" << object->name << "\" " << (object->manualReset ? "manual" : "auto")
            << (object->signalled ? " signalled" : " not signalled");
        break;
    case OBJ_MUTEX:
        out << " \"" << object->name << "\"";
        if (object->owner != nullptr) {
            out << " owned by " << object->owner->id;
        } else {
            out << " free";
        }
        if (object->abandoned) {
            out << " abandoned";
        }
        break;
    case OBJ_PROCESS:
    case OBJ_THREAD: out << " of " << object->process->id; break;
    case OBJ_FILE:
        out << " " << NodeText(object->file.get()) << (object->deleteOnClose ? " delete-on-close" : "");
        break;
    case OBJ_FIND: out << " (" << object->next << "/" << object->found.size() << ")"; break;
    case OBJ_KEY:
        out << " " << KeyText(object->key.get()) << " access " << Hex(object->keyAccess)
            << (object->key->deleted ? " deleted" : "");
        break;
    }
    return out.str();
}

std::string DumpLocked()
{
    std::ostringstream out;
    Machine& m = M();
    out << "--- memory platform at " << m.clock << " ms ---\nfiles:\n";
    for (auto& drive : m.drives) {
        DumpNode(out, drive.second.get());
    }
    out << "registry:\n";
    for (auto& root : m.roots) {
        if (root) {
            DumpKey(out, root.get());
        }
    }
    out << "special folders:";
    for (auto& folder : m.specialFolders) {
        out << " " << Hex(static_cast<uintptr_t>(folder.first)) << "=" << folder.second
            << (m.failedSpecialFolders.count(folder.first) ? "(fails)" : "");
    }
    out << "\ntemp path: \"" << m.tempPath << "\"\nnamed objects:\n";
    for (auto& named : m.named) {
        out << "  " << ObjectText(named.second.get()) << ", " << named.second->handles
            << " handle(s)\n";
    }
    out << "processes:\n";
    static const char* const states[] = {"ready", "running", "blocked", "ended"};
    for (auto& p : m.processes) {
        out << "  " << p->id << " (parent " << p->parentId << ") " << states[p->state]
            << (m.running == p.get() ? " [baton]" : "") << " image " << p->imagePath << " cmd \""
            << p->commandLine << "\" cwd " << PathText(p->currentDirectory);
        if (p->startedByWinExec) {
            out << " WinExec";
        }
        if (p->state == ENDED) {
            out << " exit " << p->exitCode;
        }
        if (p->state == BLOCKED) {
            out << " waiting for "
                << (p->waitKind == WAIT_FOR_OBJECT ? ObjectText(p->waitObject.get())
                                                   : std::string("all processes to end"));
            if (p->hasDeadline) {
                out << " until " << p->deadline << " ms";
            }
        }
        out << "\n";
        for (auto& handle : p->handles) {
            out << "      " << Hex(handle.first) << " " << ObjectText(handle.second.get()) << "\n";
        }
    }
    out << "dialogs open: " << m.openDialogs.size() << ", scripted answers left: " << m.script.size()
        << "\n";
    size_t from = m.timeline.size() > 60 ? m.timeline.size() - 60 : 0;
    out << "last calls (" << m.timeline.size() - from << " of " << m.timeline.size() << "):\n";
    for (size_t i = from; i < m.timeline.size(); ++i) {
        out << "  " << m.timeline[i] << "\n";
    }
    return out.str();
}

// --- The operations ------------------------------------------------------------------------

BOOL RestrictDllSearchToSystem_(void)
{
    Call c("RestrictDllSearchToSystem", "");
    if (c.injected) {
        c.Log("FALSE");
        return FALSE;
    }
    if (c.me->calls == 1) {
        c.me->restrictedDllSearchFirst = true;
    }
    c.Log("TRUE");
    return TRUE;
}

// Cannot fail on Windows; an injected failure gives an empty line.
LPSTR GetCommandLineA_(void)
{
    Call c("GetCommandLineA", "");
    static char empty[1] = {0};
    if (c.injected) {
        c.Log("\"\"");
        return empty;
    }
    c.Log(Quote(c.me->commandBuffer.c_str()));
    return &c.me->commandBuffer[0];
}

// Code page 1252: there are no lead bytes.
BOOL IsDBCSLeadByte_(BYTE testChar)
{
    Call c("IsDBCSLeadByte", Hex(testChar));
    c.Log("FALSE");
    return FALSE;
}

HMODULE GetModuleHandleA_(LPCSTR moduleName)
{
    Call c("GetModuleHandleA", Quote(moduleName));
    if (c.injected) {
        c.Log("NULL");
        return nullptr;
    }
    bool own = moduleName == nullptr;
    if (!own) {
        // Only the process's own image is loaded in the model.
        std::string image = c.me->imagePath.substr(c.me->imagePath.find_last_of('\\') + 1);
        std::string name(moduleName);
        own = SameName(name, image) || SameName(name + ".exe", image);
    }
    if (!own) {
        c.Error(kErrorModNotFound);
        c.Log("NULL");
        return nullptr;
    }
    c.Log(Hex(reinterpret_cast<uintptr_t>(c.me->instance)));
    return c.me->instance;
}

// As from Windows Vista on: a path that does not fit is cut to size - 1 bytes
// and its zero, and size is returned with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA_(HMODULE module, LPSTR fileName, DWORD size)
{
    Call c("GetModuleFileNameA", Hex(reinterpret_cast<uintptr_t>(module)) + ", " + Number(size));
    if (c.injected) {
        c.Log("0");
        return 0;
    }
    if (module != nullptr && module != c.me->instance) {
        c.Error(kErrorModNotFound);
        c.Log("0");
        return 0;
    }
    if (size == 0) {
        c.Error(ERROR_INSUFFICIENT_BUFFER);
        c.Log("0");
        return 0;
    }
    const std::string& path = c.me->imagePath;
    if (path.size() < size) {
        std::memcpy(fileName, path.c_str(), path.size() + 1);
        c.Log(Number(static_cast<long long>(path.size())) + " " + Quote(path.c_str()));
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(fileName, path.c_str(), size - 1);
    fileName[size - 1] = '\0';
    c.Error(ERROR_INSUFFICIENT_BUFFER);
    c.Log(Number(size) + " (cut short)");
    return size;
}

// Sends one message to the dialog's procedure, without the machine's lock:
// the procedure makes calls of its own.
INT_PTR Send(Call& c, DLGPROC procedure, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (procedure == nullptr) {
        return FALSE;
    }
    c.lock.unlock();
    INT_PTR result = procedure(hwnd, message, wParam, lParam);
    c.lock.lock();
    return result;
}

HWND ControlWindow(const Dialog& dialog, int id)
{
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        if (dialog.controls[i].id == id) {
            return dialog.controlWindows[i];
        }
    }
    return nullptr;
}

// A button pressed: the focus moves to it and the dialog gets its
// WM_COMMAND with BN_CLICKED.
void PressButton(Call& c, DLGPROC procedure, Dialog& dialog, int index)
{
    dialog.focus = index;
    Send(c, procedure, dialog.hwnd, WM_COMMAND, MAKEWPARAM(dialog.controls[index].id, BN_CLICKED),
         reinterpret_cast<LPARAM>(dialog.controlWindows[index]));
}

void SendCommand(Call& c, DLGPROC procedure, Dialog& dialog, int id)
{
    Send(c, procedure, dialog.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
         reinterpret_cast<LPARAM>(ControlWindow(dialog, id)));
}

void Note(const Dialog& dialog, const std::string& what)
{
    M().timeline.push_back(Number(dialog.process->id) + " [dialog " + Number(dialog.resourceId) + "] " +
                           what);
}

// Delivers one user action as the dialog manager would.
void Deliver(Call& c, DLGPROC procedure, Dialog& dialog, const mem::UserAction& action)
{
    const std::vector<mem::Control>& controls = dialog.controls;
    int count = static_cast<int>(controls.size());
    switch (action.kind) {
    case mem::PRESS_ENTER: {
        int index = -1;
        if (dialog.focus >= 0 && IsButton(controls[dialog.focus])) {
            index = dialog.focus;
        } else {
            for (int i = 0; i < count && index < 0; ++i) {
                if (controls[i].kind == mem::DEFAULT_PUSH_BUTTON) {
                    index = i;
                }
            }
        }
        int id = index >= 0 ? controls[index].id : IDOK;
        Note(dialog, "Enter: WM_COMMAND " + Number(id));
        SendCommand(c, procedure, dialog, id);
        break;
    }
    case mem::PRESS_ESCAPE:
        Note(dialog, "Esc: WM_COMMAND IDCANCEL");
        SendCommand(c, procedure, dialog, IDCANCEL);
        break;
    case mem::CLOSE_BOX:
        // The default handling of each message leads to the next one.
        Note(dialog, "close box: WM_SYSCOMMAND SC_CLOSE");
        if (!Send(c, procedure, dialog.hwnd, WM_SYSCOMMAND, kScClose, 0) && !dialog.ended) {
            Note(dialog, "WM_CLOSE");
            if (!Send(c, procedure, dialog.hwnd, WM_CLOSE, 0, 0) && !dialog.ended) {
                Note(dialog, "WM_COMMAND IDCANCEL");
                SendCommand(c, procedure, dialog, IDCANCEL);
            }
        }
        break;
    case mem::PRESS_TAB: {
        for (int step = 1; step <= count; ++step) {
            int i = ((dialog.focus < 0 ? -1 : dialog.focus) + step) % count;
            if (controls[i].tabStop) {
                dialog.focus = i;
                break;
            }
        }
        Note(dialog, "Tab: focus on " + (dialog.focus >= 0 ? Number(controls[dialog.focus].id) : "nothing"));
        break;
    }
    case mem::CLICK: {
        int index = -1;
        for (int i = 0; i < count && index < 0; ++i) {
            if (controls[i].id == action.controlId) {
                index = i;
            }
        }
        if (index < 0) {
            ReportLocked("the script clicks control " + Number(action.controlId) + ", which dialog " +
                         Number(dialog.resourceId) + " does not have");
            break;
        }
        if (!IsButton(controls[index])) {
            Note(dialog, "click on a static control: nothing");
            break;
        }
        Note(dialog, "click on " + Number(action.controlId));
        PressButton(c, procedure, dialog, index);
        break;
    }
    case mem::ALT_KEY: {
        int index = -1;
        for (int i = 0; i < count && index < 0; ++i) {
            if (HasMnemonic(controls[i].text, action.letter)) {
                index = i;
            }
        }
        if (index < 0) {
            Note(dialog, std::string("Alt+") + action.letter + ": no such mnemonic, a beep");
        } else if (IsButton(controls[index])) {
            Note(dialog, std::string("Alt+") + action.letter + ": presses " + Number(controls[index].id));
            PressButton(c, procedure, dialog, index);
        } else {
            // A label's mnemonic moves the focus to the control after it.
            for (int i = index + 1; i < count; ++i) {
                if (controls[i].tabStop) {
                    dialog.focus = i;
                    break;
                }
            }
            Note(dialog, std::string("Alt+") + action.letter + ": focus past a label");
        }
        break;
    }
    }
}

// NULL as instance is refused: the program must pass its own module handle,
// and the model holds it to that (Windows would take NULL as the exe too).
INT_PTR DialogBoxParamA_(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                         LPARAM initParam)
{
    uintptr_t nameValue = reinterpret_cast<uintptr_t>(templateName);
    int resourceId = -1;
    if (nameValue != 0 && nameValue < 0x10000) {
        resourceId = static_cast<int>(nameValue);
    } else if (templateName != nullptr && templateName[0] == '#') {
        resourceId = std::atoi(templateName + 1);
    }
    Call c("DialogBoxParamA", Hex(reinterpret_cast<uintptr_t>(instance)) + ", " + Number(resourceId) +
                                  ", " + Hex(reinterpret_cast<uintptr_t>(owner)) + ", " + Number(initParam));
    Process* me = c.me;
    auto finish = [&](INT_PTR result) {
        M().dialogRecords.push_back(mem::DialogRecord{me->id, resourceId, result});
        c.Log(Number(result) + (result == -1 || result == 0 ? " (error " + Number(me->lastError) + ")" : ""));
        return result;
    };
    if (c.injected) {
        return finish(-1);
    }
    if (instance != me->instance) {
        c.Error(kErrorResourceTypeNotFound);
        return finish(-1);
    }
    auto found = M().templates.find(resourceId);
    if (found == M().templates.end()) {
        c.Error(kErrorResourceNameNotFound);
        return finish(-1);
    }
    if (owner != nullptr && !OpenDialog(owner)) {
        c.Error(kErrorInvalidWindowHandle);
        return finish(0);
    }
    std::shared_ptr<Dialog> dialog = std::make_shared<Dialog>();
    dialog->hwnd = reinterpret_cast<HWND>(M().nextWindow);
    M().nextWindow += 0x10;
    dialog->process = me;
    dialog->resourceId = resourceId;
    dialog->controls = found->second;
    int firstTabStop = -1;
    for (size_t i = 0; i < dialog->controls.size(); ++i) {
        dialog->controlWindows.push_back(reinterpret_cast<HWND>(M().nextWindow));
        M().nextWindow += 0x10;
        if (firstTabStop < 0 && dialog->controls[i].tabStop) {
            firstTabStop = static_cast<int>(i);
        }
    }
    M().openDialogs.push_back(dialog);
    HWND focusWindow = firstTabStop >= 0 ? dialog->controlWindows[firstTabStop] : nullptr;
    Note(*dialog, "WM_INITDIALOG");
    INT_PTR placeFocus = Send(c, dialogProc, dialog->hwnd, WM_INITDIALOG,
                              reinterpret_cast<WPARAM>(focusWindow), initParam);
    // Ended from WM_INITDIALOG: never shown, so the user answered nothing.
    if (!dialog->ended) {
        dialog->focus = placeFocus ? firstTabStop : -1;
        if (M().script.empty()) {
            ReportLocked("dialog " + Number(resourceId) + " shown by process " + Number(me->id) +
                         " but the test scripted no answer for it");
        } else {
            std::vector<mem::UserAction> actions = M().script.front();
            M().script.pop_front();
            for (const mem::UserAction& action : actions) {
                Deliver(c, dialogProc, *dialog, action);
                if (dialog->ended) {
                    break;
                }
            }
            if (!dialog->ended) {
                ReportLocked("dialog " + Number(resourceId) + " in process " + Number(me->id) +
                             " is still open after the user's scripted actions: the program hangs");
            }
        }
    }
    M().openDialogs.erase(std::remove(M().openDialogs.begin(), M().openDialogs.end(), dialog),
                          M().openDialogs.end());
    if (!dialog->ended) {
        c.Error(ERROR_INVALID_PARAMETER);
        return finish(-1);
    }
    return finish(dialog->result);
}

BOOL EndDialog_(HWND dialog, INT_PTR result)
{
    Call c("EndDialog", Hex(reinterpret_cast<uintptr_t>(dialog)) + ", " + Number(result));
    if (c.injected) {
        c.Log("FALSE");
        return FALSE;
    }
    std::shared_ptr<Dialog> open = OpenDialog(dialog);
    if (!open) {
        c.Error(kErrorInvalidWindowHandle);
        c.Log(BoolResult(FALSE, c.me));
        return FALSE;
    }
    open->ended = true;
    open->result = result;
    c.Log("TRUE");
    return TRUE;
}

LONG OpenKey(Call& c, HKEY root, LPCSTR subKey, REGSAM access, PHKEY result, bool maximumAllowed)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyPtr base;
    REGSAM baseAccess = 0;
    LONG error = KeyOfHandle(c.me, root, base, baseAccess);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    KeyPtr key;
    error = FindSubKey(base, subKey, key);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (maximumAllowed) {
        access = key->isProtected ? KEY_READ : KEY_ALL_ACCESS;
    } else if (key->isProtected && WantsMoreThanRead(access)) {
        return ERROR_ACCESS_DENIED;
    }
    ObjectPtr object = std::make_shared<KObject>();
    object->kind = OBJ_KEY;
    object->key = key;
    object->keyAccess = access;
    *result = reinterpret_cast<HKEY>(NewHandle(c.me, object));
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA_(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    Call c("RegOpenKeyExA", RootText(root) + ", " + Quote(subKey) + ", " + Number(options) + ", " +
                                Hex(access));
    if (c.injected) {
        c.Log(Number(static_cast<LONG>(c.injectedError)));
        return static_cast<LONG>(c.injectedError);
    }
    LONG error = OpenKey(c, root, subKey, access & ~kMaximumAllowed, result, (access & kMaximumAllowed) != 0);
    c.Log(error == ERROR_SUCCESS ? "0 " + Hex(reinterpret_cast<uintptr_t>(*result)) : Number(error));
    return error;
}

// RegOpenKeyA asks for MAXIMUM_ALLOWED: all access where the user has it, and
// reading only on a protected key. No subkey returns the very handle given,
// as the real call does.
LONG RegOpenKeyA_(HKEY root, LPCSTR subKey, PHKEY result)
{
    Call c("RegOpenKeyA", RootText(root) + ", " + Quote(subKey));
    if (c.injected) {
        c.Log(Number(static_cast<LONG>(c.injectedError)));
        return static_cast<LONG>(c.injectedError);
    }
    LONG error;
    if (result != nullptr && (subKey == nullptr || subKey[0] == '\0')) {
        KeyPtr key;
        REGSAM access = 0;
        error = KeyOfHandle(c.me, root, key, access);
        if (error == ERROR_SUCCESS) {
            *result = root;
        }
    } else {
        error = OpenKey(c, root, subKey, 0, result, true);
    }
    c.Log(error == ERROR_SUCCESS ? "0 " + Hex(reinterpret_cast<uintptr_t>(*result)) : Number(error));
    return error;
}

// Exactly as Windows: the type and the stored size are given back even when
// the data does not fit, and then the offered buffer holds nothing useful
// (filled with 0xCD here, to catch a caller who reads it anyway).
LONG RegQueryValueExA_(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                       LPDWORD dataSize)
{
    Call c("RegQueryValueExA", RootText(key) + ", " + Quote(valueName) + ", " +
                                   (dataSize ? Number(*dataSize) : std::string("NULL")));
    if (c.injected) {
        c.Log(Number(static_cast<LONG>(c.injectedError)));
        return static_cast<LONG>(c.injectedError);
    }
    auto done = [&](LONG error) {
        c.Log(Number(error) + (dataSize ? " size " + Number(*dataSize) : std::string()));
        return error;
    };
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return done(ERROR_INVALID_PARAMETER);
    }
    KeyPtr k;
    REGSAM access = 0;
    LONG error = KeyOfHandle(c.me, key, k, access);
    if (error != ERROR_SUCCESS) {
        return done(error);
    }
    if ((access & KEY_QUERY_VALUE) == 0) {
        return done(ERROR_ACCESS_DENIED);
    }
    auto it = k->values.find(Upper(valueName == nullptr ? std::string() : std::string(valueName)));
    if (it == k->values.end()) {
        return done(ERROR_FILE_NOT_FOUND);
    }
    const RegValue& value = it->second;
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = size;
        }
        return done(ERROR_SUCCESS);
    }
    if (*dataSize < size) {
        std::memset(data, 0xCD, *dataSize);
        *dataSize = size;
        return done(ERROR_MORE_DATA);
    }
    std::memcpy(data, value.bytes.data(), size);
    *dataSize = size;
    return done(ERROR_SUCCESS);
}

LONG RegCloseKey_(HKEY key)
{
    Call c("RegCloseKey", RootText(key));
    if (c.injected) {
        c.Log(Number(static_cast<LONG>(c.injectedError)));
        return static_cast<LONG>(c.injectedError);
    }
    int index = 0;
    if (IsRoot(key, index)) {
        c.Log("0");
        return ERROR_SUCCESS;  // closing a predefined key does nothing
    }
    ObjectPtr object = HandleObject(c.me, key);
    if (!object || object->kind != OBJ_KEY) {
        c.Log(Number(ERROR_INVALID_HANDLE));
        return ERROR_INVALID_HANDLE;
    }
    CloseHandleOf(c.me, reinterpret_cast<uintptr_t>(key));
    c.Log("0");
    return ERROR_SUCCESS;
}

// Deleting a key that is open elsewhere succeeds; those handles then see
// ERROR_KEY_DELETED.
LONG RegDeleteKeyA_(HKEY root, LPCSTR subKey)
{
    Call c("RegDeleteKeyA", RootText(root) + ", " + Quote(subKey));
    if (c.injected) {
        c.Log(Number(static_cast<LONG>(c.injectedError)));
        return static_cast<LONG>(c.injectedError);
    }
    auto done = [&](LONG error) {
        c.Log(Number(error));
        return error;
    };
    if (subKey == nullptr) {
        return done(ERROR_INVALID_PARAMETER);
    }
    KeyPtr base;
    REGSAM access = 0;
    LONG error = KeyOfHandle(c.me, root, base, access);
    if (error != ERROR_SUCCESS) {
        return done(error);
    }
    KeyPtr key;
    error = FindSubKey(base, subKey, key);
    if (error != ERROR_SUCCESS) {
        return done(error);
    }
    if (key->parent == nullptr || key->isProtected || !key->subkeys.empty()) {
        return done(ERROR_ACCESS_DENIED);
    }
    Change(c.me->id, "KeyDeleted " + KeyText(key.get()));
    key->parent->subkeys.erase(Upper(key->name));
    key->parent = nullptr;
    key->deleted = true;
    return done(ERROR_SUCCESS);
}

HANDLE FindFirstFileA_(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    Call c("FindFirstFileA", Quote(pattern));
    auto fail = [&](DWORD error) {
        c.Error(error);
        c.Log("INVALID_HANDLE_VALUE (error " + Number(error) + ")");
        return INVALID_HANDLE_VALUE;
    };
    if (c.injected) {
        return fail(c.injectedError);
    }
    Path path;
    DWORD error = ResolvePath(pattern, c.me, path, CALL_PATTERN);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    if (path.parts.empty() || path.trailingSeparator) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    Node* folder = nullptr;
    error = FindParent(path, folder);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    const std::string& last = path.parts.back();
    ObjectPtr search = std::make_shared<KObject>();
    search->kind = OBJ_FIND;
    if (folder->parent != nullptr) {
        if (PatternMatches(last, ".")) {
            search->found.push_back(FindData(".", folder));
        }
        if (PatternMatches(last, "..")) {
            search->found.push_back(FindData("..", folder->parent));
        }
    }
    for (auto& child : folder->children) {
        if (PatternMatches(last, child.second->name)) {
            search->found.push_back(FindData(child.second->name, child.second.get()));
        }
    }
    if (search->found.empty()) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    *found = search->found[0];
    search->next = 1;
    HANDLE handle = NewHandle(c.me, search);
    c.Log(Hex(reinterpret_cast<uintptr_t>(handle)) + " " + Quote(found->cFileName));
    return handle;
}

// The object behind one of the calling process's handles, if it is of this
// kind. Otherwise, or after an injected failure, the call has failed and is
// logged (ERROR_INVALID_HANDLE for a wrong handle) and the result is empty.
ObjectPtr OwnHandleOfKind(Call& c, HANDLE handle, ObjectKind kind)
{
    if (c.injected) {
        c.Log("FALSE");
        return ObjectPtr();
    }
    ObjectPtr object = HandleObject(c.me, handle);
    if (!object || object->kind != kind) {
        c.Finish(FALSE, ERROR_INVALID_HANDLE);
        return ObjectPtr();
    }
    return object;
}

BOOL FindNextFileA_(HANDLE search, LPWIN32_FIND_DATAA found)
{
    Call c("FindNextFileA", Hex(reinterpret_cast<uintptr_t>(search)));
    ObjectPtr object = OwnHandleOfKind(c, search, OBJ_FIND);
    if (!object) {
        return FALSE;
    }
    if (object->next >= object->found.size()) {
        c.Error(ERROR_NO_MORE_FILES);
        c.Log(BoolResult(FALSE, c.me));
        return FALSE;
    }
    *found = object->found[object->next++];
    c.Log(std::string("TRUE ") + Quote(found->cFileName));
    return TRUE;
}

BOOL FindClose_(HANDLE search)
{
    Call c("FindClose", Hex(reinterpret_cast<uintptr_t>(search)));
    ObjectPtr object = OwnHandleOfKind(c, search, OBJ_FIND);
    if (!object) {
        return FALSE;
    }
    CloseHandleOf(c.me, reinterpret_cast<uintptr_t>(search));
    c.Log("TRUE");
    return TRUE;
}

// Windows opens the file for deletion (sharing everything) and then marks it
// deleted; with other handles open (all sharing deletion) it stays,
// delete-pending, until they are closed.
BOOL DeleteFileA_(LPCSTR path)
{
    Call c("DeleteFileA", Quote(path));
    if (c.injected) {
        return c.Finish(FALSE, c.injectedError);
    }
    NodePtr node;
    DWORD error = LookupText(path, c.me, node);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (node->dir || node->deletePending) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!SharingAllows(node.get(), kD, kR | kW | kD)) {
        return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
    }
    if (node->readOnly || node->imageRefs > 0) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    node->deletePending = true;
    FinishPendingDelete(node.get(), c.me->id);
    return c.Finish(TRUE, 0);
}

// Looks up a path that must name a folder: ERROR_DIRECTORY for a file.
DWORD LookupFolder(const char* path, const Process* process, NodePtr& folder, Path& resolved)
{
    DWORD error = LookupText(path, process, folder, &resolved);
    if (error == ERROR_SUCCESS && !folder->dir) {
        error = ERROR_DIRECTORY;
    }
    return error;
}

BOOL SetCurrentDirectoryA_(LPCSTR path)
{
    Call c("SetCurrentDirectoryA", Quote(path));
    if (c.injected) {
        return c.Finish(FALSE, c.injectedError);
    }
    NodePtr folder;
    Path directory;
    DWORD error = LookupFolder(path, c.me, folder, directory);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    c.me->currentDirectory = directory;
    return c.Finish(TRUE, ERROR_SUCCESS);
}

BOOL RemoveDirectoryA_(LPCSTR path)
{
    Call c("RemoveDirectoryA", Quote(path));
    if (c.injected) {
        return c.Finish(FALSE, c.injectedError);
    }
    Path resolved;
    NodePtr node;
    DWORD error = LookupFolder(path, c.me, node, resolved);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (node->parent == nullptr || node->readOnly) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!node->children.empty()) {
        return c.Finish(FALSE, ERROR_DIR_NOT_EMPTY);
    }
    // A process holds its current directory open without sharing deletion.
    std::string key = Upper(PathText(resolved));
    for (auto& p : M().processes) {
        if (p->state != ENDED && Upper(PathText(p->currentDirectory)) == key) {
            return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
        }
    }
    Change(c.me->id, "FolderRemoved " + NodeText(node.get()));
    RemoveNode(node.get());
    return c.Finish(TRUE, 0);
}

BOOL CopyFileA_(LPCSTR existing, LPCSTR target, BOOL failIfExists)
{
    Call c("CopyFileA", Quote(existing) + ", " + Quote(target) + ", " + Number(failIfExists));
    if (c.injected) {
        return c.Finish(FALSE, c.injectedError);
    }
    NodePtr source;
    DWORD error = LookupText(existing, c.me, source);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (source->dir || source->deletePending) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!SharingAllows(source.get(), kR, kR | kD)) {
        return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
    }
    Path targetPath;
    error = ResolvePath(target, c.me, targetPath);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (targetPath.parts.empty() || targetPath.trailingSeparator) {
        return c.Finish(FALSE, targetPath.parts.empty() ? ERROR_ACCESS_DENIED : ERROR_INVALID_NAME);
    }
    Node* folder = nullptr;
    error = FindParent(targetPath, folder);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    NodePtr existingTarget = ChildPtr(folder, targetPath.parts.back());
    if (existingTarget) {
        if (existingTarget.get() == source.get()) {
            return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
        }
        if (existingTarget->dir) {
            return c.Finish(FALSE, ERROR_ACCESS_DENIED);
        }
        if (failIfExists) {
            return c.Finish(FALSE, ERROR_FILE_EXISTS);
        }
        if (existingTarget->deletePending || existingTarget->readOnly) {
            return c.Finish(FALSE, ERROR_ACCESS_DENIED);
        }
        // The target is opened for writing and shares nothing.
        if (!SharingAllows(existingTarget.get(), kW | kD, 0)) {
            return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
        }
        existingTarget->content = source->content;
        existingTarget->readOnly = source->readOnly;
        Change(c.me->id, "FileWritten " + NodeText(existingTarget.get()));
        return c.Finish(TRUE, 0);
    }
    NodePtr made = std::make_shared<Node>();
    made->name = targetPath.parts.back();
    made->content = source->content;
    made->readOnly = source->readOnly;
    made->parent = folder;
    folder->children[Upper(made->name)] = made;
    Change(c.me->id, "FileWritten " + NodeText(made.get()));
    return c.Finish(TRUE, 0);
}

// Only OPEN_EXISTING is modelled, with Windows' access and sharing checks:
// the program opens nothing else. Any other disposition fails with
// ERROR_CALL_NOT_IMPLEMENTED and fails the test, since the model cannot say
// what Windows would do. Folders cannot be opened (no backup semantics).
HANDLE CreateFileA_(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                    DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile)
{
    (void)security;
    (void)templateFile;
    Call c("CreateFileA", Quote(path) + ", " + Hex(access) + ", " + Hex(shareMode) + ", " +
                              Number(disposition) + ", " + Hex(flagsAndAttributes));
    auto fail = [&](DWORD error) {
        c.Error(error);
        c.Log("INVALID_HANDLE_VALUE (error " + Number(error) + ")");
        return INVALID_HANDLE_VALUE;
    };
    if (c.injected) {
        return fail(c.injectedError);
    }
    if (disposition != OPEN_EXISTING) {
        ReportLocked("CreateFileA disposition " + Number(disposition) + " is not modelled");
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    NodePtr node;
    DWORD error = LookupText(path, c.me, node);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    bool deleteOnClose = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    DWORD bits = AccessBits(access) | (deleteOnClose ? kD : 0);
    DWORD share = shareMode & 7;
    if (node->dir || node->deletePending) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (node->readOnly && (bits & (kW | kD))) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (!SharingAllows(node.get(), bits, share)) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    // A mapped image cannot be marked for deletion.
    if (deleteOnClose && node->imageRefs > 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    ObjectPtr object = std::make_shared<KObject>();
    object->kind = OBJ_FILE;
    object->file = node;
    object->access = bits;
    object->share = share;
    object->deleteOnClose = deleteOnClose;
    node->opens.push_back(object.get());
    HANDLE handle = NewHandle(c.me, object);
    c.Log(Hex(reinterpret_cast<uintptr_t>(handle)));
    return handle;
}

// Search and key handles are not closed by CloseHandle here (FindClose and
// RegCloseKey are theirs); the pseudo handle INVALID_HANDLE_VALUE (the
// current process) closes without effect, as on Windows.
BOOL CloseHandle_(HANDLE object)
{
    Call c("CloseHandle", Hex(reinterpret_cast<uintptr_t>(object)));
    if (c.injected) {
        c.Log("FALSE");
        return FALSE;
    }
    if (object == INVALID_HANDLE_VALUE) {
        c.Log("TRUE (pseudo handle)");
        return TRUE;
    }
    ObjectPtr found = HandleObject(c.me, object);
    if (!found || found->kind == OBJ_FIND || found->kind == OBJ_KEY) {
        c.Error(ERROR_INVALID_HANDLE);
        c.Log(BoolResult(FALSE, c.me));
        return FALSE;
    }
    CloseHandleOf(c.me, reinterpret_cast<uintptr_t>(object));
    c.Log("TRUE");
    return TRUE;
}

// The folder must exist unless creation is asked for (CSIDL_FLAG_CREATE or
// the create argument), as SHGetFolderPath verifies it. The owner window is
// not looked at.
BOOL SHGetSpecialFolderPathA_(HWND owner, LPSTR path, int csidl, BOOL create)
{
    (void)owner;
    Call c("SHGetSpecialFolderPathA", Hex(static_cast<uintptr_t>(csidl)) + ", " + Number(create));
    auto done = [&](BOOL ok, DWORD error) {
        if (!ok) {
            c.Error(error);
        }
        c.Log(ok ? "TRUE " + Quote(path) : BoolResult(FALSE, c.me));
        return ok;
    };
    if (c.injected) {
        return done(FALSE, c.injectedError);
    }
    bool createIt = create || (csidl & kCsidlFlagCreate) != 0;
    int which = csidl & 0xFF;
    auto it = M().specialFolders.find(which);
    if (it == M().specialFolders.end() || M().failedSpecialFolders.count(which) ||
        it->second.size() >= MAX_PATH) {
        return done(FALSE, ERROR_FILE_NOT_FOUND);
    }
    Path resolved;
    NodePtr node;
    DWORD error = LookupText(it->second.c_str(), c.me, node, &resolved);
    if (error != ERROR_SUCCESS || !node->dir) {
        if (!createIt || (node && !node->dir) || MakeFolders(resolved, c.me->id, true) == nullptr) {
            return done(FALSE, ERROR_FILE_NOT_FOUND);
        }
    }
    std::memcpy(path, it->second.c_str(), it->second.size() + 1);
    return done(TRUE, 0);
}

// The length without the zero when it fits; else the size needed with the
// zero, the buffer untouched; 0 on failure.
DWORD GetTempPathA_(DWORD size, LPSTR buffer)
{
    Call c("GetTempPathA", Number(size));
    if (c.injected) {
        c.Log("0");
        return 0;
    }
    const std::string& temp = M().tempPath;
    if (temp.empty()) {
        c.Error(kErrorEnvVarNotFound);
        c.Log("0");
        return 0;
    }
    if (temp.size() < size) {
        std::memcpy(buffer, temp.c_str(), temp.size() + 1);
        c.Log(Number(static_cast<long long>(temp.size())) + " " + Quote(temp.c_str()));
        return static_cast<DWORD>(temp.size());
    }
    c.Log(Number(static_cast<long long>(temp.size() + 1)) + " (too small)");
    return static_cast<DWORD>(temp.size() + 1);
}

LPSTR lstrcatA_(LPSTR target, LPCSTR source)
{
    Call c("lstrcatA", Quote(target) + ", " + Quote(source));
    if (c.injected || target == nullptr) {
        c.Log("NULL");
        return nullptr;
    }
    if (source != nullptr) {
        std::strcat(target, source);
    }
    c.Log(Quote(target));
    return target;
}

// Events and mutexes share one case-sensitive namespace.
HANDLE CreateNamed(Call& c, ObjectKind kind, LPCSTR name, bool manualReset, bool initialState,
                   bool initialOwner)
{
    if (name != nullptr && std::strlen(name) >= MAX_PATH) {
        c.Error(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string key = name == nullptr ? std::string() : std::string(name);
    if (!key.empty()) {
        auto it = M().named.find(key);
        if (it != M().named.end()) {
            if (it->second->kind != kind) {
                c.Error(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            HANDLE handle = NewHandle(c.me, it->second);
            c.Error(ERROR_ALREADY_EXISTS);
            return handle;
        }
    }
    ObjectPtr object = std::make_shared<KObject>();
    object->kind = kind;
    object->name = key;
    object->manualReset = manualReset;
    object->signalled = initialState;
    if (initialOwner) {
        object->owner = c.me;
        object->recursion = 1;
    }
    if (!key.empty()) {
        M().named[key] = object;
    }
    c.Error(ERROR_SUCCESS);
    return NewHandle(c.me, object);
}

HANDLE OpenNamed(Call& c, ObjectKind kind, LPCSTR name)
{
    if (name == nullptr) {
        c.Error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto it = M().named.find(name);
    if (it == M().named.end()) {
        c.Error(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (it->second->kind != kind) {
        c.Error(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return NewHandle(c.me, it->second);
}

std::string HandleResult(HANDLE handle, const Process* p, bool created = false)
{
    return handle == nullptr ? "NULL (error " + Number(p->lastError) + ")"
                             : Hex(reinterpret_cast<uintptr_t>(handle)) +
                                   (created && p->lastError == ERROR_ALREADY_EXISTS ? " (already exists)" : "");
}

HANDLE CreateEventA_(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    (void)security;
    Call c("CreateEventA", Number(manualReset) + ", " + Number(initialState) + ", " + Quote(name));
    if (c.injected) {
        c.Log("NULL");
        return nullptr;
    }
    HANDLE handle = CreateNamed(c, OBJ_EVENT, name, manualReset != 0, initialState != 0, false);
    c.Log(HandleResult(handle, c.me, true));
    return handle;
}

// The access asked for is not checked; inheritance is not modelled.
HANDLE OpenEventA_(DWORD access, BOOL inherit, LPCSTR name)
{
    Call c("OpenEventA", Hex(access) + ", " + Number(inherit) + ", " + Quote(name));
    if (c.injected) {
        c.Log("NULL");
        return nullptr;
    }
    HANDLE handle = OpenNamed(c, OBJ_EVENT, name);
    c.Log(HandleResult(handle, c.me));
    return handle;
}

BOOL SetEvent_(HANDLE event)
{
    Call c("SetEvent", Hex(reinterpret_cast<uintptr_t>(event)));
    ObjectPtr object = OwnHandleOfKind(c, event, OBJ_EVENT);
    if (!object) {
        return FALSE;
    }
    object->signalled = true;
    c.Log("TRUE");
    return TRUE;
}

// An existing mutex is opened, and its ownership is then not granted.
HANDLE CreateMutexA_(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name)
{
    (void)security;
    Call c("CreateMutexA", Number(initialOwner) + ", " + Quote(name));
    if (c.injected) {
        c.Log("NULL");
        return nullptr;
    }
    HANDLE handle = CreateNamed(c, OBJ_MUTEX, name, false, false, initialOwner != 0);
    c.Log(HandleResult(handle, c.me, true));
    return handle;
}

HANDLE OpenMutexA_(DWORD access, BOOL inherit, LPCSTR name)
{
    Call c("OpenMutexA", Hex(access) + ", " + Number(inherit) + ", " + Quote(name));
    if (c.injected) {
        c.Log("NULL");
        return nullptr;
    }
    HANDLE handle = OpenNamed(c, OBJ_MUTEX, name);
    c.Log(HandleResult(handle, c.me));
    return handle;
}

const char* WaitResultText(DWORD result)
{
    switch (result) {
    case WAIT_OBJECT_0: return "WAIT_OBJECT_0";
    case WAIT_ABANDONED: return "WAIT_ABANDONED";
    case WAIT_TIMEOUT: return "WAIT_TIMEOUT";
    default: return "WAIT_FAILED";
    }
}

// A wait that cannot be satisfied at once hands the baton on; the process
// runs again when the object is signalled or its time is up.
DWORD WaitForSingleObject_(HANDLE object, DWORD milliseconds)
{
    Call c("WaitForSingleObject", Hex(reinterpret_cast<uintptr_t>(object)) + ", " +
                                      (milliseconds == INFINITE ? std::string("INFINITE") : Number(milliseconds)));
    auto done = [&](DWORD result) {
        c.Log(std::string(WaitResultText(result)) + " at " + Number(static_cast<long long>(M().clock)) + " ms" +
              (result == WAIT_FAILED ? " (error " + Number(c.me->lastError) + ")" : ""));
        return result;
    };
    if (c.injected) {
        return done(WAIT_FAILED);
    }
    ObjectPtr target;
    if (object == INVALID_HANDLE_VALUE) {
        // The current process's pseudo handle: signalled when it has ended,
        // which it never is while it waits.
        target = std::make_shared<KObject>();
        target->kind = OBJ_PROCESS;
        target->process = c.me;
    } else {
        target = HandleObject(c.me, object);
    }
    if (!target || target->kind == OBJ_FIND || target->kind == OBJ_KEY) {
        c.Error(ERROR_INVALID_HANDLE);
        return done(WAIT_FAILED);
    }
    if (Signalled(target.get(), c.me)) {
        return done(Acquire(target.get(), c.me));
    }
    if (milliseconds == 0) {
        return done(WAIT_TIMEOUT);
    }
    M().timeline.push_back(Number(c.me->id) + " WaitForSingleObject(" + c.args + ") blocks at " +
                           Number(static_cast<long long>(M().clock)) + " ms");
    Process* me = c.me;
    me->waitKind = WAIT_FOR_OBJECT;
    me->waitObject = target;
    me->hasDeadline = milliseconds != INFINITE;
    me->deadline = M().clock + milliseconds;
    BlockUntilWoken(c.lock, me);
    me->waitKind = WAIT_NOTHING;
    me->waitObject.reset();
    me->hasDeadline = false;
    if (me->wokenByDeadlock) {
        me->wokenByDeadlock = false;
        c.Error(kErrorPossibleDeadlock);
        return done(WAIT_FAILED);
    }
    if (Signalled(target.get(), me)) {
        return done(Acquire(target.get(), me));
    }
    return done(WAIT_TIMEOUT);
}

DWORD StartProgram(Call& c, LPCSTR applicationName, LPCSTR commandLine, LPCSTR currentDirectory,
                   bool byWinExec, Process*& started)
{
    Path image;
    NodePtr node;
    DWORD error = ResolveProgram(applicationName, commandLine, c.me, image, node);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = CheckImage(node.get());
    if (error != ERROR_SUCCESS) {
        return error;
    }
    Path directory = c.me->currentDirectory;
    if (currentDirectory != nullptr) {
        NodePtr folder;
        if (LookupText(currentDirectory, c.me, folder, &directory) != ERROR_SUCCESS || !folder->dir) {
            return ERROR_DIRECTORY;
        }
    }
    std::string line = commandLine != nullptr ? std::string(commandLine) : std::string(applicationName);
    started = NewProcess(c.me, image, node, line, directory, byWinExec);
    return ERROR_SUCCESS;
}

// Handle inheritance, creation flags, the environment and the start-up
// information are not modelled. The child does not run before the caller
// waits or ends.
BOOL CreateProcessA_(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                     LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                     LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                     LPPROCESS_INFORMATION processInformation)
{
    (void)processSecurity;
    (void)threadSecurity;
    (void)environment;
    (void)startupInfo;
    Call c("CreateProcessA", Quote(applicationName) + ", " + Quote(commandLine) + ", " +
                                 Number(inheritHandles) + ", " + Hex(creationFlags) + ", " +
                                 Quote(currentDirectory));
    auto done = [&](BOOL ok, DWORD error) {
        if (!ok) {
            c.Error(error);
        }
        c.Log(ok ? "TRUE pid " + Number(processInformation->dwProcessId) : BoolResult(FALSE, c.me));
        return ok;
    };
    if (c.injected) {
        return done(FALSE, c.injectedError);
    }
    if (processInformation == nullptr || (applicationName == nullptr && commandLine == nullptr)) {
        return done(FALSE, ERROR_INVALID_PARAMETER);
    }
    Process* child = nullptr;
    DWORD error = StartProgram(c, applicationName, commandLine, currentDirectory, false, child);
    if (error != ERROR_SUCCESS) {
        return done(FALSE, error);
    }
    ObjectPtr processObject = std::make_shared<KObject>();
    processObject->kind = OBJ_PROCESS;
    processObject->process = child;
    ObjectPtr threadObject = std::make_shared<KObject>();
    threadObject->kind = OBJ_THREAD;
    threadObject->process = child;
    processInformation->hProcess = NewHandle(c.me, processObject);
    processInformation->hThread = NewHandle(c.me, threadObject);
    processInformation->dwProcessId = child->id;
    processInformation->dwThreadId = 1000 + child->id;
    return done(TRUE, 0);
}

// Returns 33 when the program started, else the error when it is below 32
// (2: no program found), else 0.
UINT WinExec_(LPCSTR commandLine, UINT showCommand)
{
    Call c("WinExec", Quote(commandLine) + ", " + Number(showCommand));
    auto done = [&](UINT result) {
        c.Log(Number(result));
        return result;
    };
    if (c.injected) {
        return done(c.injectedError < 32 ? c.injectedError : 0);
    }
    if (commandLine == nullptr) {
        c.Error(ERROR_INVALID_PARAMETER);
        return done(0);
    }
    M().winExecCommands.push_back(commandLine);
    Process* child = nullptr;
    DWORD error = StartProgram(c, nullptr, commandLine, nullptr, true, child);
    if (error != ERROR_SUCCESS) {
        c.Error(error);
        return done(error < 32 ? error : 0);
    }
    return done(33);
}

void ResetLocked()
{
    Machine& m = M();
    m.drives.clear();
    static const char* const rootNames[] = {"HKCR", "HKCU", "HKLM", "HKU"};
    for (int i = 0; i < 4; ++i) {
        m.roots[i] = std::make_shared<RegKey>();
        m.roots[i]->name = rootNames[i];
    }
    m.specialFolders.clear();
    m.failedSpecialFolders.clear();
    m.tempPath.clear();
    m.programs.clear();
    m.named.clear();
    m.processes.clear();
    m.clock = 0;
    m.nextHandle = 0x100;
    m.nextWindow = 0x10010;
    m.templates.clear();
    m.script.clear();
    m.dialogRecords.clear();
    m.openDialogs.clear();
    m.injections.clear();
    m.callLog.clear();
    m.timeline.clear();
    m.changes.clear();
    m.winExecCommands.clear();

    NodePtr c = std::make_shared<Node>();
    c->name = "C:";
    c->dir = true;
    m.drives['C'] = c;

    std::unique_ptr<Process> shell(new Process);
    shell->id = 1;
    shell->imagePath = "C:\\Windows\\explorer.exe";
    shell->commandLine = shell->imagePath;
    shell->commandBuffer = shell->commandLine;
    shell->currentDirectory = Path();
    shell->state = RUNNING;
    shell->instance = InstanceOf(1);
    m.running = shell.get();
    m.processes.push_back(std::move(shell));
}

const Path& ShellPath(const std::string& text, Path& out, bool mustBeFolder, NodePtr* node = nullptr)
{
    NodePtr found;
    DWORD error = LookupText(text.c_str(), Shell(), found, &out, TEST_PATH);
    if (error != ERROR_SUCCESS || found->dir != mustBeFolder) {
        ReportLocked("\"" + text + "\" is no existing " + (mustBeFolder ? "folder" : "file"));
    }
    if (node != nullptr) {
        *node = error == ERROR_SUCCESS ? found : NodePtr();
    }
    return out;
}

}  // namespace

extern const PlatformOps MemoryPlatformOps = {
    RestrictDllSearchToSystem_,
    GetCommandLineA_,
    IsDBCSLeadByte_,
    GetModuleHandleA_,
    GetModuleFileNameA_,
    DialogBoxParamA_,
    EndDialog_,
    RegOpenKeyExA_,
    RegOpenKeyA_,
    RegQueryValueExA_,
    RegCloseKey_,
    RegDeleteKeyA_,
    FindFirstFileA_,
    FindNextFileA_,
    FindClose_,
    DeleteFileA_,
    RemoveDirectoryA_,
    CopyFileA_,
    CreateFileA_,
    CloseHandle_,
    SetCurrentDirectoryA_,
    SHGetSpecialFolderPathA_,
    GetTempPathA_,
    lstrcatA_,
    CreateEventA_,
    OpenEventA_,
    SetEvent_,
    CreateMutexA_,
    OpenMutexA_,
    WaitForSingleObject_,
    CreateProcessA_,
    WinExec_,
};

namespace mem {

typedef std::unique_lock<std::mutex> Lock;

void Reset()
{
    std::vector<std::thread> toJoin;
    {
        Lock lock(Mutex());
        if (!M().processes.empty()) {
            for (auto& p : M().processes) {
                if (p->id == 1) {
                    continue;
                }
                if (p->state == ENDED || p->state == READY) {
                    // A process that never ran is dropped without running.
                    p->killed = true;
                    toJoin.push_back(std::move(p->thread));
                } else {
                    // Blocked for good (a deadlock the test moved past): its
                    // thread sleeps on until the test program exits.
                    p->killed = true;
                    p->thread.detach();
                    p.release();
                }
            }
            Baton().notify_all();
        }
    }
    for (std::thread& t : toJoin) {
        if (t.joinable()) {
            t.join();
        }
    }
    Lock lock(Mutex());
    ResetLocked();
    g_platform = &MemoryPlatformOps;
}

void SetFailureReporter(std::function<void(const std::string&)> reporter)
{
    Lock lock(Mutex());
    Reporter() = std::move(reporter);
}

void AddFolder(const std::string& path)
{
    Lock lock(Mutex());
    Path resolved;
    DWORD error = ResolvePath(path.c_str(), Shell(), resolved, TEST_PATH);
    if ((error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) ||
        MakeFolders(resolved, 0, false) == nullptr) {
        ReportLocked("cannot seed folder \"" + path + "\"");
    }
}

void AddFile(const std::string& path, const std::string& content)
{
    Lock lock(Mutex());
    Path resolved;
    DWORD error = ResolvePath(path.c_str(), Shell(), resolved, TEST_PATH);
    if ((error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) || resolved.parts.empty()) {
        ReportLocked("cannot seed file \"" + path + "\"");
        return;
    }
    Path folderPath = resolved;
    folderPath.parts.pop_back();
    Node* folder = MakeFolders(folderPath, 0, false);
    if (folder == nullptr) {
        ReportLocked("cannot seed file \"" + path + "\": a file stands in the way");
        return;
    }
    Node* existing = Child(folder, resolved.parts.back());
    if (existing != nullptr) {
        if (existing->dir) {
            ReportLocked("cannot seed file \"" + path + "\": it is a folder");
            return;
        }
        existing->content = content;
        return;
    }
    NodePtr made = std::make_shared<Node>();
    made->name = resolved.parts.back();
    made->content = content;
    made->parent = folder;
    folder->children[Upper(made->name)] = made;
}

namespace {
NodePtr SeededNode(const std::string& path)
{
    NodePtr node;
    if (LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) != ERROR_SUCCESS) {
        ReportLocked("\"" + path + "\" does not exist");
        return NodePtr();
    }
    return node;
}
}  // namespace

void SetReadOnly(const std::string& path, bool readOnly)
{
    Lock lock(Mutex());
    NodePtr node = SeededNode(path);
    if (node) {
        node->readOnly = readOnly;
    }
}

void SetInUse(const std::string& path, bool inUse)
{
    Lock lock(Mutex());
    NodePtr node = SeededNode(path);
    if (node) {
        node->inUseElsewhere = inUse;
        // The other program letting go of a delete-pending file ends it;
        // seeding logs no change.
        if (node->deletePending && node->opens.empty() && node->imageRefs == 0 && !inUse &&
            node->parent != nullptr) {
            RemoveNode(node.get());
        }
    }
}

void AddKey(HKEY root, const std::string& subKey)
{
    Lock lock(Mutex());
    if (!MakeKey(root, subKey)) {
        ReportLocked("cannot seed key under a root that is not predefined");
    }
}

void SetValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
              const std::string& bytes)
{
    Lock lock(Mutex());
    KeyPtr key = MakeKey(root, subKey);
    if (!key) {
        ReportLocked("cannot seed value under a root that is not predefined");
        return;
    }
    RegValue& value = key->values[Upper(name)];
    value.name = name;
    value.type = type;
    value.bytes = bytes;
}

void SetStringValue(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& text)
{
    SetValue(root, subKey, name, REG_SZ, text + std::string(1, '\0'));
}

void ProtectKey(HKEY root, const std::string& subKey)
{
    Lock lock(Mutex());
    KeyPtr key = MakeKey(root, subKey);
    if (key) {
        key->isProtected = true;
    }
}

void SetSpecialFolder(int csidl, const std::string& path)
{
    Lock lock(Mutex());
    M().specialFolders[csidl & 0xFF] = path;
}

void FailSpecialFolder(int csidl)
{
    Lock lock(Mutex());
    M().failedSpecialFolders[csidl & 0xFF] = true;
}

void SetTempPath(const std::string& path)
{
    Lock lock(Mutex());
    M().tempPath = path;
}

void RegisterProgram(const std::string& imageContent, ProgramMain main)
{
    Lock lock(Mutex());
    M().programs.push_back(std::make_pair(imageContent, std::move(main)));
}

void SetShellProcess(const std::string& imagePath, const std::string& commandLine,
                     const std::string& currentDirectory)
{
    Lock lock(Mutex());
    Process* shell = Shell();
    ReleaseImage(shell);
    Path image;
    NodePtr node;
    if (ResolvePath(imagePath.c_str(), shell, image, TEST_PATH) == ERROR_SUCCESS &&
        Lookup(image, node) == ERROR_SUCCESS && node->dir) {
        node.reset();
    }
    Path directory;
    ShellPath(currentDirectory, directory, true);
    shell->imagePath = PathText(image);
    if (node) {
        shell->image = node;
        ++node->imageRefs;
    }
    shell->commandLine = commandLine;
    shell->commandBuffer = commandLine;
    shell->currentDirectory = directory;
}

DWORD StartProcess(const std::string& imagePath, const std::string& commandLine,
                   const std::string& currentDirectory)
{
    Lock lock(Mutex());
    Path image;
    NodePtr node;
    ShellPath(imagePath, image, false, &node);
    Path directory;
    ShellPath(currentDirectory, directory, true);
    if (!node) {
        return 0;
    }
    DWORD error = CheckImage(node.get());
    if (error != ERROR_SUCCESS) {
        ReportLocked("\"" + imagePath + "\" cannot be started (error " + Number(error) + ")");
        return 0;
    }
    return NewProcess(Shell(), image, node, commandLine, directory, false)->id;
}

void RunUntilAllEnded()
{
    Lock lock(Mutex());
    Process* shell = Shell();
    if (Self() != shell) {
        ReportLocked("RunUntilAllEnded called from a model process");
        return;
    }
    shell->waitKind = WAIT_FOR_ALL_ENDED;
    shell->hasDeadline = false;
    if (!WaitSatisfied(shell)) {
        BlockUntilWoken(lock, shell);
    }
    shell->waitKind = WAIT_NOTHING;
    shell->wokenByDeadlock = false;
}

void EndShellProcess()
{
    Lock lock(Mutex());
    Process* shell = Shell();
    CloseAllHandles(shell);
    ReleaseImage(shell);
    shell->currentDirectory = Path();
}

void AddDialogTemplate(int resourceId, const std::vector<Control>& controls)
{
    Lock lock(Mutex());
    M().templates[resourceId] = controls;
}

void ScriptDialogs(const std::vector<std::vector<UserAction>>& answers)
{
    Lock lock(Mutex());
    for (const auto& answer : answers) {
        M().script.push_back(answer);
    }
}

std::vector<DialogRecord> DialogsShown()
{
    Lock lock(Mutex());
    return M().dialogRecords;
}

std::vector<std::string> OperationNames()
{
    return std::vector<std::string>(std::begin(kOperations), std::end(kOperations));
}

void FailCall(const std::string& operation, DWORD error, int occurrence)
{
    Lock lock(Mutex());
    bool known = false;
    for (const char* name : kOperations) {
        known = known || operation == name;
    }
    if (!known || occurrence < 1) {
        ReportLocked("FailCall: no operation \"" + operation + "\" (or occurrence below 1)");
        return;
    }
    M().injections.push_back(Injection{operation, error, occurrence});
}

DWORD LastError()
{
    Lock lock(Mutex());
    return Self()->lastError;
}

bool FileExists(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    return LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) == ERROR_SUCCESS && !node->dir;
}

bool FolderExists(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    return LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) == ERROR_SUCCESS && node->dir;
}

bool DeletePending(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    return LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) == ERROR_SUCCESS && node->deletePending;
}

std::string FileContent(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    if (LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) != ERROR_SUCCESS || node->dir) {
        return std::string();
    }
    return node->content;
}

bool KeyExists(HKEY root, const std::string& subKey)
{
    Lock lock(Mutex());
    int index = 0;
    if (!IsRoot(root, index)) {
        return false;
    }
    KeyPtr key;
    return FindSubKey(M().roots[index], subKey.c_str(), key) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::string& subKey, const std::string& name)
{
    Lock lock(Mutex());
    int index = 0;
    KeyPtr key;
    return IsRoot(root, index) && FindSubKey(M().roots[index], subKey.c_str(), key) == ERROR_SUCCESS &&
           key->values.count(Upper(name)) != 0;
}

std::vector<ProcessRecord> Processes()
{
    Lock lock(Mutex());
    std::vector<ProcessRecord> records;
    for (auto& p : M().processes) {
        records.push_back(ProcessRecord{p->id, p->parentId, p->imagePath, p->commandLine,
                                        PathText(p->currentDirectory), p->startedByWinExec,
                                        p->state == ENDED, p->exitCode, p->restrictedDllSearchFirst});
    }
    return records;
}

unsigned OpenHandleCount()
{
    Lock lock(Mutex());
    unsigned count = 0;
    for (auto& p : M().processes) {
        count += static_cast<unsigned>(p->handles.size());
    }
    return count;
}

unsigned OpenHandleCount(DWORD processId)
{
    Lock lock(Mutex());
    if (processId == 0 || processId > M().processes.size()) {
        return 0;
    }
    return static_cast<unsigned>(M().processes[processId - 1]->handles.size());
}

bool NamedObjectExists(const std::string& name)
{
    Lock lock(Mutex());
    return M().named.count(name) != 0;
}

std::vector<std::string> CallLog()
{
    Lock lock(Mutex());
    return M().callLog;
}

std::vector<std::string> WinExecCommands()
{
    Lock lock(Mutex());
    return M().winExecCommands;
}

std::vector<std::string> Changes()
{
    Lock lock(Mutex());
    return M().changes;
}

DWORD Now()
{
    Lock lock(Mutex());
    return static_cast<DWORD>(M().clock);
}

std::string Dump()
{
    Lock lock(Mutex());
    return DumpLocked();
}

}  // namespace mem
