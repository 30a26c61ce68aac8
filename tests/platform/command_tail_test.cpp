// The start-up's command-tail rule, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "platform/startup.h"

namespace {

// Shift-JIS lead bytes: 0x81-0x9F and 0xE0-0xFC.
BOOL WINAPI ShiftJisLeadByte(BYTE b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

BOOL WINAPI NoLeadBytes(BYTE)
{
    return FALSE;
}

// The program's own full path, as GetModuleFileNameA gives it.
const std::string OWN = "C:\\Program Files\\Quillmere\\Uninstall.exe";

std::string Tail(const std::string& line, BOOL(WINAPI* lead)(BYTE) = NoLeadBytes)
{
    return CommandTail(line.c_str(), OWN.c_str(), lead);
}

struct TailCase {
    const char* name;
    std::string line;
    std::string tail;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TailCase& c, std::ostream* os)
{
    *os << c.name;
}

class CommandTailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(CommandTailTest, SkipsTheProgramNameByTheStartUpRule)
{
    EXPECT_EQ(Tail(GetParam().line), GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandTailTest,
    ::testing::Values(
        TailCase{"EmptyLine", "", ""},
        TailCase{"NameOnly", "Uninstall.exe", ""},
        TailCase{"NameThenOnlyBlanks", "Uninstall.exe  \t \t", ""},
        TailCase{"ControlBytesCountAsBlanks", "Uninstall.exe\x01\x1f x", "x"},
        TailCase{"QuotedNameThenSpace", "\"C:\\Program Files\\Q\\Uninstall.exe\" C:\\a b.exe",
                 "C:\\a b.exe"},
        TailCase{"QuotedNameNoSpaceAfterQuote", "\"C:\\Q\\Uninstall.exe\"C:\\x", "C:\\x"},
        TailCase{"QuotedNameWithoutClosingQuote", "\"C:\\Program Files\\Uninstall.exe x", ""},
        TailCase{"QuotedEmptyName", "\"\" tail", "tail"},
        TailCase{"UnquotedNameWithSpaceIsCut", "C:\\Program Files\\Q\\Uninstall.exe",
                 "Files\\Q\\Uninstall.exe"},
        TailCase{"HighBytesBelongToUnquotedName", "C:\\Pr\xa0gram\xff\x80x.exe tail", "tail"},
        TailCase{"ByteOf32EndsUnquotedName", "a\x20" "b", "b"},
        TailCase{"TailKeepsItsSpacesAndQuotes",
                 "C:\\Temp\\suicide.exe C:\\Program Files\\Q\\Uninstall.exe \"x\" ",
                 "C:\\Program Files\\Q\\Uninstall.exe \"x\" "},
        TailCase{"QuoteInsideUnquotedNameIsPartOfIt", "a\"b c\" d", "c\" d"},
        // The list of installed programs starts an unquoted UninstallString.
        TailCase{"OwnUnquotedPathInAnyCaseHasNoTail", "c:\\PROGRAM files\\Quillmere\\uninstall.EXE", ""},
        TailCase{"OwnUnquotedPathThenBlanksHasNoTail", OWN + " \t\x01", ""},
        TailCase{"OwnUnquotedPathThenMoreIsCut", OWN + " x", "Files\\Quillmere\\Uninstall.exe x"},
        TailCase{"OwnUnquotedPathCutShortIsCut", "C:\\Program Files\\Quillmere", "Files\\Quillmere"}),
    [](const ::testing::TestParamInfo<TailCase>& info) { return std::string(info.param.name); });

TEST(CommandTailLeadBytes, LeadByteInsideQuotesTakesAQuoteTrailByteAlong)
{
    // 0x81 0x22 is one double-byte character whose trail byte has the value
    // of a quote: it must not end the quoted name.
    const std::string line = "\"C:\\\x81\"name.exe\" tail";
    EXPECT_EQ(Tail(line, ShiftJisLeadByte), "tail");
    // Read without double-byte characters, the same quote ends the name.
    EXPECT_EQ(Tail(line, NoLeadBytes), "name.exe\" tail");
}

TEST(CommandTailLeadBytes, LeadByteAtTheEndDoesNotRunPastTheZero)
{
    const char line[] = {'"', 'a', '\x81', '\0', 'X', '\0'};
    EXPECT_EQ(std::string(SkipProgramName(line, ShiftJisLeadByte)), "");
}

TEST(CommandTailLeadBytes, LeadBytesOutsideQuotesAreOrdinaryNameBytes)
{
    EXPECT_EQ(Tail("a\x81 b", ShiftJisLeadByte), "b");
}

}  // namespace
