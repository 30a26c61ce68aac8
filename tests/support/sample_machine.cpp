#include "tests/support/sample_machine.h"

#include <gtest/gtest.h>

#include "platform/startup.h"
#include "tests/support/product_facts.h"
#include "ui/resource.h"

namespace sample {

namespace {

// The model's faults (a deadlock, a dialog the script leaves open) fail the
// running test instead of aborting the test program.
const bool g_reporterSet = [] {
    mem::SetFailureReporter([](const std::string& message) { ADD_FAILURE() << message; });
    return true;
}();

const char BROWSER[] = "C:\\Program Files\\Internet Explorer\\iexplore.exe";

}  // namespace

const char UNINSTALLER_IMAGE[] = "MZ image of the Quillmere uninstaller";

void RegisterUninstallerDialogs()
{
    mem::AddDialogTemplate(IDD_CONFIRM_REMOVE,
                           {
                               {IDCANCEL, mem::DEFAULT_PUSH_BUTTON, "No", true},
                               {IDOK, mem::PUSH_BUTTON, "Yes", true},
                               {IDC_CONFIRM_TEXT, mem::STATIC_TEXT, facts::kConfirmQuestion, false},
                               {-1, mem::STATIC_ICON, "", false},
                           });
    mem::AddDialogTemplate(IDD_REMOVE_COMPLETED,
                           {
                               {IDOK, mem::DEFAULT_PUSH_BUTTON, "&Yes", true},
                               {IDCANCEL, mem::PUSH_BUTTON, "&No", true},
                               {-1, mem::STATIC_TEXT, facts::kCompletedQuestion, false},
                               {-1, mem::STATIC_TEXT, facts::kCompletedNotice, false},
                               {-1, mem::STATIC_ICON, "", false},
                           });
    mem::AddDialogTemplate(IDD_REMOVE_UNFINISHED,
                           {
                               {IDOK, mem::DEFAULT_PUSH_BUTTON, "OK", true},
                               {-1, mem::STATIC_TEXT, facts::kUnfinishedNotice, false},
                               {-1, mem::STATIC_ICON, "", false},
                           });
}

void RegisterUninstallerProgram()
{
    (void)g_reporterSet;
    mem::RegisterProgram(UNINSTALLER_IMAGE, [] { return ProgramStart(); });
}

std::string UninstallerPath(const InstallOptions& options)
{
    return options.installDir + "\\" + facts::kUninstallerName;
}

void LaySampleInstall(const InstallOptions& o)
{
    mem::AddFolder(o.installDir);
    for (const std::string& name : o.productFiles) {
        mem::AddFile(o.installDir + "\\" + name, "product file " + name);
    }
    for (const std::string& name : o.otherFiles) {
        mem::AddFile(o.installDir + "\\" + name, "other file " + name);
    }
    if (o.uninstaller) {
        mem::AddFile(UninstallerPath(o), UNINSTALLER_IMAGE);
        mem::SetReadOnly(UninstallerPath(o), o.readOnlyUninstaller);
    }
    if (o.settingsKey) {
        mem::SetStringValue(HKEY_CURRENT_USER, facts::kSettingsKey, facts::kProgramPathValue,
                            o.installDir);
    }
    if (o.uninstallEntry) {
        const char* key = facts::kUninstallKey;
        mem::SetStringValue(HKEY_LOCAL_MACHINE, key, "DisplayName", facts::kDisplayName);
        mem::SetStringValue(HKEY_LOCAL_MACHINE, key, "UninstallString",
                            "\"" + UninstallerPath(o) + "\"");
    }

    mem::AddFolder(o.desktop);
    mem::AddFolder(o.programs);
    mem::AddFolder(o.commonDesktop);
    mem::AddFolder(o.commonPrograms);
    mem::SetSpecialFolder(CSIDL_DESKTOPDIRECTORY, o.desktop);
    mem::SetSpecialFolder(CSIDL_PROGRAMS, o.programs);
    mem::SetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, o.commonDesktop);
    mem::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, o.commonPrograms);
    if (o.desktopShortcut) {
        mem::AddFile(o.desktop + "\\" + facts::kDesktopShortcut, "shortcut to Quillmere.exe");
    }
    for (const std::string& name : o.groupShortcuts) {
        mem::AddFile(o.programs + "\\" + facts::kProgramGroup + "\\" + name, "shortcut " + name);
    }

    if (!o.tempPath.empty()) {
        mem::AddFolder(o.tempPath);
    }
    mem::SetTempPath(o.tempPath);

    if (o.browser) {
        mem::AddFile(BROWSER, "MZ browser");
        mem::SetStringValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", std::string("\"") + BROWSER + "\"");
    }
}

DWORD StartUninstaller(const InstallOptions& options)
{
    return mem::StartProcess(UninstallerPath(options), "\"" + UninstallerPath(options) + "\"",
                             options.installDir);
}

}  // namespace sample
