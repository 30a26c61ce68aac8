// Files, folders and paths as Windows resolves them: "/" and "\\" alike,
// "." and ".." applied to the text, names compared without regard to ASCII
// case, trailing dots and blanks of the last name dropped and one trailing dot
// of every other, MAX_PATH for the ANSI calls, folders that are links followed
// on the way but not as the last name; the sharing checks of an open, and a
// delete that waits for the last handle or running image.
#include "platform/memory/machine.h"

#include <cctype>
#include <cstring>

namespace memory_model {

std::string NodeText(const Node* node)
{
    if (node->parent == nullptr) {
        return node->name + "\\";
    }
    std::vector<const Node*> chain;
    for (const Node* n = node; n != nullptr; n = n->parent) {
        chain.push_back(n);
    }
    std::string text = chain.back()->name;
    for (size_t i = chain.size() - 1; i-- > 0;) {
        text += "\\" + chain[i]->name;
    }
    return text;
}

bool LeadByte(unsigned char byte)
{
    return M().codePage == 932 &&
           ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

namespace {

// 2 for a double-byte character at text[i] (its trail byte there), else 1.
size_t CharSize(const std::string& text, size_t i)
{
    return LeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

}  // namespace

bool InvalidNameByte(char c, bool wildcardsAllowed)
{
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32) {
        return true;
    }
    if (c == '*' || c == '?') {
        return !wildcardsAllowed;
    }
    return c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

// Resolves a path as Windows does, against the process's current directory:
// "/" is a separator too, repeated separators count once, "." and ".." are
// applied to the text (".." never climbs above the root), trailing dots and
// blanks of the last name are dropped, and one trailing dot of a name a
// separator follows ("Folder.\\a.txt" is "Folder\\a.txt", as
// RtlGetFullPathName_U makes it on Windows and Wine alike).
DWORD ResolvePath(const char* text, const Process* process, Path& out, PathUse use)
{
    bool wildcardsInLast = use == CALL_PATTERN;
    if (text == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // ANSI calls take at most MAX_PATH bytes with the zero.
    if (use != TEST_PATH && std::strlen(text) >= MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::string s(text);
    if (s.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    // Windows turns the path into Unicode first: the trail byte of a
    // double-byte character is never a separator, nor a byte a name may not
    // hold.
    for (size_t i = 0; i < s.size(); i += CharSize(s, i)) {
        if (s[i] == '/') {
            s[i] = '\\';
        }
    }
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        return kErrorBadNetPath;  // no network and no \\?\ paths here
    }
    out = Path();
    std::string rest;
    const Path& cwd = process->currentDirectory;
    if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]))) {
        out.drive = UpperChar(s[0]);
        rest = s.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // "D:name": relative to the current directory if it is on D:,
            // else to D:'s root.
            if (out.drive == cwd.drive) {
                out.parts = cwd.parts;
            }
        }
    } else if (s[0] == '\\') {
        out.drive = cwd.drive;
        rest = s;
    } else {
        out.drive = cwd.drive;
        out.parts = cwd.parts;
        rest = s;
    }
    std::vector<std::string> names;
    std::string current;
    bool endsWithSeparator = false;
    for (size_t i = 0; i < rest.size(); i += CharSize(rest, i)) {
        endsWithSeparator = rest[i] == '\\';
        if (!endsWithSeparator) {
            current += rest.substr(i, CharSize(rest, i));
        } else if (!current.empty()) {
            names.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) {
        names.push_back(current);
    }
    out.trailingSeparator = endsWithSeparator && !names.empty();
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = names[i];
        bool last = i + 1 == names.size();
        if (name == ".") {
            continue;
        }
        if (name == "..") {
            if (!out.parts.empty()) {
                out.parts.pop_back();
            }
            continue;
        }
        if (last && !out.trailingSeparator && use == CALL_PATH) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
                name.pop_back();
            }
            if (name.empty()) {
                continue;
            }
        } else if ((!last || out.trailingSeparator) && use != TEST_PATH && name.back() == '.') {
            name.pop_back();
        }
        for (size_t k = 0; k < name.size(); k += CharSize(name, k)) {
            if (InvalidNameByte(name[k], wildcardsInLast && last)) {
                return ERROR_INVALID_NAME;
            }
        }
        out.parts.push_back(name);
    }
    if (M().drives.find(out.drive) == M().drives.end()) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

Node* Child(Node* folder, const std::string& name)
{
    auto it = folder->children.find(Upper(name));
    return it == folder->children.end() ? nullptr : it->second.get();
}

NodePtr ChildPtr(Node* folder, const std::string& name)
{
    auto it = folder->children.find(Upper(name));
    return it == folder->children.end() ? NodePtr() : it->second;
}

// A link whose target has been removed leads nowhere, as on Windows; a hard
// link's file lives on under it.
Node* Through(Node* node)
{
    if (node == nullptr || !node->linkTarget || node->hardLink) {
        return node == nullptr ? nullptr : FileOf(node);
    }
    Node* target = node->linkTarget.get();
    const Node* root = target;
    while (root->parent != nullptr) {
        root = root->parent;
    }
    auto drive = M().drives.find(root->name.empty() ? '?' : root->name[0]);
    return drive != M().drives.end() && drive->second.get() == root ? target : nullptr;
}

