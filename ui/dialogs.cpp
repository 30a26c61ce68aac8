#include "ui/dialogs.h"

#include "platform/platform.h"
#include "ui/feedback.h"

INT_PTR CALLBACK ConfirmDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message != WM_COMMAND) {
        // WM_INITDIALOG too: the focus is not placed, so Enter goes to the
        // default button, "No".
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case IDCANCEL:
        g_platform->EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDOK:
        g_platform->EndDialog(dialog, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CompletedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        // Focus on the first control, "&Yes".
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case IDOK:
        // The browser starts while the dialog is still on the screen.
        OpenFeedbackPage();
        g_platform->EndDialog(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        g_platform->EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}
