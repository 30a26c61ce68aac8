// Fuzzes the start-up's command-tail rule with arbitrary command lines, and
// its one exception, the program's own path unquoted.
//
// The line is copied up to its first zero into a heap block of exactly its
// length plus the terminator, so AddressSanitizer reports any read past the
// terminating zero, the one promise a start-up reading a line it did not
// write must keep.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <vector>

#include "platform/startup.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/code_pages.h"

namespace {

using codepage::ShiftJisLeadByte;

bool IsBlankOrControl(unsigned char c)
{
    return c >= 1 && c <= 32;
}

// GetFullPathNameA for a line that is already a full path: the same text,
// its last name after the last "\" (none after a trailing one). It must only
// ever be given a path that fits, without trailing blanks.
DWORD WINAPI SameFullPath(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart)
{
    const size_t length = std::strlen(path);
    FUZZ_CHECK(length < MAX_PATH && size == MAX_PATH && filePart != nullptr);
    FUZZ_CHECK(length == 0 || !IsBlankOrControl(static_cast<unsigned char>(path[length - 1])));
    std::memcpy(buffer, path, length + 1);
    char* last = std::strrchr(buffer, '\\');
    *filePart = last != nullptr && last[1] != '\0' ? last + 1 : nullptr;
    return static_cast<DWORD>(length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const void* zero = std::memchr(data, 0, size);
    const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;

    char* line = new char[length + 1];
    std::memcpy(line, data, length);
    line[length] = '\0';

    const char* tail = SkipProgramName(line, ShiftJisLeadByte);

    // Inside the line, at or after its start, never past the terminator.
    FUZZ_CHECK(tail >= line);
    FUZZ_CHECK(tail <= line + length);
    const size_t skipped = static_cast<size_t>(tail - line);

    // The tail starts with neither a blank nor a control byte.
    FUZZ_CHECK(!IsBlankOrControl(static_cast<unsigned char>(*tail)));

    if (length > 0 && line[0] != '"') {
        // An unquoted name ends at the first blank or control byte: what was
        // skipped is bytes above 32, then blanks and control bytes only.
        size_t nameEnd = 0;
        while (nameEnd < length && static_cast<unsigned char>(line[nameEnd]) > 32) {
            ++nameEnd;
        }
        FUZZ_CHECK(skipped >= nameEnd);
        for (size_t i = nameEnd; i < skipped; ++i) {
            FUZZ_CHECK(IsBlankOrControl(static_cast<unsigned char>(line[i])));
        }
    } else if (length > 0) {
        // A quoted name: the tail is the end of the line or begins after the
        // name's closing quote, with only blanks and control bytes between.
        FUZZ_CHECK(skipped >= 1);
        if (skipped < length) {
            size_t i = skipped;
            while (i > 1 && IsBlankOrControl(static_cast<unsigned char>(line[i - 1]))) {
                --i;
            }
            FUZZ_CHECK(i >= 2 && line[i - 1] == '"');
        }
    }

    // Started by its own unquoted path (blanks in it), or that path without
    // its ".exe", with only blanks after: no tail. Any other line keeps the
    // rule above.
    static const char ownPath[] = "C:\\Program Files\\Quillmere\\Uninstall.exe";
    const char* own = CommandTail(line, ownPath, ShiftJisLeadByte, SameFullPath);
    if (own != tail) {
        FUZZ_CHECK(own == line + length && line[0] != '"');
        size_t named = sizeof ownPath - 1;
        if (length < named || strncasecmp(line, ownPath, named) != 0) {
            named -= sizeof ".exe" - 1;
        }
        FUZZ_CHECK(length >= named && strncasecmp(line, ownPath, named) == 0);
        for (size_t i = named; i < length; ++i) {
            FUZZ_CHECK(IsBlankOrControl(static_cast<unsigned char>(line[i])));
        }
    }

    delete[] line;
    return 0;
}
