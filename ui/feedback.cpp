#include "ui/feedback.h"

#include "app/path_buffer.h"
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

// Where the closing quote of a quoted program path at the start of the
// command stands, or 0 when the command does not begin with a non-empty
// quoted path.
char* ClosingQuoteOfProgram(char* command)
{
    if (command[0] != '"') {
        return 0;
    }
    char* p = command + 1;
    while (*p != '\0' && *p != '"') {
        ++p;
    }
    return (*p == '"' && p != command + 1) ? p : 0;
}

}  // namespace

const char* FormFeedbackCommand(char* command, DWORD storedLength)
{
    if (storedLength > BROWSER_COMMAND_MAX) {
        storedLength = BROWSER_COMMAND_MAX;
    }
    // A value stored without its zero ends at its stored length.
    command[storedLength] = '\0';

    char* start = command;
    char* closingQuote = ClosingQuoteOfProgram(command);
    if (closingQuote != 0) {
        // "C:\Program Files\...\browser.exe" stays quoted: unquoted, the
        // blanks would make the system try C:\Program.exe first. What follows
        // the closing quote stays between the program and the address.
        StripTrailingQuotes(closingQuote + 1);
    } else {
        StripTrailingQuotes(command);
        while (*start == ' ' || *start == '"') {
            ++start;
        }
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
    if (g_platform->RegOpenKeyA(HKEY_CLASSES_ROOT, BROWSER_SERVER_KEY, &key) != ERROR_SUCCESS) {
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
    // removed. The temp folder is left to it instead.
    char tempDir[MAX_PATH];
    DWORD tempLength = g_platform->GetTempPathA(MAX_PATH, tempDir);
    if (tempLength != 0 && tempLength < MAX_PATH) {
        g_platform->SetCurrentDirectoryA(tempDir);
    }
    g_platform->WinExec(feedbackCommand, SW_SHOW);
}
