// The registry: keys below the four predefined roots, names without regard
// to case, typed raw values copied byte for byte (a string need not end with
// its zero), ERROR_MORE_DATA with the size needed, access checked against
// what the key was opened with, protected keys, keys deleted while open, and
// HKEY_CLASSES_ROOT as the view Windows gives: the user's classes over the
// machine's.
#include "platform/memory/machine.h"

#include <cstring>

namespace memory_model {

bool IsRoot(HKEY key, int& index)
{
    if (key == HKEY_CLASSES_ROOT) {
        index = 0;
    } else if (key == HKEY_CURRENT_USER) {
        index = 1;
    } else if (key == HKEY_LOCAL_MACHINE) {
        index = 2;
    } else if (key == HKEY_USERS) {
        index = 3;
    } else {
        return false;
    }
    return true;
}

std::string KeyText(const RegKey* key)
{
    std::string text = key->name;
    for (const RegKey* p = key->parent; p != nullptr; p = p->parent) {
        text = p->name + "\\" + text;
    }
    return text;
}

std::string RootText(HKEY key)
{
    int index = 0;
    if (IsRoot(key, index)) {
        return M().roots[index]->name;
    }
    return Hex(reinterpret_cast<uintptr_t>(key));
}

// The key a handle stands for (a predefined root or an open key of the
// process) and the access it was opened with.
LONG KeyOfHandle(const Process* process, HKEY handle, KeyPtr& key, REGSAM& access)
{
    int index = 0;
    if (IsRoot(handle, index)) {
        access = KEY_ALL_ACCESS;
        if (handle == HKEY_CLASSES_ROOT && FindClassesKey("", key) == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        key = M().roots[index];
        return ERROR_SUCCESS;
    }
    ObjectPtr object = HandleObject(process, handle);
    if (!object || object->kind != OBJ_KEY) {
        return ERROR_INVALID_HANDLE;
    }
    if (object->key->deleted) {
        return static_cast<LONG>(kErrorKeyDeleted);
    }
    key = object->key;
    access = object->keyAccess;
    return ERROR_SUCCESS;
}

// Follows a subkey path ("A\B\C", a trailing "\" allowed) below a key.
LONG FindSubKey(const KeyPtr& base, const char* subKey, KeyPtr& found)
{
    found = base;
    if (subKey == nullptr) {
        return ERROR_SUCCESS;
    }
    std::string path(subKey);
    if (!path.empty() && path[0] == '\\') {
        return static_cast<LONG>(kErrorBadPathname);
    }
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    if (path.empty()) {
        return ERROR_SUCCESS;
    }
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        auto it = found->subkeys.find(Upper(name));
        if (name.empty() || it == found->subkeys.end()) {
            found.reset();
            return ERROR_FILE_NOT_FOUND;
        }
        found = it->second;
        if (end == std::string::npos) {
            return ERROR_SUCCESS;
        }
        start = end + 1;
    }
}

namespace {

const char kUserClasses[] = "Software\\Classes";
const char kMachineClasses[] = "SOFTWARE\\Classes";

// The user's own class key HKCU\Software\Classes\subKey, if there is one.
bool FindUserClassesKey(const char* subKey, KeyPtr& found)
{
    KeyPtr classes;
    return FindSubKey(M().roots[1], kUserClasses, classes) == ERROR_SUCCESS &&
           FindSubKey(classes, subKey, found) == ERROR_SUCCESS;
}

}  // namespace

// HKEY_CLASSES_ROOT\subKey as Windows shows it, elevated or not: the user's
// key below HKCU\Software\Classes where there is one, else the machine's
// below HKLM\SOFTWARE\Classes. (Keys are laid over keys; values and
// subkeys are not merged below an open key.)
LONG FindClassesKey(const char* subKey, KeyPtr& found)
{
    if (FindUserClassesKey(subKey, found)) {
        return ERROR_SUCCESS;
    }
    KeyPtr classes;
    if (FindSubKey(M().roots[2], kMachineClasses, classes) != ERROR_SUCCESS) {
        found.reset();
        return ERROR_FILE_NOT_FOUND;
    }
    return FindSubKey(classes, subKey, found);
}

LONG FindKey(HKEY root, const char* subKey, KeyPtr& found)
{
    int index = 0;
    if (!IsRoot(root, index)) {
        return ERROR_INVALID_HANDLE;
    }
    if (root == HKEY_CLASSES_ROOT) {
        return FindClassesKey(subKey, found);
    }
    return FindSubKey(M().roots[index], subKey, found);
}

KeyPtr MakeKey(HKEY root, const std::string& subKey)
{
    int index = 0;
    if (!IsRoot(root, index)) {
        return KeyPtr();
    }
    // Written under HKEY_CLASSES_ROOT, a key goes where Windows puts it: into
    // the user's key of that name if there is one, else the machine's.
    if (root == HKEY_CLASSES_ROOT) {
        KeyPtr user;
        if (FindUserClassesKey(subKey.c_str(), user)) {
            return user;
        }
        return MakeKey(HKEY_LOCAL_MACHINE, std::string(kMachineClasses) + "\\" + subKey);
    }
    KeyPtr key = M().roots[index];
    size_t start = 0;
    while (start < subKey.size()) {
        size_t end = subKey.find('\\', start);
        std::string name = subKey.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!name.empty()) {
            KeyPtr& slot = key->subkeys[Upper(name)];
            if (!slot) {
                slot = std::make_shared<RegKey>();
                slot->name = name;
                slot->parent = key.get();
            }
            key = slot;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return key;
}

namespace {

// The key subKey names below a predefined root (HKEY_CLASSES_ROOT as its
// view) or below an open key of the process.
LONG FindBelowHandle(const Process* process, HKEY handle, const char* subKey, KeyPtr& key)
{
    int index = 0;
    if (IsRoot(handle, index)) {
        return FindKey(handle, subKey, key);
    }
    KeyPtr base;
    REGSAM access = 0;
    LONG error = KeyOfHandle(process, handle, base, access);
    return error != ERROR_SUCCESS ? error : FindSubKey(base, subKey, key);
}

// Access beyond reading, which a protected key refuses.
bool WantsMoreThanRead(REGSAM access)
{
    return (access & ~static_cast<REGSAM>(KEY_READ) & ~kKeyWow64Flags) != 0;
}

LONG OpenKey(Call& c, HKEY root, LPCSTR subKey, REGSAM access, PHKEY result, bool maximumAllowed)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyPtr key;
    LONG error = FindBelowHandle(c.me, root, subKey, key);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (maximumAllowed) {
        access = key->isProtected ? KEY_READ : KEY_ALL_ACCESS;
    } else if (key->isProtected && WantsMoreThanRead(access)) {
        return ERROR_ACCESS_DENIED;
    }
    ObjectPtr object = std::make_shared<KObject>();
    object->kind = OBJ_KEY;
    object->key = key;
    object->keyAccess = access;
    *result = reinterpret_cast<HKEY>(NewHandle(c.me, object));
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA_(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    Call c("RegOpenKeyExA", {RootText(root), Quote(subKey), Number(options), Hex(access)});
    LONG error = OpenKey(c, root, subKey, access & ~kMaximumAllowed, result, (access & kMaximumAllowed) != 0);
    c.Log(error == ERROR_SUCCESS ? "0 " + Hex(reinterpret_cast<uintptr_t>(*result)) : Number(error));
    return error;
}

// RegOpenKeyA asks for MAXIMUM_ALLOWED: all access where the user has it, and
// reading only on a protected key. No subkey returns the very handle given,
// as the real call does.
LONG RegOpenKeyA_(HKEY root, LPCSTR subKey, PHKEY result)
{
    Call c("RegOpenKeyA", {RootText(root), Quote(subKey)});
    LONG error;
    if (result != nullptr && (subKey == nullptr || subKey[0] == '\0')) {
        KeyPtr key;
        REGSAM access = 0;
        error = KeyOfHandle(c.me, root, key, access);
        if (error == ERROR_SUCCESS) {
            *result = root;
        }
    } else {
        error = OpenKey(c, root, subKey, 0, result, true);
    }
    c.Log(error == ERROR_SUCCESS ? "0 " + Hex(reinterpret_cast<uintptr_t>(*result)) : Number(error));
    return error;
}

// Exactly as Windows: the type and the stored size are given back even when
// the data does not fit, and then the offered buffer holds nothing useful
// (filled with 0xCD here, to catch a caller who reads it anyway).
LONG RegQueryValueExA_(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                       LPDWORD dataSize)
{
    Call c("RegQueryValueExA", {RootText(key), Quote(valueName),
                                (dataSize ? Number(*dataSize) : std::string("NULL"))});
    auto done = [&](LONG error) {
        c.Log(Number(error) + (dataSize ? " size " + Number(*dataSize) : std::string()));
        return error;
    };
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return done(ERROR_INVALID_PARAMETER);
    }
    KeyPtr k;
    REGSAM access = 0;
    LONG error = KeyOfHandle(c.me, key, k, access);
    if (error != ERROR_SUCCESS) {
        return done(error);
    }
    if ((access & KEY_QUERY_VALUE) == 0) {
        return done(ERROR_ACCESS_DENIED);
    }
    auto it = k->values.find(Upper(valueName == nullptr ? std::string() : std::string(valueName)));
    if (it == k->values.end()) {
        return done(ERROR_FILE_NOT_FOUND);
    }
    const RegValue& value = it->second;
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = size;
        }
        return done(ERROR_SUCCESS);
    }
    if (*dataSize < size) {
        std::memset(data, 0xCD, *dataSize);
        *dataSize = size;
        return done(ERROR_MORE_DATA);
    }
    std::memcpy(data, value.bytes.data(), size);
    *dataSize = size;
    return done(ERROR_SUCCESS);
}

