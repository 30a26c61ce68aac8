// The machine and its scheduler: the model's one lock, the baton that lets
// one model process run at a time, the clock that jumps to the earliest
// timeout when every process waits, the record of each modelled call, and
// the table of the modelled operations.
//
// Processes: every model process runs on a thread of its own, but only one
// runs at a time, so a run is deterministic. The baton passes only when the
// running process ends or waits on an object that is not signalled, as a
// single processor would let another thread run only then.
#include "platform/memory/machine.h"

#include "platform/fault_injection.h"

#include <cstdio>
#include <cstdlib>

namespace memory_model {

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

// --- The machine -----------------------------------------------------------------

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

// One modelled call: holds the machine's lock and knows the calling process.
Call::Call(const char* op, std::vector<std::string> arguments)
    : lock(Mutex()), me(Self()), operation(op), args(std::move(arguments))
{
    ++me->calls;
}

void Call::Log(const std::string& result)
{
    mem::CallRecord record = {me->id, operation, args, result, false};
    M().timeline.push_back(mem::Text(record));
    M().callLog.push_back(std::move(record));
}

// --- Failures injected by the layer over the model ---------------------------------

namespace {

// An argument or result of a call the layer failed, shown as the model's
// own calls show theirs.
std::string Shown(const fault::Raw& raw)
{
    switch (raw.kind) {
    case fault::Raw::SIGNED:
        return Number(static_cast<long long>(raw.bits));
    case fault::Raw::UNSIGNED:
        return std::to_string(raw.bits);
    case fault::Raw::TEXT:
        // Below 0x10000 no string but a resource number (MAKEINTRESOURCEA),
        // as DialogBoxParamA takes its template's.
        return raw.bits != 0 && raw.bits < 0x10000 ? std::to_string(raw.bits)
                                                   : Quote(reinterpret_cast<const char*>(raw.bits));
    case fault::Raw::KEY:
        return RootText(reinterpret_cast<HKEY>(raw.bits));
    case fault::Raw::NOTHING:
        return "(nothing)";
    case fault::Raw::POINTER:
        break;
    }
    return Hex(raw.bits);
}

// A call the layer failed never reaches the model; it is logged as made.
void LogInjected(const fault::InjectedCall& call)
{
    Lock lock(Mutex());
    Process* me = Self();
    ++me->calls;
    std::vector<std::string> args;
    for (const fault::Raw& raw : call.args) {
        args.push_back(Shown(raw));
    }
    mem::CallRecord record = {me->id, call.operation, args,
                              Shown(call.result) + " (error " + Number(call.error) + ")", true};
    M().timeline.push_back(mem::Text(record));
    M().callLog.push_back(std::move(record));
}

}  // namespace

std::string BoolResult(BOOL result, const Process* p)
{
    return result ? "TRUE" : "FALSE (error " + Number(p->lastError) + ")";
}

DWORD GetLastError_(void)
{
    Call c("GetLastError", {});
    const DWORD error = c.me->lastError;
    c.Log(Number(error));
    return error;
}

BOOL Call::Finish(BOOL ok, DWORD error)
{
    if (!ok) {
        Error(error);
    }
    Log(BoolResult(ok, me));
    return ok;
}

void Change(DWORD pid, mem::ChangeKind kind, const std::string& path)
{
    M().changes.push_back(mem::ChangeRecord{pid, kind, path});
}

std::string Joined(const std::vector<std::string>& args)
{
    std::string text;
    for (size_t i = 0; i < args.size(); ++i) {
        text += (i == 0 ? "" : ", ") + args[i];
    }
    return text;
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
    m.codePage = 1252;
    m.programs.clear();
    m.named.clear();
    m.processes.clear();
    m.clock = 0;
    m.imageLockAfterEnd = 0;
    m.nextHandle = 0x100;
    m.nextWindow = 0x10010;
    m.templates.clear();
    m.script.clear();
    m.dialogRecords.clear();
    m.openDialogs.clear();
    m.callLog.clear();
    m.timeline.clear();
    m.changes.clear();
    m.winExecCommands.clear();

    NodePtr c = std::make_shared<Node>();
    c->name = "C:";
    c->dir = true;
    m.drives['C'] = c;
    // Every Windows has its system folder.
    m.systemFolder = "C:\\Windows\\System32";
    Path system;
    system.parts = {"Windows", "System32"};
    MakeFolders(system, 0, false);

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

}  // namespace memory_model

// Each slot is the model's function of the slot's name with a "_" after it.
extern const PlatformOps MemoryPlatformOps = {
#define MODEL_SLOT(Result, Name, Params, Args) memory_model::Name##_,
    PLATFORM_SLOTS(MODEL_SLOT)
#undef MODEL_SLOT
};

namespace mem {

using namespace memory_model;

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
    // Calls go through the failure-injection layer, which mem::FailCall
    // arms; Wrap also forgets the failures armed before. A failed call's
    // last error is the calling model process's.
    fault::Wrap(fault::Hooks{&MemoryPlatformOps, SetLastError, LogInjected});
    g_platform = &fault::FaultInjectionOps;
}

void SetFailureReporter(std::function<void(const std::string&)> reporter)
{
    Lock lock(Mutex());
    Reporter() = std::move(reporter);
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

std::vector<std::string> OperationNames()
{
    return fault::OperationNames();
}

void FailCall(const std::string& operation, DWORD error, int occurrence)
{
    if (!fault::Fail(operation, error, occurrence)) {
        Lock lock(Mutex());
        ReportLocked("FailCall: no operation \"" + operation + "\" (or occurrence below 1)");
    }
}

DWORD Now()
{
    Lock lock(Mutex());
    return static_cast<DWORD>(M().clock);
}

}  // namespace mem
