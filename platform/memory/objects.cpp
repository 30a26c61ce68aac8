// Handles and named kernel objects: events and mutexes in one
// case-sensitive namespace, a name living as long as a handle to it, a mutex
// abandoned when its owner ends, and WaitForSingleObject and Sleep, which
// hand the baton on when they have to wait.
#include "platform/memory/machine.h"

#include <algorithm>
#include <cstring>

namespace memory_model {

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

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

void CloseAllHandles(Process* process)
{
    AbandonMutexes(process);
    while (!process->handles.empty()) {
        CloseHandleOf(process, process->handles.begin()->first);
    }
}

// The object behind one of the calling process's handles, if it is of this
// kind. Otherwise the call has failed and is
// logged (ERROR_INVALID_HANDLE for a wrong handle) and the result is empty.
ObjectPtr OwnHandleOfKind(Call& c, HANDLE handle, ObjectKind kind)
{
    ObjectPtr object = HandleObject(c.me, handle);
    if (!object || object->kind != kind) {
        c.Finish(FALSE, ERROR_INVALID_HANDLE);
        return ObjectPtr();
    }
    return object;
}

// Search and key handles are not closed by CloseHandle here (FindClose and
// RegCloseKey are theirs); the pseudo handle INVALID_HANDLE_VALUE (the
// current process) closes without effect, as on Windows.
BOOL CloseHandle_(HANDLE object)
{
    Call c("CloseHandle", {Hex(reinterpret_cast<uintptr_t>(object))});
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

namespace {

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

// The handle gets the access asked for: SetEvent needs EVENT_MODIFY_STATE,
// a wait SYNCHRONIZE. Inheritance is not modelled.
HANDLE OpenNamed(Call& c, ObjectKind kind, LPCSTR name, DWORD access)
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
    HANDLE handle = NewHandle(c.me, it->second);
    c.me->handleAccess[reinterpret_cast<uintptr_t>(handle)] = access;
    return handle;
}

std::string HandleResult(HANDLE handle, const Process* p, bool created = false)
{
    return handle == nullptr ? "NULL (error " + Number(p->lastError) + ")"
                             : Hex(reinterpret_cast<uintptr_t>(handle)) +
                                   (created && p->lastError == ERROR_ALREADY_EXISTS ? " (already exists)" : "");
}

}  // namespace

HANDLE CreateEventA_(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    (void)security;
    Call c("CreateEventA", {Number(manualReset), Number(initialState), Quote(name)});
    HANDLE handle = CreateNamed(c, OBJ_EVENT, name, manualReset != 0, initialState != 0, false);
    c.Log(HandleResult(handle, c.me, true));
    return handle;
}

namespace {

const DWORD kEventModifyState = 0x0002;

// The handle was opened by name without this access right.
bool LacksAccess(const Process* process, HANDLE handle, DWORD right)
{
    auto it = process->handleAccess.find(reinterpret_cast<uintptr_t>(handle));
    return it != process->handleAccess.end() && (it->second & right) == 0;
}

}  // namespace

HANDLE OpenEventA_(DWORD access, BOOL inherit, LPCSTR name)
{
    Call c("OpenEventA", {Hex(access), Number(inherit), Quote(name)});
    HANDLE handle = OpenNamed(c, OBJ_EVENT, name, access);
    c.Log(HandleResult(handle, c.me));
    return handle;
}

BOOL SetEvent_(HANDLE event)
{
    Call c("SetEvent", {Hex(reinterpret_cast<uintptr_t>(event))});
    ObjectPtr object = OwnHandleOfKind(c, event, OBJ_EVENT);
    if (!object) {
        return FALSE;
    }
    if (LacksAccess(c.me, event, kEventModifyState)) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    object->signalled = true;
    c.Log("TRUE");
    return TRUE;
}

// An existing mutex is opened, and its ownership is then not granted.
HANDLE CreateMutexA_(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name)
{
    (void)security;
    Call c("CreateMutexA", {Number(initialOwner), Quote(name)});
    HANDLE handle = CreateNamed(c, OBJ_MUTEX, name, false, false, initialOwner != 0);
    c.Log(HandleResult(handle, c.me, true));
    return handle;
}

HANDLE OpenMutexA_(DWORD access, BOOL inherit, LPCSTR name)
{
    Call c("OpenMutexA", {Hex(access), Number(inherit), Quote(name)});
    HANDLE handle = OpenNamed(c, OBJ_MUTEX, name, access);
    c.Log(HandleResult(handle, c.me));
    return handle;
}

namespace {

const char* WaitResultText(DWORD result)
{
    switch (result) {
    case WAIT_OBJECT_0: return "WAIT_OBJECT_0";
    case WAIT_ABANDONED: return "WAIT_ABANDONED";
    case WAIT_TIMEOUT: return "WAIT_TIMEOUT";
    default: return "WAIT_FAILED";
    }
}

}  // namespace

// A wait that cannot be satisfied at once hands the baton on; the process
// runs again when the object is signalled or its time is up.
DWORD WaitForSingleObject_(HANDLE object, DWORD milliseconds)
{
    Call c("WaitForSingleObject", {Hex(reinterpret_cast<uintptr_t>(object)),
                                   (milliseconds == INFINITE ? std::string("INFINITE") : Number(milliseconds))});
    auto done = [&](DWORD result) {
        c.Log(std::string(WaitResultText(result)) + " at " + Number(static_cast<long long>(M().clock)) + " ms" +
              (result == WAIT_FAILED ? " (error " + Number(c.me->lastError) + ")" : ""));
        return result;
    };
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
    if (LacksAccess(c.me, object, SYNCHRONIZE)) {
        c.Error(ERROR_ACCESS_DENIED);
        return done(WAIT_FAILED);
    }
    if (Signalled(target.get(), c.me)) {
        return done(Acquire(target.get(), c.me));
    }
    if (milliseconds == 0) {
        return done(WAIT_TIMEOUT);
    }
    M().timeline.push_back(Number(c.me->id) + " WaitForSingleObject(" + Joined(c.args) + ") blocks at " +
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

// Hands the baton on for the time asked: the process runs again once the
// clock has reached it, the clock jumping when no other process can run.
void Sleep_(DWORD milliseconds)
{
    Call c("Sleep", {Number(milliseconds)});
    Process* me = c.me;
    if (milliseconds != 0) {
        me->waitKind = WAIT_NOTHING;
        me->hasDeadline = milliseconds != INFINITE;
        me->deadline = M().clock + milliseconds;
        BlockUntilWoken(c.lock, me);
        me->hasDeadline = false;
        me->wokenByDeadlock = false;
    }
    c.Log("at " + Number(static_cast<long long>(M().clock)) + " ms");
}

}  // namespace memory_model
