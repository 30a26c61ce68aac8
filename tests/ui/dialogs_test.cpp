// The two dialogs' answers, as the dialog manager delivers the user's keys
// and clicks to their procedures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/support/product_facts.h"
#include "tests/support/sample_machine.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

typedef mem::UserAction A;

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mem::Reset();
        sample::RegisterUninstallerDialogs();
        mem::SetValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", REG_SZ,
                      std::string("\"C:\\Browser\\browse.exe\"", 24) + std::string(1, '\0'));
        mem::AddFile("C:\\Browser\\browse.exe", "browser");
    }

    static INT_PTR Show(int resource, DLGPROC procedure, const std::vector<A>& actions)
    {
        mem::ScriptDialogs({actions});
        return g_platform->DialogBoxParamA(g_platform->GetModuleHandleA(0),
                                           MAKEINTRESOURCEA(resource), 0, procedure, 0);
    }
};

TEST_F(DialogsTest, ConfirmationDeclinesOnEnterAsItOpensEscTheCloseBoxAndNo)
{
    const std::vector<std::vector<A>> declines = {
        {{mem::PRESS_ENTER, 0, 0}},
        {{mem::PRESS_ESCAPE, 0, 0}},
        {{mem::CLOSE_BOX, 0, 0}},
        {{mem::CLICK, IDCANCEL, 0}},
    };
    for (const std::vector<A>& answer : declines) {
        EXPECT_EQ(Show(IDD_CONFIRM_REMOVE, ConfirmDlgProc, answer), IDCANCEL)
            << "action " << answer[0].kind;
    }
}

TEST_F(DialogsTest, ConfirmationAcceptsYes)
{
    EXPECT_EQ(Show(IDD_CONFIRM_REMOVE, ConfirmDlgProc, {{mem::CLICK, IDOK, 0}}), IDOK);
}

TEST_F(DialogsTest, ConfirmationButtonsHaveNoMnemonics)
{
    EXPECT_EQ(Show(IDD_CONFIRM_REMOVE, ConfirmDlgProc,
                   {{mem::ALT_KEY, 0, 'y'}, {mem::ALT_KEY, 0, 'n'}, {mem::PRESS_ESCAPE, 0, 0}}),
              IDCANCEL);
}

TEST_F(DialogsTest, CompletionYesEnterAndAltYOpenThePageBeforeClosing)
{
    const std::vector<std::vector<A>> accepts = {
        {{mem::PRESS_ENTER, 0, 0}},
        {{mem::CLICK, IDOK, 0}},
        {{mem::ALT_KEY, 0, 'y'}},
        {{mem::ALT_KEY, 0, 'Y'}},
    };
    size_t opened = 0;
    for (const std::vector<A>& answer : accepts) {
        EXPECT_EQ(Show(IDD_REMOVE_COMPLETED, CompletedDlgProc, answer), IDOK);
        ++opened;
        ASSERT_EQ(mem::WinExecCommands().size(), opened) << "action " << answer[0].kind;
        EXPECT_EQ(mem::WinExecCommands().back().commandLine,
                  "\"C:\\Browser\\browse.exe\" " + std::string(facts::kFeedbackUrl));
    }
}

TEST_F(DialogsTest, CompletionNoEscTheCloseBoxAndAltNStartNothing)
{
    const std::vector<std::vector<A>> declines = {
        {{mem::PRESS_ESCAPE, 0, 0}},
        {{mem::CLOSE_BOX, 0, 0}},
        {{mem::CLICK, IDCANCEL, 0}},
        {{mem::ALT_KEY, 0, 'n'}},
    };
    for (const std::vector<A>& answer : declines) {
        EXPECT_EQ(Show(IDD_REMOVE_COMPLETED, CompletedDlgProc, answer), IDCANCEL)
            << "action " << answer[0].kind;
    }
    EXPECT_TRUE(mem::WinExecCommands().empty());
}

TEST_F(DialogsTest, ProceduresHandleOnlyTheirOwnMessages)
{
    HWND dialog = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    EXPECT_FALSE(ConfirmDlgProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONFIRM_TEXT, 0), 0));
    EXPECT_FALSE(CompletedDlgProc(dialog, WM_COMMAND, MAKEWPARAM(3, 0), 0));
    EXPECT_FALSE(ConfirmDlgProc(dialog, WM_INITDIALOG, 0, 0));
    EXPECT_TRUE(CompletedDlgProc(dialog, WM_INITDIALOG, 0, 0));
    EXPECT_FALSE(CompletedDlgProc(dialog, WM_CLOSE, 0, 0));
    EXPECT_EQ(mem::OpenHandleCount(), 0u);
}

}  // namespace
