// The failure-injection layer (see fault_injection.h): one wrapper per slot,
// made from the slot list, each knowing what its Windows function returns
// when it fails.
#include "platform/fault_injection.h"

#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace fault {
namespace {

enum Slot {
#define FAULT_SLOT_ENUM(Result, Name, Params, Args) SLOT_##Name,
    PLATFORM_SLOTS(FAULT_SLOT_ENUM)
#undef FAULT_SLOT_ENUM
    SLOT_COUNT
};

const char* const kNames[] = {
#define FAULT_SLOT_NAME(Result, Name, Params, Args) #Name,
    PLATFORM_SLOTS(FAULT_SLOT_NAME)
#undef FAULT_SLOT_NAME
};

struct Pending {
    Slot slot;
    DWORD error;
    int remaining;  // calls of the slot until the one that fails
};

Hooks g_hooks = {nullptr, nullptr, nullptr};
std::vector<Pending> g_pending;

// What GetCommandLineA, which cannot fail on Windows, gives when made to.
char g_emptyLine[1] = {0};

// --- What each call returns when it fails --------------------------------------
//
// A slot without its line here does not compile: Failure<slot> is only
// declared for the slots listed.

template <Slot S>
struct Failure;

// The result type of a slot's function pointer.
template <typename Pointer>
struct ResultOf;
template <typename Result, typename... Args>
struct ResultOf<Result(WINAPI*)(Args...)> {
    typedef Result Type;
};

#define FAILS_WITH(Name, value)                                                   \
    template <>                                                                   \
    struct Failure<SLOT_##Name> {                                                 \
        typedef ResultOf<decltype(PlatformOps::Name)>::Type Result;               \
        static Result Value(DWORD error)                                          \
        {                                                                         \
            (void)error;                                                          \
            return value;                                                         \
        }                                                                         \
    };

// GetLastError cannot fail: made to, it gives the error asked for.
FAILS_WITH(GetLastError, error)
FAILS_WITH(RestrictDllSearchToSystem, FALSE)
FAILS_WITH(GetCommandLineA, g_emptyLine)
FAILS_WITH(IsDBCSLeadByte, FALSE)
FAILS_WITH(GetModuleHandleA, nullptr)
FAILS_WITH(GetModuleFileNameA, 0)
FAILS_WITH(DialogBoxParamA, -1)
FAILS_WITH(EndDialog, FALSE)
// The registry calls return the error itself.
FAILS_WITH(RegOpenKeyExA, static_cast<LONG>(error))
FAILS_WITH(RegOpenKeyA, static_cast<LONG>(error))
FAILS_WITH(RegQueryValueExA, static_cast<LONG>(error))
FAILS_WITH(RegCloseKey, static_cast<LONG>(error))
FAILS_WITH(RegDeleteKeyA, static_cast<LONG>(error))
FAILS_WITH(FindFirstFileA, INVALID_HANDLE_VALUE)
FAILS_WITH(FindNextFileA, FALSE)
FAILS_WITH(FindClose, FALSE)
FAILS_WITH(DeleteFileA, FALSE)
FAILS_WITH(RemoveDirectoryA, FALSE)
FAILS_WITH(CopyFileA, FALSE)
FAILS_WITH(CreateFileA, INVALID_HANDLE_VALUE)
FAILS_WITH(CloseHandle, FALSE)
FAILS_WITH(GetFileAttributesA, INVALID_FILE_ATTRIBUTES)
FAILS_WITH(SetFileAttributesA, FALSE)
FAILS_WITH(GetFullPathNameA, 0)
FAILS_WITH(SetCurrentDirectoryA, FALSE)
FAILS_WITH(SHGetSpecialFolderPathA, FALSE)
FAILS_WITH(GetTempPathA, 0)
FAILS_WITH(GetSystemDirectoryA, 0)
FAILS_WITH(lstrcatA, nullptr)
FAILS_WITH(CreateEventA, nullptr)
FAILS_WITH(OpenEventA, nullptr)
FAILS_WITH(SetEvent, FALSE)
FAILS_WITH(CreateMutexA, nullptr)
FAILS_WITH(OpenMutexA, nullptr)
FAILS_WITH(WaitForSingleObject, WAIT_FAILED)
FAILS_WITH(CreateProcessA, FALSE)
// The error itself when it is one of the old codes below 32, else 0.
FAILS_WITH(WinExec, error < 32 ? static_cast<UINT>(error) : 0u)
#undef FAILS_WITH

