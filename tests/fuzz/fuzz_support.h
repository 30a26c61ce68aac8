// Shared by the fuzz targets: a PlatformOps table in which every slot stops
// the run, so a target fills in only the calls its function is meant to make
// and any other call is reported as a crash with its stack.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace fuzz {

// Prints the failed invariant and aborts, which libFuzzer reports as a crash
// and saves the input for.
[[noreturn]] inline void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

template <typename Slot>
struct Unexpected;

template <typename Result, typename... Args>
struct Unexpected<Result(WINAPI*)(Args...)> {
    static Result WINAPI Call(Args...)
    {
        std::fprintf(stderr, "unexpected platform call from the fuzzed function\n");
        std::abort();
    }
};

// Every slot of the table aborts when called.
inline PlatformOps UnexpectedPlatformOps()
{
    PlatformOps ops = {};
#define FUZZ_UNEXPECTED(slot) ops.slot = &Unexpected<decltype(ops.slot)>::Call
    FUZZ_UNEXPECTED(RestrictDllSearchToSystem);
    FUZZ_UNEXPECTED(GetCommandLineA);
    FUZZ_UNEXPECTED(IsDBCSLeadByte);
    FUZZ_UNEXPECTED(GetModuleHandleA);
    FUZZ_UNEXPECTED(GetModuleFileNameA);
    FUZZ_UNEXPECTED(DialogBoxParamA);
    FUZZ_UNEXPECTED(EndDialog);
    FUZZ_UNEXPECTED(RegOpenKeyExA);
    FUZZ_UNEXPECTED(RegOpenKeyA);
    FUZZ_UNEXPECTED(RegQueryValueExA);
    FUZZ_UNEXPECTED(RegCloseKey);
    FUZZ_UNEXPECTED(RegDeleteKeyA);
    FUZZ_UNEXPECTED(FindFirstFileA);
    FUZZ_UNEXPECTED(FindNextFileA);
    FUZZ_UNEXPECTED(FindClose);
    FUZZ_UNEXPECTED(DeleteFileA);
    FUZZ_UNEXPECTED(RemoveDirectoryA);
    FUZZ_UNEXPECTED(CopyFileA);
    FUZZ_UNEXPECTED(CreateFileA);
    FUZZ_UNEXPECTED(CloseHandle);
    FUZZ_UNEXPECTED(SetCurrentDirectoryA);
    FUZZ_UNEXPECTED(SHGetSpecialFolderPathA);
    FUZZ_UNEXPECTED(GetTempPathA);
    FUZZ_UNEXPECTED(lstrcatA);
    FUZZ_UNEXPECTED(CreateEventA);
    FUZZ_UNEXPECTED(OpenEventA);
    FUZZ_UNEXPECTED(SetEvent);
    FUZZ_UNEXPECTED(CreateMutexA);
    FUZZ_UNEXPECTED(OpenMutexA);
    FUZZ_UNEXPECTED(WaitForSingleObject);
    FUZZ_UNEXPECTED(CreateProcessA);
    FUZZ_UNEXPECTED(WinExec);
#undef FUZZ_UNEXPECTED
    // A slot added to the table must be added above as well.
    static_assert(sizeof(PlatformOps) == 32 * sizeof(void (*)()),
                  "PlatformOps changed: list every slot above");
    return ops;
}

}  // namespace fuzz

// Checked in every build type: the fuzz targets must not depend on NDEBUG.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))
