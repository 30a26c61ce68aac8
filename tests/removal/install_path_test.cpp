// Reading the install directory from the current user's settings key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/memory_platform.h"
#include "removal/removal.h"
#include "tests/support/product_facts.h"

namespace {

const unsigned GUARD = 16;
const char GUARD_BYTE = '\xAB';

class InstallPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mem::Reset();
        std::memset(raw_, GUARD_BYTE, sizeof(raw_));
    }

    void StoreValue(DWORD type, const std::string& bytes)
    {
        mem::SetValue(HKEY_CURRENT_USER, facts::kSettingsKey, facts::kProgramPathValue, type, bytes);
    }

    // Reads into a 260-byte buffer with guard bytes on both sides.
    std::string Read()
    {
        EXPECT_EQ(ReadStringValue(facts::kSettingsKey, facts::kProgramPathValue, Buffer(), HKEY_CURRENT_USER), 1);
        ExpectGuardsIntact();
        EXPECT_NE(std::memchr(Buffer(), '\0', MAX_PATH), nullptr) << "no zero inside the buffer";
        return std::string(Buffer());
    }

    char* Buffer() { return raw_ + GUARD; }

    void ExpectGuardsIntact()
    {
        for (unsigned i = 0; i < GUARD; ++i) {
            EXPECT_EQ(raw_[i], GUARD_BYTE) << "written before the buffer at " << i;
            EXPECT_EQ(raw_[GUARD + MAX_PATH + i], GUARD_BYTE) << "written past the buffer at " << i;
        }
    }

    char raw_[GUARD + MAX_PATH + GUARD];
};

TEST_F(InstallPathTest, ReadsAValueOf259BytesWhole)
{
    const std::string path = "C:\\" + std::string(255, 'q');  // 258 characters and the zero
    StoreValue(REG_SZ, path + std::string(1, '\0'));
    EXPECT_EQ(Read(), path);
}

TEST_F(InstallPathTest, EndsAValueWithoutItsZeroAtItsStoredLength)
{
    std::memset(Buffer(), 'x', MAX_PATH);
    StoreValue(REG_SZ, "C:\\Quillmere");
    EXPECT_EQ(Read(), "C:\\Quillmere");

    std::memset(Buffer(), 'x', MAX_PATH);
    const std::string full(MAX_PATH - 1, 'p');  // 259 bytes, no zero
    StoreValue(REG_SZ, full);
    EXPECT_EQ(Read(), full);
}

TEST_F(InstallPathTest, TakesAValueOfAnyTypeAsTheBytesItHolds)
{
    StoreValue(REG_EXPAND_SZ, std::string("C:\\Q", 4));
    EXPECT_EQ(Read(), "C:\\Q");
    StoreValue(REG_BINARY, std::string("D:\\Q\0junk", 9));
    EXPECT_EQ(Read(), "D:\\Q");
}

TEST_F(InstallPathTest, YieldsNoDirectoryWhenTheValueCannotBeRead)
{
    std::memset(Buffer(), 'x', MAX_PATH);
    EXPECT_EQ(Read(), "") << "missing key";

    mem::AddKey(HKEY_CURRENT_USER, facts::kSettingsKey);
    std::memset(Buffer(), 'x', MAX_PATH);
    EXPECT_EQ(Read(), "") << "missing value";

    StoreValue(REG_SZ, std::string(1, '\0'));
    EXPECT_EQ(Read(), "") << "empty value";
    StoreValue(REG_SZ, "");
    EXPECT_EQ(Read(), "") << "value of no bytes";

    // Too long: the query reports the size it would need (260 or more); the
    // reader must not write a zero there.
    StoreValue(REG_SZ, std::string(MAX_PATH, 'z') + std::string(1, '\0'));
    std::memset(Buffer(), 'x', MAX_PATH);
    EXPECT_EQ(Read(), "") << "value over 259 bytes";
    StoreValue(REG_SZ, std::string(MAX_PATH + 40, 'z'));
    EXPECT_EQ(Read(), "") << "long value without its zero";
}

TEST_F(InstallPathTest, OpensTheKeyForQueryOnlySoAReadOnlyKeyIsRead)
{
    StoreValue(REG_SZ, std::string("C:\\Quillmere\0", 13));
    mem::ProtectKey(HKEY_CURRENT_USER, facts::kSettingsKey);
    EXPECT_EQ(Read(), "C:\\Quillmere");
}

TEST_F(InstallPathTest, LeavesNoKeyOpen)
{
    StoreValue(REG_SZ, std::string("C:\\Quillmere\0", 13));
    Read();
    EXPECT_EQ(mem::OpenHandleCount(1), 0u) << mem::Dump();
    mem::FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(mem::OpenHandleCount(1), 0u) << mem::Dump();
}

TEST_F(InstallPathTest, FailedOpenYieldsNoDirectory)
{
    StoreValue(REG_SZ, std::string("C:\\Quillmere\0", 13));
    mem::FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED);
    std::memset(Buffer(), 'x', MAX_PATH);
    EXPECT_EQ(Read(), "");
}

TEST_F(InstallPathTest, InstallDirectoryMustBeAFullPath)
{
    // Relative values would name a folder under whatever the current
    // directory is: for the cleanup role, the temp folder.
    const char* refused[] = {"Quillmere", "..\\Quillmere", "%ProgramFiles%\\Quillmere", "C:",
                             "C:Quillmere", "\\Quillmere", ".", " C:\\Quillmere"};
    for (const char* value : refused) {
        StoreValue(REG_SZ, std::string(value) + std::string(1, '\0'));
        char installDir[MAX_PATH];
        ReadInstallDirectory(installDir);
        EXPECT_STREQ(installDir, "") << value;
    }
    const char* accepted[] = {"C:\\Program Files\\Quillmere", "d:/Quillmere", "C:\\",
                              "\\\\server\\share\\Quillmere"};
    for (const char* value : accepted) {
        StoreValue(REG_SZ, std::string(value) + std::string(1, '\0'));
        char installDir[MAX_PATH];
        ReadInstallDirectory(installDir);
        EXPECT_STREQ(installDir, value);
    }
}

}  // namespace
