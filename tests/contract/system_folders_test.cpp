// Contract cases: the temp path and the special folders as Windows gives
// them, which the hand-off and the shortcut removal build paths on. On the
// model the fixture seeds a Windows-like machine; under Wine they are the
// prefix's own.
#include <cstring>
#include <string>

#include "tests/contract/fixture.h"

namespace contract {
namespace {

class ContractSystemFolders : public Case {
protected:
    void SetUp() override
    {
        Case::SetUp();
        SeedSystemFolders();
    }

    // "X:\" followed by more: a full path on a drive.
    static bool FullPath(const std::string& path)
    {
        return path.size() > 3 && path[1] == ':' && path[2] == '\\';
    }
    static bool FolderExists(const std::string& path)
    {
        WIN32_FIND_DATAA found;
        HANDLE search = W().FindFirstFileA((path + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return false;
        }
        W().FindClose(search);
        return true;
    }
};

TEST_F(ContractSystemFolders, TempPathIsAFullPathWithItsSeparator)
{
    char temp[MAX_PATH];
    DWORD length = W().GetTempPathA(sizeof temp, temp);
    ASSERT_GT(length, 3u);
    ASSERT_LT(length, sizeof temp);
    EXPECT_EQ(length, std::strlen(temp));
    std::string path(temp);
    EXPECT_TRUE(FullPath(path)) << path;
    EXPECT_EQ(path.back(), '\\') << path;
    EXPECT_TRUE(FolderExists(path.substr(0, path.size() - 1))) << path;

    char small[4];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(W().GetTempPathA(sizeof small, small), length + 1) << "the size needed, with the zero";
}

TEST_F(ContractSystemFolders, SpecialFolderIsAFullPathWithoutSeparator)
{
    char path[MAX_PATH];
    ASSERT_TRUE(W().SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE));
    std::string desktop(path);
    EXPECT_TRUE(FullPath(desktop)) << desktop;
    EXPECT_NE(desktop.back(), '\\') << desktop;
    EXPECT_TRUE(FolderExists(desktop)) << desktop;
}

}  // namespace
}  // namespace contract
