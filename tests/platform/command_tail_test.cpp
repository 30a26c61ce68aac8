// The start-up's command-tail rule, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/memory_platform.h"
#include "platform/startup.h"
#include "tests/support/code_pages.h"

namespace {

using codepage::NoLeadBytes;
using codepage::ShiftJisLeadByte;

// The program's own full path, as GetModuleFileNameA gives it.
const std::string OWN = "C:\\Program Files\\Quillmere\\Uninstall.exe";

// The line spelt out by the model's GetFullPathNameA, from "C:\".
std::string Tail(const std::string& line, BOOL(WINAPI* lead)(BYTE) = NoLeadBytes,
                 const std::string& own = OWN)
{
    return CommandTail(line.c_str(), own.c_str(), lead, g_platform->GetFullPathNameA);
}

struct TailCase {
    const char* name;
    std::string line;
    std::string tail;
    std::string own = OWN;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TailCase& c, std::ostream* os)
{
    *os << c.name;
}

class CommandTailTest : public ::testing::TestWithParam<TailCase> {
protected:
    void SetUp() override { mem::Reset(); }
};

TEST_P(CommandTailTest, SkipsTheProgramNameByTheStartUpRule)
{
    EXPECT_EQ(Tail(GetParam().line, NoLeadBytes, GetParam().own), GetParam().tail);
}

// The own path padded with separators to a line of this many bytes.
std::string OwnPathOfLength(size_t bytes)
{
    return "C:\\Program Files\\Quillmere" + std::string(bytes - OWN.size() + 1, '\\') +
           "Uninstall.exe";
}

// An own path of this many bytes, as GetModuleFileNameA gives it.
std::string LongOwnPath(size_t bytes)
{
    return "C:\\Program Files\\" + std::string(bytes - 31, 'q') + "\\Uninstall.exe";
}

// The path with "/" for every "\".
std::string Slashed(std::string path)
{
    for (char& c : path) {
        c = c == '\\' ? '/' : c;
    }
    return path;
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
        TailCase{"OwnUnquotedPathCutShortIsCut", "C:\\Program Files\\Quillmere", "Files\\Quillmere"},
        // An installer may spell the path another way; Windows passes the
        // line on as written.
        TailCase{"OwnPathWithADoubledSeparatorHasNoTail", "C:\\Program Files\\Quillmere\\\\Uninstall.exe", ""},
        TailCase{"OwnPathWithSlashesHasNoTail", "C:/Program Files/Quillmere/Uninstall.exe", ""},
        TailCase{"OwnPathThroughDotHasNoTail", "C:\\Program Files\\.\\Quillmere\\Uninstall.exe \t", ""},
        TailCase{"OtherPathSpeltAnotherWayIsCut", "C:/Program Files/Quillmere/Setup.exe", "Files/Quillmere/Setup.exe"},
        TailCase{"OwnPathOf259BytesHasNoTail", OwnPathOfLength(259), ""},
        TailCase{"OwnPathOf260BytesIsCut", OwnPathOfLength(260), OwnPathOfLength(260).substr(11)},
        // CreateProcess adds ".exe" to a last name without a ".".
        TailCase{"OwnPathWithoutExeHasNoTail", "C:\\Program Files\\Quillmere\\Uninstall \t", ""},
        TailCase{"OwnPathWithoutExeBelowAFolderWithADotHasNoTail", "C:\\Program Files\\Q.1\\Uninstall", "",
                 "C:\\Program Files\\Q.1\\Uninstall.exe"},
        TailCase{"OwnPathWithAnotherExtensionIsCut", "C:\\Program Files\\Quillmere\\Uninstall.ex",
                 "Files\\Quillmere\\Uninstall.ex"},
        TailCase{"OwnPathOf259BytesWithoutExeHasNoTail", LongOwnPath(259).substr(0, 255), "",
                 LongOwnPath(259)},
        TailCase{"OwnPathOf256BytesWithoutExtensionHasNoTail", LongOwnPath(260).substr(0, 256), "",
                 LongOwnPath(260).substr(0, 256)},
        TailCase{"OwnPathOf259BytesThenMoreIsCut", OwnPathOfLength(259) + " x",
                 OwnPathOfLength(259).substr(11) + " x"},
        TailCase{"OwnPathSpeltOutTo259BytesHasNoTail", Slashed(LongOwnPath(259)), "", LongOwnPath(259)},
        // Only A-Z and a-z fold: "[" and "{", "@" and "`" stay apart.
        TailCase{"OwnPathFoldsAToZ", "c:\\zeta a\\az.exe", "", "C:\\ZETA A\\AZ.EXE"},
        TailCase{"OwnPathFoldsNothingElse", "C:\\x[ y\\@.exe", "y\\@.exe", "C:\\x{ y\\`.exe"}),
    [](const ::testing::TestParamInfo<TailCase>& info) { return std::string(info.param.name); });

