// The file calls: listing a folder with FindFirstFileA (".", ".." and the
// long-name pattern rules), deleting, copying and opening files, removing
// folders (a link goes itself, never its target), reading and setting
// attributes, the current directory, the special folders, the temp path and
// the system folder as the shell, GetTempPathA and GetSystemDirectoryA give
// them, and lstrcatA.
#include "platform/memory/machine.h"

#include <cstring>

namespace memory_model {

// --- Find ----------------------------------------------------------------------------

namespace {

bool WildMatch(const char* pattern, const char* name)
{
    if (*pattern == '\0') {
        return *name == '\0';
    }
    if (*pattern == '*') {
        for (const char* n = name;; ++n) {
            if (WildMatch(pattern + 1, n)) {
                return true;
            }
            if (*n == '\0') {
                return false;
            }
        }
    }
    if (*name == '\0') {
        return false;
    }
    if (*pattern == '?' || UpperChar(*pattern) == UpperChar(*name)) {
        return WildMatch(pattern + 1, name + 1);
    }
    return false;
}

// Matches a name against the last part of a search pattern as the file
// system does for long names: "*.*" is every name, dot or not, and a final
// ".*" or "." also matches a name without an extension.
bool PatternMatches(const std::string& pattern, const std::string& name)
{
    if (pattern == "*.*" || pattern == "*") {
        return true;
    }
    if (WildMatch(pattern.c_str(), name.c_str())) {
        return true;
    }
    bool noExtension = name.find('.') == std::string::npos;
    if (noExtension && pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
        return WildMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    }
    if (noExtension && !pattern.empty() && pattern.back() == '.') {
        return WildMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
    }
    return false;
}

// A name as the ANSI search gives it. A name made with the wide calls may
// hold the fullwidth forms U+FF01 to U+FF5E, seeded as their UTF-8 bytes
// (EF BC 81 to EF BD 9E); code page 1252 has none of them, and Windows
// converts each to the ASCII character it best fits: U+FF0E to ".", U+FF3C
// to "\", U+FF1A to ":".
std::string BestFit(const std::string& name)
{
    std::string ansi;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        const unsigned char middle = i + 2 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        const unsigned char last = i + 2 < name.size() ? static_cast<unsigned char>(name[i + 2]) : 0;
        const unsigned code = ((middle & 0x3Fu) << 6) | (last & 0x3Fu);  // below U+FF00
        if (lead == 0xEF && (middle == 0xBC || middle == 0xBD) && (last & 0xC0) == 0x80 &&
            code >= 0xF01 && code <= 0xF5E) {
            ansi += static_cast<char>(code - 0xF01 + 0x21);
            i += 2;
        } else {
            ansi += name[i];
        }
    }
    return ansi;
}

WIN32_FIND_DATAA FindData(const std::string& name, const Node* node)
{
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = Attributes(node);
    data.nFileSizeLow = node->dir ? 0 : static_cast<DWORD>(node->content.size());
    std::strncpy(data.cFileName, BestFit(name).c_str(), sizeof data.cFileName - 1);
    return data;
}

}  // namespace

// --- The file calls ------------------------------------------------------------------

HANDLE FindFirstFileA_(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    Call c("FindFirstFileA", {Quote(pattern)});
    auto fail = [&](DWORD error) {
        c.Error(error);
        c.Log("INVALID_HANDLE_VALUE (error " + Number(error) + ")");
        return INVALID_HANDLE_VALUE;
    };
    Path path;
    DWORD error = ResolvePath(pattern, c.me, path, CALL_PATTERN);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    if (path.parts.empty() || path.trailingSeparator) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    Node* folder = nullptr;
    error = FindParent(path, folder);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    const std::string& last = path.parts.back();
    ObjectPtr search = std::make_shared<KObject>();
    search->kind = OBJ_FIND;
    if (folder->parent != nullptr) {
        if (PatternMatches(last, ".")) {
            search->found.push_back(FindData(".", folder));
        }
        if (PatternMatches(last, "..")) {
            search->found.push_back(FindData("..", folder->parent));
        }
    }
    for (auto& child : folder->children) {
        if (PatternMatches(last, child.second->name)) {
            search->found.push_back(FindData(child.second->name, child.second.get()));
        }
    }
    if (search->found.empty()) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    *found = search->found[0];
    search->next = 1;
    HANDLE handle = NewHandle(c.me, search);
    c.Log(Hex(reinterpret_cast<uintptr_t>(handle)) + " " + Quote(found->cFileName));
    return handle;
}

