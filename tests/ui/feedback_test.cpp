// The command that opens the why-uninstall page, formed from the browser's
// registered command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/support/product_facts.h"
#include "ui/feedback.h"

namespace {

const std::string URL = facts::kFeedbackUrl;

struct CommandCase {
    const char* name;
    std::string stored;  // the value's raw bytes
    std::string command;  // what WinExec gets
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CommandCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string Z(const std::string& text)
{
    return text + std::string(1, '\0');
}

class FeedbackPageTest : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override { mem::Reset(); }

    static void StoreBrowser(const std::string& bytes, DWORD type = REG_SZ)
    {
        mem::SetValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", type, bytes);
    }

    static std::vector<std::string> Started()
    {
        std::vector<std::string> lines;
        for (const mem::WinExecRecord& command : mem::WinExecCommands()) {
            lines.push_back(command.commandLine);
        }
        return lines;
    }
};

TEST_P(FeedbackPageTest, StartsTheBrowserWithThePageAddress)
{
    StoreBrowser(GetParam().stored);
    OpenFeedbackPage();
    ASSERT_EQ(Started().size(), 1u) << mem::Dump();
    EXPECT_EQ(Started()[0], GetParam().command);
    EXPECT_EQ(mem::WinExecCommands()[0].showCommand, static_cast<UINT>(SW_SHOW)) << "not hidden";
    EXPECT_EQ(mem::OpenHandleCount(1), 0u) << "the browser key stays open";
}

const std::string IE = "C:\\Program Files\\Internet Explorer\\iexplore.exe";

INSTANTIATE_TEST_SUITE_P(
    Table, FeedbackPageTest,
    ::testing::Values(
        // A quoted path keeps its quotes: unquoted, its blank would make the
        // system try C:\Program.exe first.
        CommandCase{"QuotedPathWithABlank", Z("\"" + IE + "\""), "\"" + IE + "\" " + URL},
        CommandCase{"BarePath", Z("C:\\Browser\\browse.exe"), "C:\\Browser\\browse.exe " + URL},
        CommandCase{"BarePathWithABlankAsTheMachineHasIt", Z(IE), IE + " " + URL},
        CommandCase{"QuotedPathFollowedByArguments", Z("\"" + IE + "\" -nohome"),
                    "\"" + IE + "\" -nohome " + URL},
        CommandCase{"QuotedPathWithTrailingQuotesAfterIt", Z("\"" + IE + "\" -a\"\""),
                    "\"" + IE + "\" -a " + URL},
        CommandCase{"BarePathWithArguments", Z("C:\\b.exe -new"), "C:\\b.exe -new " + URL},
        CommandCase{"QuotesInTheMiddleKept", Z("C:\\b.exe \"x y\" z"),
                    "C:\\b.exe \"x y\" z " + URL},
        CommandCase{"LeadingBlanksAndQuotesSkipped", Z("  \"\" C:\\b.exe"), "C:\\b.exe " + URL},
        // Whatever is skipped before a quoted path, it stays quoted.
        CommandCase{"BlanksBeforeAQuotedPath", Z("  \"" + IE + "\""), "\"" + IE + "\" " + URL},
        CommandCase{"DoubledQuotesAroundAPath", Z("\"\"C:\\P F\\b.exe\"\""),
                    "\"C:\\P F\\b.exe\" " + URL},
        CommandCase{"BlankInsideTheOpeningQuote", Z("\" C:\\P F\\b.exe\""),
                    "\"C:\\P F\\b.exe\" " + URL},
        CommandCase{"EmptyValue", Z(""), " " + URL},
        CommandCase{"ValueOfNoBytes", "", " " + URL},
        CommandCase{"ValueMadeOnlyOfQuotes", Z("\"\"\"\""), " " + URL},
        CommandCase{"TwoQuotesOnly", Z("\"\""), " " + URL},
        CommandCase{"UnclosedQuote", Z("\"C:\\b.exe"), "C:\\b.exe " + URL},
        CommandCase{"ValueWithoutItsZeroEndsAtItsStoredLength", "C:\\b.exe",
                    "C:\\b.exe " + URL},
        CommandCase{"FiveHundredBytesWithoutAZero", "C:\\" + std::string(497, 'b'),
                    "C:\\" + std::string(497, 'b') + " " + URL},
        CommandCase{"FiveHundredBytesWithTheirZero", Z("C:\\" + std::string(496, 'b')),
                    "C:\\" + std::string(496, 'b') + " " + URL}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

class FeedbackPageFailureTest : public ::testing::Test {
protected:
    void SetUp() override { mem::Reset(); }
};

TEST_F(FeedbackPageFailureTest, StartsNothingWithoutARegisteredBrowser)
{
    OpenFeedbackPage();  // no key
    mem::AddKey(HKEY_CLASSES_ROOT, facts::kBrowserKey);
    OpenFeedbackPage();  // no default value
    mem::SetValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", REG_SZ,
                  Z("C:\\" + std::string(497, 'b')));  // 501 bytes
    OpenFeedbackPage();
    mem::SetValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", REG_SZ, std::string(4000, 'b'));
    OpenFeedbackPage();
    EXPECT_TRUE(mem::WinExecCommands().empty()) << mem::Dump();
    EXPECT_EQ(mem::OpenHandleCount(1), 0u) << "the key is closed when the query fails";
}

TEST_F(FeedbackPageFailureTest, FailedQueryClosesTheKey)
{
    mem::SetValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", REG_SZ, Z("C:\\b.exe"));
    mem::FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED);
    OpenFeedbackPage();
    EXPECT_TRUE(mem::WinExecCommands().empty());
    EXPECT_EQ(mem::OpenHandleCount(1), 0u);
}

TEST_F(FeedbackPageFailureTest, RunsTheRegisteredBrowserNeverAPlantedProgram)
{
    // Planted where an unquoted path with blanks, or a bare name looked for
    // in the temp folder, would find them first. A bare name is looked for
    // in the uninstaller's folder, the current directory, then the system
    // folder. A registration of the user's own, which any program the user
    // runs may write, is never what the elevated uninstaller starts.
    const std::string ie = "C:\\Program Files\\Internet Explorer\\iexplore.exe";
    const std::string system = "C:\\Windows\\System32\\browser.exe";
    const std::string temp = "C:\\Users\\Alice\\Temp\\";
    struct Row {
        std::string stored;  // the machine's; "" for none
        std::string runs;    // "" for nothing
        std::string users;   // the user's; "" for none
    };
    const Row rows[] = {{"\"" + ie + "\"", ie, ""},
                        {"  \"" + ie + "\"", ie, ""},
                        {"browser.exe", system, ""},
                        {"\"" + ie + "\"", ie, temp + "browser.exe"},
                        {"", "", temp + "browser.exe"}};
    for (const Row& row : rows) {
        SetUp();
        mem::AddFile(ie, "browser");
        mem::AddFile(system, "browser");
        mem::AddFile("C:\\Program.exe", "planted");
        mem::AddFile("C:\\Program Files\\Internet.exe", "planted");
        mem::AddFile(temp + "browser.exe", "planted");
        mem::SetTempPath(temp);
        mem::AddFile("C:\\Program Files\\Quillmere\\Uninstall.exe");
        mem::SetShellProcess("C:\\Program Files\\Quillmere\\Uninstall.exe",
                             "\"C:\\Program Files\\Quillmere\\Uninstall.exe\"",
                             "C:\\Program Files\\Quillmere");
        if (!row.stored.empty()) {
            mem::SetValue(HKEY_CLASSES_ROOT, facts::kBrowserKey, "", REG_SZ, Z(row.stored));
        }
        if (!row.users.empty()) {
            mem::SetValue(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + facts::kBrowserKey,
                          "", REG_SZ, Z(row.users));
        }
        OpenFeedbackPage();
        std::vector<std::string> ran;
        for (const mem::ProcessRecord& process : mem::Processes()) {
            if (process.startedByWinExec) {
                ran.push_back(process.imagePath);
            }
        }
        EXPECT_EQ(ran, row.runs.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.runs})
            << row.stored << " / " << row.users << mem::Dump();
    }
}

}  // namespace
