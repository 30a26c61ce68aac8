// The launcher of the why-uninstall page.
#pragma once

#include "app/constants.h"
#include "platform/win_types.h"

// Bytes of the browser's registered command that are read at most.
const DWORD BROWSER_COMMAND_MAX = 500;

// Room for the command: the value read, its terminator, the blank, the
// address and its zero. No stored value can overrun it.
const unsigned FEEDBACK_COMMAND_SIZE = BROWSER_COMMAND_MAX + 1 + 1 + sizeof(FEEDBACK_URL);

// Forms the command that opens the page from the browser's registered
// command, whose storedLength (at most BROWSER_COMMAND_MAX) raw bytes stand at
// the start of command, a buffer of FEEDBACK_COMMAND_SIZE bytes.
// Returns where the command starts within the buffer, or 0 when the address
// could not be appended.
//
// Quotes at the end of the value are stripped and blanks and quotes at its
// start skipped, then a blank and the page's address appended. A program
// path in quotes keeps them, whatever blanks and quotes stand before it, so
// a path with blanks cannot be taken for a shorter program
// ("C:\Program.exe"): the command then starts with a quote in the last
// skipped byte.
const char* FormFeedbackCommand(char* command, DWORD storedLength);

// Starts the browser the machine registers for the Internet Explorer
// application class with the page's address. Does nothing when the
// registration is missing.
void OpenFeedbackPage(void);