BOOL FindNextFileA_(HANDLE search, LPWIN32_FIND_DATAA found)
{
    Call c("FindNextFileA", {Hex(reinterpret_cast<uintptr_t>(search))});
    ObjectPtr object = OwnHandleOfKind(c, search, OBJ_FIND);
    if (!object) {
        return FALSE;
    }
    if (object->next >= object->found.size()) {
        c.Error(ERROR_NO_MORE_FILES);
        c.Log(BoolResult(FALSE, c.me));
        return FALSE;
    }
    *found = object->found[object->next++];
    c.Log(std::string("TRUE ") + Quote(found->cFileName));
    return TRUE;
}

BOOL FindClose_(HANDLE search)
{
    Call c("FindClose", {Hex(reinterpret_cast<uintptr_t>(search))});
    ObjectPtr object = OwnHandleOfKind(c, search, OBJ_FIND);
    if (!object) {
        return FALSE;
    }
    CloseHandleOf(c.me, reinterpret_cast<uintptr_t>(search));
    c.Log("TRUE");
    return TRUE;
}

// Windows opens the file for deletion (sharing everything) and then marks it
// deleted; with other handles open (all sharing deletion) it stays,
// delete-pending, until they are closed.
BOOL DeleteFileA_(LPCSTR path)
{
    Call c("DeleteFileA", {Quote(path)});
    NodePtr node;
    DWORD error = LookupText(path, c.me, node);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    // A hard link's name goes alone, but is refused as its file would be.
    const Node* file = FileOf(node.get());
    if (node->dir || node->deletePending || file->deletePending) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!SharingAllows(file, kD, kR | kW | kD)) {
        return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
    }
    if (file->readOnly || file->imageRefs > 0 || M().clock < file->lockedUntil) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    node->deletePending = true;
    FinishPendingDelete(node.get(), c.me->id);
    return c.Finish(TRUE, 0);
}

// A link's own attributes, not its target's: the reparse point shows.
DWORD GetFileAttributesA_(LPCSTR path)
{
    Call c("GetFileAttributesA", {Quote(path)});
    auto fail = [&](DWORD error) {
        c.Error(error);
        c.Log("INVALID_FILE_ATTRIBUTES (error " + Number(error) + ")");
        return INVALID_FILE_ATTRIBUTES;
    };
    NodePtr node;
    DWORD error = LookupText(path, c.me, node);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    if (node->deletePending) {
        return fail(ERROR_ACCESS_DENIED);
    }
    c.Log(Hex(Attributes(node.get())));
    return Attributes(node.get());
}

// Only the read-only bit is modelled; the folder and reparse-point bits
// cannot be set, as on Windows. Writing attributes needs no sharing, so a
// file another program holds open can be changed.
BOOL SetFileAttributesA_(LPCSTR path, DWORD attributes)
{
    Call c("SetFileAttributesA", {Quote(path), Hex(attributes)});
    NodePtr node;
    DWORD error = LookupText(path, c.me, node);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (node->deletePending) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    Node* file = FileOf(node.get());
    if (file->readOnly != readOnly) {
        file->readOnly = readOnly;
        Change(c.me->id, mem::ATTRIBUTES_SET, NodeText(file));
    }
    return c.Finish(TRUE, 0);
}

BOOL SetCurrentDirectoryA_(LPCSTR path)
{
    Call c("SetCurrentDirectoryA", {Quote(path)});
    NodePtr folder;
    Path directory;
    DWORD error = LookupFolder(path, c.me, folder, directory);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    // Windows keeps the current directory with a trailing separator, and the
    // whole within MAX_PATH: a folder's full path of 259 bytes is too long.
    std::string text = PathText(directory);
    size_t withSeparator = text.size() + (text.back() == '\\' ? 0 : 1);
    if (withSeparator >= MAX_PATH) {
        return c.Finish(FALSE, ERROR_FILENAME_EXCED_RANGE);
    }
    c.me->currentDirectory = directory;
    return c.Finish(TRUE, ERROR_SUCCESS);
}

// A folder that is a link is removed itself, whatever its target holds;
// the target is never touched.
BOOL RemoveDirectoryA_(LPCSTR path)
{
    Call c("RemoveDirectoryA", {Quote(path)});
    Path resolved;
    NodePtr node;
    DWORD error = LookupFolder(path, c.me, node, resolved);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (node->parent == nullptr || node->readOnly) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!node->children.empty()) {
        return c.Finish(FALSE, ERROR_DIR_NOT_EMPTY);
    }
    // A process holds its current directory open without sharing deletion.
    std::string key = Upper(PathText(resolved));
    for (auto& p : M().processes) {
        if (p->state != ENDED && Upper(PathText(p->currentDirectory)) == key) {
            return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
        }
    }
    Change(c.me->id, mem::FOLDER_REMOVED, NodeText(node.get()));
    RemoveNode(node.get());
    return c.Finish(TRUE, 0);
}

