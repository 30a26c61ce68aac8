// Fuzzes the registry string reader on raw value bytes.
//
// Input: the first byte chooses the value's type and whether the key and the
// value exist; the rest are the value's stored bytes, of any length, with or
// without zeros. The registry here holds that one value and answers with
// RegQueryValueExA's own rules: ERROR_MORE_DATA and the needed size, the
// buffer left alone, when the room offered is too small.
//
// The reader writes into a heap block of exactly MAX_PATH bytes, so
// AddressSanitizer reports any write past a path buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "removal/removal.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char FUZZ_SUB_KEY[] = "Software\\Korrindal\\Quillmere";
const char FUZZ_VALUE_NAME[] = "Program Path";
const HKEY FUZZ_ROOT = HKEY_CURRENT_USER;

const DWORD VALUE_TYPES[8] = {
    REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE, 11 /* REG_QWORD */,
    0xFFFF,
};
const uint8_t KEY_MISSING = 0x08;
const uint8_t VALUE_MISSING = 0x10;

struct FuzzRegistry {
    bool keyExists;
    bool valueExists;
    DWORD type;
    const uint8_t* bytes;
    DWORD size;
    // The reader's buffer, to check the room it offers.
    const char* buffer;
    // The key handle given out, and whether it is still open.
    HKEY handle;
    bool open;
    int opens;
};

FuzzRegistry g_registry;

LONG WINAPI OpenKey(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    FUZZ_CHECK(root == FUZZ_ROOT);
    FUZZ_CHECK(std::strcmp(subKey, FUZZ_SUB_KEY) == 0);
    FUZZ_CHECK(options == 0);
    // A user who may only read the key must still get the value.
    FUZZ_CHECK(access == KEY_QUERY_VALUE);
    FUZZ_CHECK(result != nullptr);
    FUZZ_CHECK(!g_registry.open);
    if (!g_registry.keyExists) {
        return ERROR_FILE_NOT_FOUND;
    }
    g_registry.open = true;
    ++g_registry.opens;
    *result = g_registry.handle;
    return ERROR_SUCCESS;
}

LONG WINAPI QueryValue(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                       LPDWORD dataSize)
{
    FUZZ_CHECK(g_registry.open && key == g_registry.handle);
    FUZZ_CHECK(valueName != nullptr && std::strcmp(valueName, FUZZ_VALUE_NAME) == 0);
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!g_registry.valueExists) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = g_registry.type;
    }
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = g_registry.size;
        }
        return ERROR_SUCCESS;
    }
    // The room offered lies inside the reader's buffer.
    const char* first = reinterpret_cast<const char*>(data);
    FUZZ_CHECK(first >= g_registry.buffer && first < g_registry.buffer + MAX_PATH);
    FUZZ_CHECK(*dataSize <= static_cast<DWORD>(g_registry.buffer + MAX_PATH - first));
    if (*dataSize < g_registry.size) {
        *dataSize = g_registry.size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, g_registry.bytes, g_registry.size);
    *dataSize = g_registry.size;
    return ERROR_SUCCESS;
}

LONG WINAPI CloseKey(HKEY key)
{
    FUZZ_CHECK(g_registry.open && key == g_registry.handle);
    g_registry.open = false;
    return ERROR_SUCCESS;
}

const PlatformOps* RegistryOps()
{
    static PlatformOps ops = [] {
        PlatformOps table = fuzz::UnexpectedPlatformOps();
        table.RegOpenKeyExA = OpenKey;
        table.RegQueryValueExA = QueryValue;
        table.RegCloseKey = CloseKey;
        return table;
    }();
    return &ops;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    g_platform = RegistryOps();

    char* buffer = new char[MAX_PATH];
    std::memset(buffer, 0xA5, MAX_PATH);

    const uint8_t control = data[0];
    g_registry = FuzzRegistry();
    g_registry.keyExists = (control & KEY_MISSING) == 0;
    g_registry.valueExists = (control & VALUE_MISSING) == 0;
    g_registry.type = VALUE_TYPES[control & 7];
    g_registry.bytes = data + 1;
    g_registry.size = static_cast<DWORD>(size - 1);
    g_registry.buffer = buffer;
    g_registry.handle = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x5A5A0));

    const int result = ReadStringValue(FUZZ_SUB_KEY, FUZZ_VALUE_NAME, buffer, FUZZ_ROOT);

    FUZZ_CHECK(result == 1);
    // Every key opened is closed again.
    FUZZ_CHECK(!g_registry.open);
    FUZZ_CHECK(g_registry.opens <= 1);

    // A string ended inside the buffer.
    const void* zero = std::memchr(buffer, 0, MAX_PATH);
    FUZZ_CHECK(zero != nullptr);
    const size_t length = static_cast<size_t>(static_cast<const char*>(zero) - buffer);

    const bool readable = g_registry.keyExists && g_registry.valueExists &&
                          g_registry.size <= MAX_PATH - 1;
    if (!readable) {
        // No key, no value, or more than fits: no install directory.
        FUZZ_CHECK(length == 0);
    } else {
        // The stored bytes up to their first zero, or all of them.
        const void* storedZero = std::memchr(g_registry.bytes, 0, g_registry.size);
        const size_t expected =
            storedZero ? static_cast<size_t>(static_cast<const uint8_t*>(storedZero) - g_registry.bytes)
                       : g_registry.size;
        FUZZ_CHECK(length == expected);
        FUZZ_CHECK(std::memcmp(buffer, g_registry.bytes, length) == 0);
    }

    delete[] buffer;
    return 0;
}
