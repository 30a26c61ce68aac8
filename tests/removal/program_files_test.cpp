// The sweep of the product's listed files from the install directory.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/memory_platform.h"
#include "removal/removal.h"
#include "tests/support/product_facts.h"

namespace {

const std::string DIR = "C:\\Program Files\\Quillmere";

class ProgramFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mem::Reset();
        mem::AddFolder(DIR);
        SetInstallDirectory(DIR);
    }

    static void SetInstallDirectory(const std::string& path)
    {
        mem::SetStringValue(HKEY_CURRENT_USER, facts::kSettingsKey, facts::kProgramPathValue, path);
    }

    static std::string In(const std::string& name) { return DIR + "\\" + name; }

    static bool Searched()
    {
        for (const mem::CallRecord& call : mem::CallLog()) {
            if (call.operation == "FindFirstFileA") {
                return true;
            }
        }
        return false;
    }
};

TEST_F(ProgramFilesTest, DeletesListedFilesWhateverTheirCase)
{
    const char* names[] = {"quillmere.EXE", "QUILLMERE.hlp", "Quillmere.cnt", "qUiLlMeRe.GiD",
                           "Quillmere.fts", "quillmere.ftg", "buy online now!.URL"};
    for (const char* name : names) {
        mem::AddFile(In(name));
    }
    EXPECT_EQ(RemoveProgramFiles(), 1);
    for (const char* name : names) {
        EXPECT_FALSE(mem::FileExists(In(name))) << name << "\n" << mem::Dump();
    }
    EXPECT_EQ(mem::OpenHandleCount(), 0u) << "the search is closed";
}

TEST_F(ProgramFilesTest, LeavesEveryNameThatIsNotListedWhole)
{
    const char* kept[] = {"Uninstall.exe",   "XQuillmere.exe",  "Quillmere.exe2", "Quillmere.ex",
                          "Quillmere.exe ",  "Quillmere",       "Readme.txt",     "Quillmere.ini",
                          "Buy Online Now!", "Quillmere\xc9.exe"};
    for (const char* name : kept) {
        mem::AddFile(In(name));
    }
    mem::AddFolder(In("Quillmere.hlp"));  // a subfolder named like a listed file
    mem::AddFile(In("Quillmere.hlp\\inside.txt"));
    EXPECT_EQ(RemoveProgramFiles(), 1);
    for (const char* name : kept) {
        EXPECT_TRUE(mem::FileExists(In(name))) << name;
    }
    EXPECT_TRUE(mem::FolderExists(In("Quillmere.hlp")));
    EXPECT_TRUE(mem::FileExists(In("Quillmere.hlp\\inside.txt")));
    EXPECT_TRUE(mem::Changes().empty()) << mem::Dump();
}

TEST_F(ProgramFilesTest, ReadOnlyFilesGoButNotWhatIsInUseALinkOrAFolder)
{
    // Copied from a CD, the product's files are read-only: their bit is
    // cleared, and put back on one still in use. A link or a folder of a
    // listed name is never given new attributes.
    mem::AddFile("C:\\Users\\Bob\\Report.doc", "Bob's report");
    mem::AddFileLink(In("Quillmere.fts"), "C:\\Users\\Bob\\Report.doc");
    mem::AddFolder(In("Quillmere.ftg"));
    for (const char* name : {"Quillmere.exe", "Quillmere.hlp", "Quillmere.cnt"}) {
        mem::AddFile(In(name));
    }
    const struct {
        const char* name;
        bool readOnly;
        bool inUse;
        bool stays;
    } rows[] = {{"Quillmere.exe", true, true, true},   {"Quillmere.hlp", true, false, false},
                {"Quillmere.cnt", false, false, false}, {"Quillmere.fts", true, false, true},
                {"Quillmere.ftg", true, false, true}};
    for (const auto& row : rows) {
        mem::SetReadOnly(In(row.name), row.readOnly);
        mem::SetInUse(In(row.name), row.inUse);
    }
    EXPECT_EQ(RemoveProgramFiles(), 1);
    for (const auto& row : rows) {
        EXPECT_EQ(mem::FileExists(In(row.name)) || mem::FolderExists(In(row.name)), row.stays)
            << row.name << mem::Dump();
        if (row.stays) {
            EXPECT_NE(g_platform->GetFileAttributesA(In(row.name).c_str()) & FILE_ATTRIBUTE_READONLY,
                      0u) << row.name;
        }
    }
    for (const mem::ChangeRecord& change : mem::Changes()) {
        EXPECT_EQ(change.path.find(DIR + "\\Quillmere.f"), std::string::npos) << change;
    }
}

TEST_F(ProgramFilesTest, DirectoryOfOnlyProductFilesEndsWithOnlyTheUninstaller)
{
    for (unsigned i = 0; i < facts::kProductFileCount; ++i) {
        mem::AddFile(In(facts::kProductFiles[i]));
    }
    mem::AddFile(In("Uninstall.exe"));
    EXPECT_EQ(RemoveProgramFiles(), 1);
    EXPECT_EQ(mem::Changes().size(), facts::kProductFileCount) << mem::Dump();
    EXPECT_TRUE(mem::FileExists(In("Uninstall.exe")));
    for (unsigned i = 0; i < facts::kProductFileCount; ++i) {
        EXPECT_FALSE(mem::FileExists(In(facts::kProductFiles[i])));
    }
}