class CommandTailLeadBytes : public ::testing::Test {
protected:
    void SetUp() override { mem::Reset(); }
};

TEST_F(CommandTailLeadBytes, LeadByteInsideQuotesTakesAQuoteTrailByteAlong)
{
    // 0x81 0x22 is one double-byte character whose trail byte has the value
    // of a quote: it must not end the quoted name.
    const std::string line = "\"C:\\\x81\"name.exe\" tail";
    EXPECT_EQ(Tail(line, ShiftJisLeadByte), "tail");
    // Read without double-byte characters, the same quote ends the name.
    EXPECT_EQ(Tail(line, NoLeadBytes), "name.exe\" tail");
}

TEST_F(CommandTailLeadBytes, LeadByteAtTheEndDoesNotRunPastTheZero)
{
    // Past the zero a quote would end the name and leave "X" as the tail.
    const char line[] = {'"', 'a', '\x81', '\0', '"', 'X', '\0'};
    EXPECT_EQ(std::string(SkipProgramName(line, ShiftJisLeadByte)), "");
}

TEST_F(CommandTailLeadBytes, LeadBytesOutsideQuotesAreOrdinaryNameBytes)
{
    EXPECT_EQ(Tail("a\x81 b", ShiftJisLeadByte), "b");
}

// A stand-in for GetFullPathNameA that spells every line out as the own
// path, answers with g_spelledLength, and keeps the longest line it was
// handed: a comparison made against a failed or cut spelling would match.
DWORD g_spelledLength = 0;
size_t g_longestLine = 0;

DWORD WINAPI SpellsOwnPath(LPCSTR path, DWORD, LPSTR buffer, LPSTR* filePart)
{
    g_longestLine = std::max(g_longestLine, std::string(path).size());
    std::copy(OWN.c_str(), OWN.c_str() + OWN.size() + 1, buffer);
    *filePart = buffer + OWN.rfind('\\') + 1;
    return g_spelledLength;
}

TEST(CommandTailSpelling, OnlyAWholeSpellingOfALineThatFitsIsCompared)
{
    const struct {
        size_t lineLength;
        DWORD spelledLength;
        bool noTail;
    } rows[] = {{OWN.size(), 0, false},           {OWN.size(), MAX_PATH, false},
                {OWN.size(), MAX_PATH - 1, true}, {MAX_PATH - 1, MAX_PATH - 1, true},
                {MAX_PATH, MAX_PATH - 1, false}};
    for (const auto& row : rows) {
        const std::string line = OWN + std::string(row.lineLength - OWN.size(), '\\');
        g_spelledLength = row.spelledLength;
        g_longestLine = 0;
        const std::string tail = CommandTail(line.c_str(), OWN.c_str(), NoLeadBytes, SpellsOwnPath);
        EXPECT_EQ(tail.empty(), row.noTail) << row.lineLength << " " << row.spelledLength;
        EXPECT_LE(g_longestLine, MAX_PATH - 1u) << row.lineLength;
    }
}

}  // namespace