LONG RegCloseKey_(HKEY key)
{
    Call c("RegCloseKey", {RootText(key)});
    int index = 0;
    if (IsRoot(key, index)) {
        c.Log("0");
        return ERROR_SUCCESS;  // closing a predefined key does nothing
    }
    ObjectPtr object = HandleObject(c.me, key);
    if (!object || object->kind != OBJ_KEY) {
        c.Log(Number(ERROR_INVALID_HANDLE));
        return ERROR_INVALID_HANDLE;
    }
    CloseHandleOf(c.me, reinterpret_cast<uintptr_t>(key));
    c.Log("0");
    return ERROR_SUCCESS;
}

// Deleting a key that is open elsewhere succeeds; those handles then see
// ERROR_KEY_DELETED.
LONG RegDeleteKeyA_(HKEY root, LPCSTR subKey)
{
    Call c("RegDeleteKeyA", {RootText(root), Quote(subKey)});
    auto done = [&](LONG error) {
        c.Log(Number(error));
        return error;
    };
    if (subKey == nullptr) {
        return done(ERROR_INVALID_PARAMETER);
    }
    KeyPtr key;
    LONG error = FindBelowHandle(c.me, root, subKey, key);
    if (error != ERROR_SUCCESS) {
        return done(error);
    }
    if (key->parent == nullptr || key->isProtected || !key->subkeys.empty()) {
        return done(ERROR_ACCESS_DENIED);
    }
    Change(c.me->id, mem::KEY_DELETED, KeyText(key.get()));
    key->parent->subkeys.erase(Upper(key->name));
    key->parent = nullptr;
    key->deleted = true;
    return done(ERROR_SUCCESS);
}

}  // namespace memory_model