Node* FileOf(Node* node)
{
    return node->hardLink ? node->linkTarget.get() : node;
}

const Node* FileOf(const Node* node)
{
    return node->hardLink ? node->linkTarget.get() : node;
}

// A hard link shows its file's: nothing tells it from a file of its own.
DWORD Attributes(const Node* node)
{
    node = FileOf(node);
    DWORD attributes = 0;
    if (node->dir) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    if (node->linkTarget) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    if (node->readOnly) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// The folder holding the path's last name (the root for a root path).
DWORD FindParent(const Path& path, Node*& parent)
{
    Node* node = M().drives[path.drive].get();
    for (size_t i = 0; i + 1 < path.parts.size(); ++i) {
        node = Through(Child(node, path.parts[i]));
        if (node == nullptr || !node->dir) {
            return ERROR_PATH_NOT_FOUND;
        }
    }
    parent = node;
    return ERROR_SUCCESS;
}

// The node the path names: ERROR_PATH_NOT_FOUND when a folder on the way is
// missing, ERROR_FILE_NOT_FOUND when only the last name is.
DWORD Lookup(const Path& path, NodePtr& found)
{
    if (path.parts.empty()) {
        found = M().drives[path.drive];
        return ERROR_SUCCESS;
    }
    Node* parent = nullptr;
    DWORD error = FindParent(path, parent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    found = ChildPtr(parent, path.parts.back());
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD LookupText(const char* text, const Process* process, NodePtr& found, Path* resolved,
                 PathUse use)
{
    Path path;
    DWORD error = ResolvePath(text, process, path, use);
    if (resolved != nullptr) {
        *resolved = path;
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = Lookup(path, found);
    if (error == ERROR_SUCCESS && path.trailingSeparator && !found->dir) {
        return ERROR_INVALID_NAME;  // "file.txt\" names no file
    }
    return error;
}

// Creates the folders of the path that are missing; returns the last.
Node* MakeFolders(const Path& path, DWORD changedBy, bool logChanges)
{
    NodePtr& root = M().drives[path.drive];
    if (!root) {
        root = std::make_shared<Node>();
        root->name = std::string(1, path.drive) + ":";
        root->dir = true;
    }
    Node* node = root.get();
    for (const std::string& name : path.parts) {
        Node* existing = Child(node, name);
        Node* next = Through(existing);
        if (existing == nullptr) {
            NodePtr made = std::make_shared<Node>();
            made->name = name;
            made->dir = true;
            made->parent = node;
            node->children[Upper(name)] = made;
            next = made.get();
            if (logChanges) {
                Change(changedBy, mem::FOLDER_CREATED, NodeText(next));
            }
        } else if (next == nullptr || !next->dir) {
            return nullptr;  // a file, or a link that leads nowhere
        }
        node = next;
    }
    return node;
}

DWORD AccessBits(DWORD access)
{
    DWORD bits = 0;
    if (access & (GENERIC_READ | kGenericAll | kGenericExecute | kFileReadData | kFileExecute)) {
        bits |= kR;
    }
    if (access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) {
        bits |= kW;
    }
    if (access & (kDeleteAccess | kGenericAll)) {
        bits |= kD;
    }
    return bits;
}

bool Conflict(DWORD accessA, DWORD shareA, DWORD accessB, DWORD shareB)
{
    return (accessA & ~shareB & 7) != 0 || (accessB & ~shareA & 7) != 0;
}

// Whether an open with this access and share mode is allowed by everything
// that has the file open: the program's own handles, another program that
// holds it (reads it and shares reading and writing) and the loader of a
// running image (reads it and shares reading and deletion).
bool SharingAllows(const Node* node, DWORD access, DWORD share)
{
    for (const KObject* open : node->opens) {
        if (Conflict(access, share, open->access, open->share)) {
            return false;
        }
    }
    if (node->inUseElsewhere && Conflict(access, share, kR, kR | kW)) {
        return false;
    }
    if (node->imageRefs > 0 && Conflict(access, share, kR, kR | kD)) {
        return false;
    }
    return true;
}

void RemoveNode(Node* node)
{
    Node* parent = node->parent;
    node->parent = nullptr;
    parent->children.erase(Upper(node->name));
}

// A delete-pending file goes when nothing holds it any more.
void FinishPendingDelete(Node* node, DWORD changedBy)
{
    if (node->deletePending && node->opens.empty() && node->imageRefs == 0 &&
        !node->inUseElsewhere && node->parent != nullptr) {
        Change(changedBy, mem::FILE_DELETED, NodeText(node));
        RemoveNode(node);
    }
}

// Looks up a path that must name a folder: ERROR_DIRECTORY for a file.
DWORD LookupFolder(const char* path, const Process* process, NodePtr& folder, Path& resolved)
{
    DWORD error = LookupText(path, process, folder, &resolved);
    if (error == ERROR_SUCCESS && !folder->dir) {
        error = ERROR_DIRECTORY;
    }
    return error;
}

}  // namespace memory_model
