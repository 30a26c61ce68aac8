// Fuzzes the forming of the feedback command from the browser's registered
// command, as raw registry bytes: up to BROWSER_COMMAND_MAX of them, with or
// without a zero, quotes and blanks anywhere.
//
// The command buffer is a heap block of exactly FEEDBACK_COMMAND_SIZE bytes,
// so AddressSanitizer reports any write past the room the launcher reserves.
// The bytes after the stored value are not zero, as on the stack they would
// not be either.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tests/fuzz/fuzz_support.h"
#include "ui/feedback.h"

namespace {

LPSTR WINAPI AppendForFuzz(LPSTR target, LPCSTR source)
{
    // strcat is checked by AddressSanitizer on both strings.
    return std::strcat(target, source);
}

const PlatformOps* FeedbackOps()
{
    static PlatformOps ops = [] {
        PlatformOps table = fuzz::UnexpectedPlatformOps();
        table.lstrcatA = AppendForFuzz;
        return table;
    }();
    return &ops;
}

bool AllBytesAre(const char* first, const char* end, const char* allowed)
{
    for (const char* p = first; p != end; ++p) {
        if (*p == '\0' || std::strchr(allowed, *p) == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_platform = FeedbackOps();

    const DWORD storedLength = size < BROWSER_COMMAND_MAX ? static_cast<DWORD>(size)
                                                          : BROWSER_COMMAND_MAX;
    char* buffer = new char[FEEDBACK_COMMAND_SIZE];
    std::memset(buffer, 0xA5, FEEDBACK_COMMAND_SIZE);
    std::memcpy(buffer, data, storedLength);

    // The value as the string it is read as: up to its first zero.
    const char* value = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(value, 0, storedLength);
    const size_t valueLength = zero ? static_cast<size_t>(static_cast<const char*>(zero) - value)
                                    : storedLength;
    // A quoted program path: the leading blanks and quotes, a quote among
    // them, then the program (at least one byte) up to its closing quote.
    size_t skipped = 0;
    bool quoteSkipped = false;
    while (skipped < valueLength && (value[skipped] == ' ' || value[skipped] == '"')) {
        quoteSkipped = quoteSkipped || value[skipped] == '"';
        ++skipped;
    }
    const void* closing = skipped < valueLength
                              ? std::memchr(value + skipped, '"', valueLength - skipped)
                              : nullptr;
    const bool quotedProgram = quoteSkipped && closing != nullptr;
    const size_t closingQuote =
        quotedProgram ? static_cast<size_t>(static_cast<const char*>(closing) - value) : 0;

    const char* command = FormFeedbackCommand(buffer, storedLength);

    // The command starts inside the buffer and ends there.
    FUZZ_CHECK(command >= buffer && command < buffer + FEEDBACK_COMMAND_SIZE);
    const size_t room = static_cast<size_t>(buffer + FEEDBACK_COMMAND_SIZE - command);
    const void* end = std::memchr(command, 0, room);
    FUZZ_CHECK(end != nullptr);
    const size_t commandLength = static_cast<size_t>(static_cast<const char*>(end) - command);

    // It ends with a blank and the page's address.
    const size_t urlLength = std::strlen(FEEDBACK_URL);
    FUZZ_CHECK(commandLength >= 1 + urlLength);
    const size_t programLength = commandLength - 1 - urlLength;
    FUZZ_CHECK(command[programLength] == ' ');
    FUZZ_CHECK(std::memcmp(command + programLength + 1, FEEDBACK_URL, urlLength) == 0);

    // Before it stands a piece of the value, taken in place and unchanged
    // but for the opening quote of a quoted path, written into the last
    // skipped byte: only blanks and quotes are dropped before it and only
    // quotes after it.
    const size_t offset = static_cast<size_t>(command - buffer);
    const size_t rewritten = quotedProgram ? 1 : 0;
    FUZZ_CHECK(offset + programLength <= valueLength);
    FUZZ_CHECK(programLength >= rewritten);
    FUZZ_CHECK(std::memcmp(command + rewritten, value + offset + rewritten,
                           programLength - rewritten) == 0);
    FUZZ_CHECK(AllBytesAre(value, value + offset + rewritten, " \""));
    FUZZ_CHECK(AllBytesAre(value + offset + programLength, value + valueLength, "\""));

    if (quotedProgram) {
        // The quoted path is kept whole, in quotes, right after what was
        // skipped; quotes after its arguments go.
        FUZZ_CHECK(offset + 1 == skipped);
        FUZZ_CHECK(command[0] == '"');
        FUZZ_CHECK(offset + programLength >= closingQuote + 1);
        FUZZ_CHECK(offset + programLength == closingQuote + 1 || command[programLength - 1] != '"');
    } else if (programLength > 0) {
        // No quote at either end and no blank in front.
        FUZZ_CHECK(command[0] != '"' && command[0] != ' ');
        FUZZ_CHECK(command[programLength - 1] != '"');
    }

    delete[] buffer;
    return 0;
}
