#include "app/constants.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"
#include "removal/removal.h"

int ReadStringValue(const char* subKey, const char* valueName, char* buffer, HKEY rootKey)
{
    buffer[0] = '\0';
    HKEY key = 0;
    if (g_platform->RegOpenKeyExA(rootKey, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return 1;
    }
    DWORD type = REG_SZ;
    DWORD length = MAX_PATH - 1;
    LONG result = g_platform->RegQueryValueExA(key, valueName, 0, &type,
                                               reinterpret_cast<LPBYTE>(buffer), &length);
    // After a failed query the length is what the value would need, and the
    // buffer holds nothing defined: only a read value gets its end written.
    // Any type is taken as the bytes it holds.
    if (result == ERROR_SUCCESS && length <= MAX_PATH - 1) {
        buffer[length] = '\0';
    } else {
        buffer[0] = '\0';
    }
    g_platform->RegCloseKey(key);
    return 1;
}

void ReadInstallDirectory(char* installDir)
{
    ReadStringValue(SETTINGS_KEY, PROGRAM_PATH_VALUE, installDir, HKEY_CURRENT_USER);
    // A relative value would be taken from whatever the current directory
    // is: the install directory for the uninstall role, the temp folder for
    // the cleanup role. The folder it names there is not the product's.
    if (!IsFullPath(installDir)) {
        installDir[0] = '\0';
    }
}
