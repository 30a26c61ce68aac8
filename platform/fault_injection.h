// Failure injection as a layer of the seam: a PlatformOps that wraps another
// table and makes chosen calls fail, returning what the Windows function
// returns on failure and setting the last error, without calling through.
// Every other call goes to the wrapped table untouched.
//
// It wraps the in-memory model in the native tests (mem::FailCall) and can
// wrap the real Win32 table in a test program run under Wine, so the
// program's reaction to a failed call can be checked the same way on both.
// Test machinery, not part of Uninstall.exe: it uses the C++ library.
//
// The layer is one table with one state, as a table of plain function
// pointers has no room for more. Calls through it must not race: the model
// runs one process at a time, and a test program under Wine is one thread.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace fault {

// An argument or result of a failed call, raw, of the kind its type gives
// it. The layer formats nothing: showing the call is the observer's business.
struct Raw {
    enum Kind {
        SIGNED,    // a signed number (two's complement in bits)
        UNSIGNED,  // an unsigned number
        TEXT,      // a string the call reads (const char*): its address
        KEY,       // a registry key (HKEY)
        POINTER,   // any other pointer or handle, a buffer to fill included
        NOTHING,   // no value: the result of a call that returns none (Sleep)
    } kind;
    unsigned long long bits;
};

// A call the layer failed, as it tells its observer while the call lasts
// (a TEXT argument points at the caller's string).
struct InjectedCall {
    const char* operation;  // the slot's name
    std::vector<Raw> args;  // every parameter, in order
    Raw result;             // the failure value returned
    DWORD error;            // the last error set
};

struct Hooks {
    const PlatformOps* inner;                    // the table wrapped
    void(WINAPI* setLastError)(DWORD error);     // the calling process's last error (SetLastError on Win32)
    void (*injected)(const InjectedCall& call);  // told of each failed call; may be null
};

// The layer's table: point g_platform at it once Wrap has been called.
extern const PlatformOps FaultInjectionOps;

// Sets what the layer wraps and how it reports, and forgets every pending
// failure.
void Wrap(const Hooks& hooks);

// The occurrence-th call (1 = the next one) of the named operation (the slot
// name, e.g. "DeleteFileA") from now on fails with this error. False when
// there is no such slot or the occurrence is below 1.
bool Fail(const std::string& operation, DWORD error, int occurrence);

// Forgets every pending failure.
void Clear();

// Every slot's name, in the order of PlatformOps.
std::vector<std::string> OperationNames();

}  // namespace fault
