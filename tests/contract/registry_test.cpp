// Contract cases: the registry as the program reads its install path and
// removes its uninstall entry. Each runs on the model and on real Win32
// under Wine (fixture.h); keys live below the fixture's scratch key.
#include <cstring>
#include <string>

#include "tests/contract/fixture.h"

namespace contract {
namespace {

class ContractRegistry : public Case {
protected:
    static LONG OpenKey(const std::string& relative, REGSAM access, HKEY* key)
    {
        return W().RegOpenKeyExA(ScratchRoot(), KeyAt(relative).c_str(), 0, access, key);
    }
};

TEST_F(ContractRegistry, QueryGivesRawBytesAndTheSizeNeededWhenTheyDoNotFit)
{
    SeedValue("Quillmere", "Program Path", REG_SZ, std::string("C:\\Q", 5));
    SeedValue("Quillmere", "", REG_SZ, "bare");
    SeedValue("Quillmere", "Count", REG_DWORD, std::string("\x07\x00\x00\x01", 4));
    HKEY key = nullptr;
    ASSERT_EQ(W().RegOpenKeyExA(ScratchRoot(), (ScratchKey() + "\\QUILLMERE").c_str(), 0,
                                KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS)
        << "names match whatever their case";

    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(W().RegQueryValueExA(key, "program path", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    size = 4;
    EXPECT_EQ(W().RegQueryValueExA(key, "Program Path", nullptr, nullptr,
                                   reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(buffer[4], 'x') << "nothing past the room offered";
    // The documentation leaves the buffer's contents undefined here; the
    // model leaves no usable path in it, so a program that trusts it fails.
    if (OnModel()) {
        EXPECT_NE(std::string(buffer, 4), "C:\\Q");
    }

    size = sizeof buffer;
    EXPECT_EQ(W().RegQueryValueExA(key, "Program Path", nullptr, nullptr,
                                   reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), std::string("C:\\Q", 5));

    // "If the data has the REG_SZ, REG_MULTI_SZ or REG_EXPAND_SZ type, the
    // string may not have been stored with the proper terminating null
    // characters" (learn.microsoft.com, RegQueryValueExA): Windows gives the
    // bytes as stored. Wine 8 stores ANSI strings as Unicode and gives them
    // back with a zero added.
    std::memset(buffer, 'x', sizeof buffer);
    size = sizeof buffer;
    EXPECT_EQ(W().RegQueryValueExA(key, nullptr, nullptr, &type,
                                   reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, 4), "bare");
    if (OnModel()) {
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(std::string(buffer, 5), "barex") << "no zero added to a value stored without one";
    }

    size = sizeof buffer;
    EXPECT_EQ(W().RegQueryValueExA(key, "Count", nullptr, &type,
                                   reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(std::string(buffer, size), std::string("\x07\x00\x00\x01", 4));

    EXPECT_EQ(W().RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(W().RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(ContractRegistry, KeyIsQueriedOnlyThroughAHandleOpenedForIt)
{
    SeedValue("K", "V", REG_SZ, std::string("x", 2));
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey("K", KEY_SET_VALUE, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(W().RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    W().RegCloseKey(key);
    ASSERT_EQ(OpenKey("K", KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(W().RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    W().RegCloseKey(key);
    EXPECT_EQ(OpenKey("Missing", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(ContractRegistry, DeletesOnlyAnExistingKeyWithoutSubkeys)
{
    SeedKey("Product\\Sub");
    const std::string product = KeyAt("Product");
    EXPECT_EQ(W().RegDeleteKeyA(ScratchRoot(), KeyAt("Missing").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(W().RegDeleteKeyA(ScratchRoot(), product.c_str()), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(KeyExists("Product\\Sub"));
    EXPECT_EQ(W().RegDeleteKeyA(ScratchRoot(), KeyAt("product\\SUB").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(W().RegDeleteKeyA(ScratchRoot(), product.c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists("Product"));
    EXPECT_TRUE(KeyExists("")) << "its parent stays";
}

}  // namespace
}  // namespace contract