TEST_F(ProgramFilesTest, SearchesNothingWithoutAnInstallDirectory)
{
    // An empty directory would make the pattern "\*.*": the drive's root.
    mem::AddFile("C:\\Quillmere.exe");
    const std::string values[] = {std::string(), std::string(1, '\0'),
                                  std::string(MAX_PATH + 1, 'C')};
    for (const std::string& value : values) {
        mem::SetValue(HKEY_CURRENT_USER, facts::kSettingsKey, facts::kProgramPathValue, REG_SZ, value);
        EXPECT_EQ(RemoveProgramFiles(), 0);
    }
    mem::Reset();
    mem::AddFile("C:\\Quillmere.exe");
    EXPECT_EQ(RemoveProgramFiles(), 0) << "missing key";
    EXPECT_FALSE(Searched());
    EXPECT_TRUE(mem::FileExists("C:\\Quillmere.exe"));
    EXPECT_TRUE(mem::Changes().empty());
}

TEST_F(ProgramFilesTest, UnlistableDirectoryEndsTheStep)
{
    SetInstallDirectory("C:\\Missing");
    EXPECT_EQ(RemoveProgramFiles(), 0);
    mem::AddFile(In("Quillmere.exe"));
    SetInstallDirectory(DIR);
    mem::FailCall("FindFirstFileA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RemoveProgramFiles(), 0);
    EXPECT_TRUE(mem::FileExists(In("Quillmere.exe")));
    EXPECT_EQ(mem::OpenHandleCount(1), 0u);
}

TEST_F(ProgramFilesTest, SkipsAPathTooLongForTheBufferAndNothingElseIsAffected)
{
    // The directory's path is 245 bytes: "\*.*" fits, and so does every
    // listed name of 13 bytes or less, but not "Buy Online Now!.url".
    const std::string longDir = "C:\\" + std::string(242, 'd');
    ASSERT_EQ(longDir.size(), 245u);
    mem::AddFolder(longDir);
    SetInstallDirectory(longDir);
    // As the search reports it, the name is whole; only the joined path would
    // pass 259 bytes. Cut short it could name another file.
    mem::AddFile(longDir + "\\Quillmere.exe");
    mem::AddFile(longDir + "\\Buy Online Now!.url");
    EXPECT_EQ(RemoveProgramFiles(), 1);
    EXPECT_FALSE(mem::FileExists(longDir + "\\Quillmere.exe"));
    EXPECT_TRUE(mem::FileExists(longDir + "\\Buy Online Now!.url"));
    EXPECT_EQ(mem::Changes().size(), 1u) << mem::Dump();
}

TEST_F(ProgramFilesTest, PatternThatDoesNotFitEndsTheStepUnsearched)
{
    const std::string longDir = "C:\\" + std::string(253, 'd');  // 256 + "\*.*" = 260
    SetInstallDirectory(longDir);
    EXPECT_EQ(RemoveProgramFiles(), 0);
    EXPECT_FALSE(Searched());
}

TEST_F(ProgramFilesTest, CompletenessCheckSeesOnlyRealProductFilesAndClosesItsSearches)
{
    // A name the listing best-fits to a product file's ("Quillmere.exe" with
    // a fullwidth "e") names nothing once joined: only a lookup that finds
    // no such file says so. The running uninstaller's folder counts too, as
    // GetModuleFileNameA gives it whole, in the ANSI code page (932: the
    // trail byte of "\x95\x5C" is no separator).
    const std::string bestFit = In("Quillmere.\xEF\xBD\x85xe");
    const std::string cutShort = In(std::string(MAX_PATH - DIR.size() - 5, 'u') + ".exe");
    const struct {
        const char* name;
        std::function<void()> seed;
        bool gone;
    } rows[] = {
        {"other files only", [] {}, true},
        {"product file left", [] { mem::AddFile(In("Quillmere.hlp")); }, false},
        {"best-fit name", [&] { mem::AddFile(bestFit); }, true},
        {"best-fit, denied", [&] { mem::AddFile(bestFit); mem::FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED); }, false},
        {"best-fit, no path", [&] { mem::AddFile(bestFit); mem::FailCall("GetFileAttributesA", ERROR_PATH_NOT_FOUND); }, false},
        {"listing cut short", [] { mem::FailCall("FindNextFileA", ERROR_NOT_ENOUGH_MEMORY); }, false},
        {"own path cut short", [&] { mem::SetShellProcess(cutShort, cutShort, "C:\\"); }, false},
        {"own name double-byte", [] {
             mem::SetAnsiCodePage(932);
             mem::AddFile("C:\\Apps\\Quillmere.exe");
             mem::AddFile("C:\\Apps\\\x95\x5C.exe");
             mem::SetShellProcess("C:\\Apps\\\x95\x5C.exe", "a", "C:\\");
         }, false},
    };
    for (const auto& row : rows) {
        SetUp();
        mem::AddFile(In("Readme.txt"));
        mem::SetShellProcess(In("Uninstall.exe"), In("Uninstall.exe"), "C:\\");
        row.seed();
        EXPECT_EQ(ProgramFilesAreGone(), row.gone) << row.name << mem::Dump();
        EXPECT_EQ(mem::OpenHandleCount(1), 0u) << row.name;
    }
}

TEST_F(ProgramFilesTest, LooksOnlyAtTheTopLevel)
{
    mem::AddFolder(In("sub"));
    mem::AddFile(In("sub\\Quillmere.exe"));
    EXPECT_EQ(RemoveProgramFiles(), 1);
    EXPECT_TRUE(mem::FileExists(In("sub\\Quillmere.exe")));
}

}  // namespace
