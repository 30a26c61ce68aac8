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
#define FUZZ_UNEXPECTED(Result, Name, Params, Args) \
    ops.Name = &Unexpected<decltype(ops.Name)>::Call;
    PLATFORM_SLOTS(FUZZ_UNEXPECTED)
#undef FUZZ_UNEXPECTED
    return ops;
}

}  // namespace fuzz

// Checked in every build type: the fuzz targets must not depend on NDEBUG.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))