// Sleep returns nothing: made to fail, it does not sleep.
template <>
struct Failure<SLOT_Sleep> {
    typedef void Result;
    static void Value(DWORD) {}
};

// --- Arguments and results, raw ------------------------------------------------

Raw AsRaw(const char* text)
{
    return Raw{Raw::TEXT, reinterpret_cast<uintptr_t>(text)};
}

Raw AsRaw(HKEY key)
{
    return Raw{Raw::KEY, reinterpret_cast<uintptr_t>(key)};
}

// A writable string (char*) comes here: it may be a buffer the call was to
// fill, so it is a pointer, not a string to read.
template <typename T>
Raw AsRaw(T value)
{
    if constexpr (std::is_integral<T>::value) {
        return Raw{std::is_signed<T>::value ? Raw::SIGNED : Raw::UNSIGNED,
                   static_cast<unsigned long long>(value)};
    } else {
        return Raw{Raw::POINTER, reinterpret_cast<uintptr_t>(value)};
    }
}

template <typename... Args>
std::vector<Raw> AsRaws(Args... args)
{
    return std::vector<Raw>{AsRaw(args)...};
}

// Whether this call of the slot is one to fail, and with which error. Every
// pending failure of the slot counts the call; the first due one wins.
bool Due(Slot slot, DWORD& error)
{
    bool due = false;
    for (size_t i = 0; i < g_pending.size();) {
        if (g_pending[i].slot == slot && --g_pending[i].remaining == 0) {
            if (!due) {
                due = true;
                error = g_pending[i].error;
            }
            g_pending.erase(g_pending.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    return due;
}

void Report(Slot slot, Raw result, DWORD error, std::vector<Raw> args)
{
    g_hooks.setLastError(error);
    if (g_hooks.injected != nullptr) {
        InjectedCall call = {kNames[slot], std::move(args), result, error};
        g_hooks.injected(call);
    }
}

template <Slot S>
typename Failure<S>::Result Failed(DWORD error, std::vector<Raw> args)
{
    typedef typename Failure<S>::Result Result;
    if constexpr (std::is_void<Result>::value) {
        Report(S, Raw{Raw::NOTHING, 0}, error, std::move(args));
    } else {
        Result result = Failure<S>::Value(error);
        Report(S, AsRaw(result), error, std::move(args));
        return result;
    }
}

const PlatformOps& Inner()
{
    if (g_hooks.inner == nullptr) {
        std::fprintf(stderr, "fault injection: a call before fault::Wrap\n");
        std::abort();
    }
    return *g_hooks.inner;
}

// --- The wrappers -------------------------------------------------------------

#define FAULT_WRAPPER(Result, Name, Params, Args)                                            \
    Result WINAPI Name Params                                                                \
    {                                                                                        \
        DWORD error = 0;                                                                     \
        if (Due(SLOT_##Name, error)) {                                                       \
            return Failed<SLOT_##Name>(error, AsRaws Args);                                  \
        }                                                                                    \
        return Inner().Name Args;                                                            \
    }
PLATFORM_SLOTS(FAULT_WRAPPER)
#undef FAULT_WRAPPER

}  // namespace

extern const PlatformOps FaultInjectionOps = {
#define FAULT_SLOT(Result, Name, Params, Args) Name,
    PLATFORM_SLOTS(FAULT_SLOT)
#undef FAULT_SLOT
};

void Wrap(const Hooks& hooks)
{
    g_hooks = hooks;
    g_pending.clear();
}

bool Fail(const std::string& operation, DWORD error, int occurrence)
{
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (operation == kNames[slot] && occurrence >= 1) {
            g_pending.push_back(Pending{static_cast<Slot>(slot), error, occurrence});
            return true;
        }
    }
    return false;
}

void Clear()
{
    g_pending.clear();
}

std::vector<std::string> OperationNames()
{
    return std::vector<std::string>(kNames, kNames + SLOT_COUNT);
}

}  // namespace fault
