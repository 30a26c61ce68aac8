#include "app/uninstaller.h"

#include "platform/platform.h"
#include "removal/removal.h"
#include "selfdelete/self_delete.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

HINSTANCE g_hInstance = 0;
int g_removalConfirmed = 0;
int g_removalFinished = 0;

int RunUninstall(HINSTANCE instance)
{
    g_hInstance = instance;
    // Anything but "Yes" (a failed dialog call too) leaves the machine as it was.
    if (g_platform->DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIRM_REMOVE), 0,
                                    ConfirmDlgProc, 0) != IDOK) {
        return 0;
    }
    g_removalConfirmed = 1;
    // Each step runs whatever the one before achieved, but for one thing: a
    // removal that could not finish leaves the product installed as it was,
    // but for the files that did go. An install directory that could not be
    // listed (another user's install, a setting that names no folder), a
    // product file still running, one whose path is too long, a setting
    // that names another folder than the one this program runs from: its
    // entry in the list of installed programs, its uninstaller and its
    // shortcuts then stay, so that it can be removed once the user has
    // closed it, and the user is told so, with nothing to answer.
    g_removalFinished = RemoveProgramFiles() && ProgramFilesAreGone();
    if (g_removalFinished) {
        RemoveUninstallEntry();
        RemoveShortcuts();
    }
    // An unfinished removal's notice asks nothing and has one button, "OK":
    // the confirmation's procedure ends it on any button and starts nothing.
    const int completion = g_removalFinished ? IDD_REMOVE_COMPLETED : IDD_REMOVE_UNFINISHED;
    g_platform->DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(completion), 0,
                                g_removalFinished ? CompletedDlgProc : ConfirmDlgProc, 0);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int)
{
    // A tail is only ever given by the uninstall role to its temporary copy:
    // the whole tail, blanks and all, names the uninstaller to delete.
    if (commandTail[0] != '\0') {
        FinishSelfDelete(commandTail);
        return 0;
    }

    g_removalConfirmed = 0;
    g_removalFinished = 0;
    if (RunUninstall(instance) != 0 && g_removalConfirmed != 0 && g_removalFinished != 0) {
        char ownPath[MAX_PATH];
        DWORD length = g_platform->GetModuleFileNameA(0, ownPath, MAX_PATH);
        if (length != 0 && length < MAX_PATH) {
            // Installed from read-only media, the uninstaller's own file is
            // read-only, and the copy could never delete it.
            ClearReadOnly(ownPath);
            StartSelfDelete(ownPath);
        }
    }
    return 0;
}
