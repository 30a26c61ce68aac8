#include "app/uninstaller.h"

#include "platform/platform.h"
#include "removal/removal.h"
#include "selfdelete/self_delete.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

HINSTANCE g_hInstance = 0;
int g_removalConfirmed = 0;
int g_installDirectoryListed = 0;

int RunUninstall(HINSTANCE instance)
{
    g_hInstance = instance;
    // Anything but "Yes" (a failed dialog call too) leaves the machine as it was.
    if (g_platform->DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIRM_REMOVE), 0,
                                    ConfirmDlgProc, 0) != IDOK) {
        return 0;
    }
    g_removalConfirmed = 1;
    // Each step runs whatever the one before achieved, but for one thing: an
    // install directory that could not be listed (another user's install, a
    // setting that names no folder) still holds the product. Its entry in
    // the list of installed programs and its uninstaller must then stay, or
    // it could never be removed.
    g_installDirectoryListed = RemoveProgramFiles();
    if (g_installDirectoryListed) {
        RemoveUninstallEntry();
    }
    RemoveShortcuts();
    g_platform->DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_REMOVE_COMPLETED), 0,
                                CompletedDlgProc, 0);
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
    g_installDirectoryListed = 0;
    if (RunUninstall(instance) != 0 && g_removalConfirmed != 0 && g_installDirectoryListed != 0) {
        char ownPath[MAX_PATH];
        DWORD length = g_platform->GetModuleFileNameA(0, ownPath, MAX_PATH);
        if (length != 0 && length < MAX_PATH) {
            StartSelfDelete(ownPath);
        }
    }
    return 0;
}