// As Windows documents it: the source's attributes come with its bytes, and
// a read-only target is not overwritten (ERROR_ACCESS_DENIED).
BOOL CopyFileA_(LPCSTR existing, LPCSTR target, BOOL failIfExists)
{
    Call c("CopyFileA", {Quote(existing), Quote(target), Number(failIfExists)});
    NodePtr source;
    DWORD error = LookupText(existing, c.me, source);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (source->dir || source->deletePending) {
        return c.Finish(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!SharingAllows(source.get(), kR, kR | kD)) {
        return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
    }
    Path targetPath;
    error = ResolvePath(target, c.me, targetPath);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    if (targetPath.parts.empty() || targetPath.trailingSeparator) {
        return c.Finish(FALSE, targetPath.parts.empty() ? ERROR_ACCESS_DENIED : ERROR_INVALID_NAME);
    }
    Node* folder = nullptr;
    error = FindParent(targetPath, folder);
    if (error != ERROR_SUCCESS) {
        return c.Finish(FALSE, error);
    }
    NodePtr existingTarget = ChildPtr(folder, targetPath.parts.back());
    if (existingTarget) {
        if (existingTarget.get() == source.get()) {
            return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
        }
        if (existingTarget->dir) {
            return c.Finish(FALSE, ERROR_ACCESS_DENIED);
        }
        if (failIfExists) {
            return c.Finish(FALSE, ERROR_FILE_EXISTS);
        }
        // A link to a file (symbolic or hard) is written through, as
        // CreateFile follows it: the file it leads to takes the bytes.
        if (existingTarget->linkTarget) {
            if (Through(existingTarget.get()) == nullptr) {
                return c.Finish(FALSE, ERROR_FILE_NOT_FOUND);
            }
            existingTarget = existingTarget->linkTarget;
        }
        if (existingTarget->deletePending || existingTarget->readOnly) {
            return c.Finish(FALSE, ERROR_ACCESS_DENIED);
        }
        // The target is opened for writing, sharing reading and writing (and
        // for deletion too where that is shared, which changes nothing
        // here): a program that holds it and shares writing does not keep
        // it from being overwritten, only from being deleted.
        if (!SharingAllows(existingTarget.get(), kW, kR | kW)) {
            return c.Finish(FALSE, ERROR_SHARING_VIOLATION);
        }
        existingTarget->content = source->content;
        existingTarget->readOnly = source->readOnly;
        Change(c.me->id, mem::FILE_WRITTEN, NodeText(existingTarget.get()));
        return c.Finish(TRUE, 0);
    }
    NodePtr made = std::make_shared<Node>();
    made->name = targetPath.parts.back();
    made->content = source->content;
    made->readOnly = source->readOnly;
    made->parent = folder;
    folder->children[Upper(made->name)] = made;
    Change(c.me->id, mem::FILE_WRITTEN, NodeText(made.get()));
    return c.Finish(TRUE, 0);
}

// Only OPEN_EXISTING is modelled, with Windows' access and sharing checks:
// the program opens nothing else. Any other disposition fails with
// ERROR_CALL_NOT_IMPLEMENTED and fails the test, since the model cannot say
// what Windows would do. Folders cannot be opened (no backup semantics).
HANDLE CreateFileA_(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                    DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile)
{
    (void)security;
    (void)templateFile;
    Call c("CreateFileA", {Quote(path), Hex(access), Hex(shareMode), Number(disposition),
                           Hex(flagsAndAttributes)});
    auto fail = [&](DWORD error) {
        c.Error(error);
        c.Log("INVALID_HANDLE_VALUE (error " + Number(error) + ")");
        return INVALID_HANDLE_VALUE;
    };
    if (disposition != OPEN_EXISTING) {
        ReportLocked("CreateFileA disposition " + Number(disposition) + " is not modelled");
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    NodePtr node;
    DWORD error = LookupText(path, c.me, node);
    if (error != ERROR_SUCCESS) {
        return fail(error);
    }
    if (node->hardLink) {
        node = node->linkTarget;
    }
    bool deleteOnClose = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    DWORD bits = AccessBits(access) | (deleteOnClose ? kD : 0);
    DWORD share = shareMode & 7;
    if (node->dir || node->deletePending) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (node->readOnly && (bits & (kW | kD))) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (!SharingAllows(node.get(), bits, share)) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    // A mapped image cannot be marked for deletion.
    if (deleteOnClose && node->imageRefs > 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    ObjectPtr object = std::make_shared<KObject>();
    object->kind = OBJ_FILE;
    object->file = node;
    object->access = bits;
    object->share = share;
    object->deleteOnClose = deleteOnClose;
    node->opens.push_back(object.get());
    HANDLE handle = NewHandle(c.me, object);
    c.Log(Hex(reinterpret_cast<uintptr_t>(handle)));
    return handle;
}

// The folder must exist unless creation is asked for (CSIDL_FLAG_CREATE or
// the create argument), as SHGetFolderPath verifies it. The owner window is
// not looked at.
BOOL SHGetSpecialFolderPathA_(HWND owner, LPSTR path, int csidl, BOOL create)
{
    (void)owner;
    Call c("SHGetSpecialFolderPathA", {Hex(static_cast<uintptr_t>(csidl)), Number(create)});
    auto done = [&](BOOL ok, DWORD error) {
        if (!ok) {
            c.Error(error);
        }
        c.Log(ok ? "TRUE " + Quote(path) : BoolResult(FALSE, c.me));
        return ok;
    };
    bool createIt = create || (csidl & kCsidlFlagCreate) != 0;
    int which = csidl & 0xFF;
    auto it = M().specialFolders.find(which);
    if (it == M().specialFolders.end() || M().failedSpecialFolders.count(which) ||
        it->second.size() >= MAX_PATH) {
        return done(FALSE, ERROR_FILE_NOT_FOUND);
    }
    Path resolved;
    NodePtr node;
    DWORD error = LookupText(it->second.c_str(), c.me, node, &resolved);
    if (error != ERROR_SUCCESS || !node->dir) {
        if (!createIt || (node && !node->dir) || MakeFolders(resolved, c.me->id, true) == nullptr) {
            return done(FALSE, ERROR_FILE_NOT_FOUND);
        }
    }
    std::memcpy(path, it->second.c_str(), it->second.size() + 1);
    return done(TRUE, 0);
}

namespace {

// How GetTempPathA, GetSystemDirectoryA and GetFullPathNameA hand a path out: the length
// without the zero when it fits; else the size needed with the zero, the
// buffer untouched.
DWORD GiveFolder(Call& c, const std::string& folder, LPSTR buffer, DWORD size)
{
    if (folder.size() < size) {
        std::memcpy(buffer, folder.c_str(), folder.size() + 1);
        c.Log(Number(static_cast<long long>(folder.size())) + " " + Quote(folder.c_str()));
        return static_cast<DWORD>(folder.size());
    }
    c.Log(Number(static_cast<long long>(folder.size() + 1)) + " (too small)");
    return static_cast<DWORD>(folder.size() + 1);
}

}  // namespace

// Spelt out as ResolvePath resolves every path of the file calls. The model
// fails where its paths end (a byte no name may hold, a network path, a
// drive it does not have), where Windows would still spell the path out:
// nothing the model can name differs.
DWORD GetFullPathNameA_(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart)
{
    Call c("GetFullPathNameA", {Quote(path), Number(size)});
    Path resolved;
    const DWORD error = ResolvePath(path, c.me, resolved);
    if (error != ERROR_SUCCESS) {
        c.Error(error);
        c.Log("0 (error " + Number(error) + ")");
        return 0;
    }
    std::string text = PathText(resolved);
    if (resolved.trailingSeparator) {
        text += "\\";
    }
    const DWORD length = GiveFolder(c, text, buffer, size);
    if (filePart != nullptr && length < size) {
        const bool noName = resolved.parts.empty() || resolved.trailingSeparator;
        *filePart = noName ? nullptr : buffer + text.size() - resolved.parts.back().size();
    }
    return length;
}

// 0 on failure.
DWORD GetTempPathA_(DWORD size, LPSTR buffer)
{
    Call c("GetTempPathA", {Number(size)});
    const std::string& temp = M().tempPath;
    if (temp.empty()) {
        c.Error(kErrorEnvVarNotFound);
        c.Log("0");
        return 0;
    }
    return GiveFolder(c, temp, buffer, size);
}

// As GetTempPathA, without the trailing separator. It cannot fail on
// Windows.
UINT GetSystemDirectoryA_(LPSTR buffer, UINT size)
{
    Call c("GetSystemDirectoryA", {Number(size)});
    return GiveFolder(c, M().systemFolder, buffer, size);
}

LPSTR lstrcatA_(LPSTR target, LPCSTR source)
{
    Call c("lstrcatA", {Quote(target), Quote(source)});
    if (target == nullptr) {
        c.Log("NULL");
        return nullptr;
    }
    if (source != nullptr) {
        std::strcat(target, source);
    }
    c.Log(Quote(target));
    return target;
}

}  // namespace memory_model
