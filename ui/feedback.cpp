#include "ui/feedback.h"

#include "platform/path_buffer.h"
#include "platform/platform.h"

namespace {

// Replaces the double quotes at the end of the string from its last byte
// backwards with zeros, never going before first.
void StripTrailingQuotes(char* first)
{
    char* p = first + StringLength(first);
    while (p != first && p[-1] == '"') {
        --p;
        *p = '\0';
    }
}

}  // namespace

const char* FormFeedbackCommand(char* command, DWORD storedLength)
{
    if (storedLength > BROWSER_COMMAND_MAX) {
        storedLength = BROWSER_COMMAND_MAX;
    }
    // A value stored without its zero ends at its stored length.
    command[storedLength] = '\0';

    // The program starts after the leading blanks and quotes.
    char* program = command;
    int quoteSkipped = 0;
    while (*program == ' ' || *program == '"') {
        quoteSkipped |= *program == '"';
        ++program;
    }
    char* closingQuote = program;
    while (*closingQuote != '\0' && *closingQuote != '"') {
        ++closingQuote;
    }
    char* start = program;
    if (quoteSkipped && *closingQuote == '"') {
        // "C:\Program Files\...\browser.exe" stays quoted, whatever stood
        // before its opening quote: unquoted, the blanks would make the
        // system try C:\Program.exe first. The quote goes right before the
        // program, in the last skipped byte. What follows the closing quote
        // stays between the program and the address.
        --start;
        *start = '"';
        StripTrailingQuotes(closingQuote + 1);
    } else {
        StripTrailingQuotes(program);
    }
    if (!AppendString(command, FEEDBACK_COMMAND_SIZE, " ") ||
        !AppendString(command, FEEDBACK_COMMAND_SIZE, FEEDBACK_URL)) {
        return 0;
    }
    return start;
}

void OpenFeedbackPage(void)
{
    HKEY key = 0;
    if (g_platform->RegOpenKeyA(HKEY_LOCAL_MACHINE, BROWSER_SERVER_KEY, &key) != ERROR_SUCCESS) {
        return;
    }
    char command[FEEDBACK_COMMAND_SIZE];
    DWORD length = BROWSER_COMMAND_MAX;
    LONG result = g_platform->RegQueryValueExA(key, 0, 0, 0, reinterpret_cast<LPBYTE>(command),
                                               &length);
    g_platform->RegCloseKey(key);
    if (result != ERROR_SUCCESS || length > BROWSER_COMMAND_MAX) {
        return;
    }
    const char* feedbackCommand = FormFeedbackCommand(command, length);
    if (feedbackCommand == 0) {
        return;
    }
    // The browser inherits this process's current directory, which is the
    // install directory when the uninstaller was started from the product's
    // shortcut; for as long as the browser ran, that directory could not be
    // removed. And a browser registered by bare name is looked for in the
    // current directory before the system folder.
    char startFolder[MAX_PATH];
    if (GetStartFolder(startFolder)) {
        g_platform->SetCurrentDirectoryA(startFolder);
    }
    g_platform->WinExec(feedbackCommand, SW_SHOW);
}
