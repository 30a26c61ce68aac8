// The two modal dialogs' procedures.
#pragma once

#include "platform/win_types.h"

// "Confirm removing of Quillmere": ends with 1 for "Yes", 2 for "No", Esc and
// the close box. "No" is the default button, so Enter as it opens declines.
// Also the procedure of "Uninstall Not Completed", whose one button, "OK",
// Enter, Esc and the close box all just close it.
INT_PTR CALLBACK ConfirmDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// "Uninstall Completed": "&Yes" opens the feedback page, then ends with 1;
// "&No", Esc and the close box end with 2.
INT_PTR CALLBACK CompletedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
