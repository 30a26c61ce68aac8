// Seeding the machine and reading it back: the mem:: calls a test makes to
// lay files, folders, keys, values, special folders and programs, to drive
// processes from the shell, and to read the state and the records of what
// the program did. They are not modelled calls and never fail.
#include "platform/memory/machine.h"

#include <cctype>

namespace memory_model {

namespace {

const Path& ShellPath(const std::string& text, Path& out, bool mustBeFolder, NodePtr* node = nullptr)
{
    NodePtr found;
    DWORD error = LookupText(text.c_str(), Shell(), found, &out, TEST_PATH);
    if (error != ERROR_SUCCESS || found->dir != mustBeFolder) {
        ReportLocked("\"" + text + "\" is no existing " + (mustBeFolder ? "folder" : "file"));
    }
    if (node != nullptr) {
        *node = error == ERROR_SUCCESS ? found : NodePtr();
    }
    return out;
}

}  // namespace

}  // namespace memory_model

namespace mem {

using namespace memory_model;

void AddFolder(const std::string& path)
{
    Lock lock(Mutex());
    Path resolved;
    DWORD error = ResolvePath(path.c_str(), Shell(), resolved, TEST_PATH);
    if ((error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) ||
        MakeFolders(resolved, 0, false) == nullptr) {
        ReportLocked("cannot seed folder \"" + path + "\"");
    }
}

void AddFile(const std::string& path, const std::string& content)
{
    Lock lock(Mutex());
    Path resolved;
    DWORD error = ResolvePath(path.c_str(), Shell(), resolved, TEST_PATH);
    if ((error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) || resolved.parts.empty()) {
        ReportLocked("cannot seed file \"" + path + "\"");
        return;
    }
    Path folderPath = resolved;
    folderPath.parts.pop_back();
    Node* folder = MakeFolders(folderPath, 0, false);
    if (folder == nullptr) {
        ReportLocked("cannot seed file \"" + path + "\": a file stands in the way");
        return;
    }
    Node* existing = Child(folder, resolved.parts.back());
    if (existing != nullptr) {
        if (existing->dir) {
            ReportLocked("cannot seed file \"" + path + "\": it is a folder");
            return;
        }
        existing->content = content;
        return;
    }
    NodePtr made = std::make_shared<Node>();
    made->name = resolved.parts.back();
    made->content = content;
    made->parent = folder;
    folder->children[Upper(made->name)] = made;
}

namespace {
NodePtr SeededNode(const std::string& path)
{
    NodePtr node;
    if (LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) != ERROR_SUCCESS) {
        ReportLocked("\"" + path + "\" does not exist");
        return NodePtr();
    }
    return node;
}
}  // namespace

void SetReadOnly(const std::string& path, bool readOnly)
{
    Lock lock(Mutex());
    NodePtr node = SeededNode(path);
    if (node) {
        node->readOnly = readOnly;
    }
}

void SetInUse(const std::string& path, bool inUse)
{
    Lock lock(Mutex());
    NodePtr node = SeededNode(path);
    if (node) {
        node->inUseElsewhere = inUse;
        // The other program letting go of a delete-pending file ends it;
        // seeding logs no change.
        if (node->deletePending && node->opens.empty() && node->imageRefs == 0 && !inUse &&
            node->parent != nullptr) {
            RemoveNode(node.get());
        }
    }
}

void AddKey(HKEY root, const std::string& subKey)
{
    Lock lock(Mutex());
    if (!MakeKey(root, subKey)) {
        ReportLocked("cannot seed key under a root that is not predefined");
    }
}

void SetValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
              const std::string& bytes)
{
    Lock lock(Mutex());
    KeyPtr key = MakeKey(root, subKey);
    if (!key) {
        ReportLocked("cannot seed value under a root that is not predefined");
        return;
    }
    RegValue& value = key->values[Upper(name)];
    value.name = name;
    value.type = type;
    value.bytes = bytes;
}

void SetStringValue(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& text)
{
    SetValue(root, subKey, name, REG_SZ, text + std::string(1, '\0'));
}

void ProtectKey(HKEY root, const std::string& subKey)
{
    Lock lock(Mutex());
    KeyPtr key = MakeKey(root, subKey);
    if (key) {
        key->isProtected = true;
    }
}

namespace {

// "X:\" and more: Windows gives the temp path and the special folders as full
// paths on a drive, never relative ones.
bool FullPathOnDrive(const std::string& path)
{
    return path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && path[2] == '\\';
}

}  // namespace

void SetSpecialFolder(int csidl, const std::string& path)
{
    Lock lock(Mutex());
    if (!FullPathOnDrive(path) || path.back() == '\\') {
        ReportLocked("cannot seed special folder \"" + path +
                     "\": Windows gives a full path without a trailing separator");
        return;
    }
    M().specialFolders[csidl & 0xFF] = path;
}

void SetBrokenSpecialFolder(int csidl, const std::string& path)
{
    Lock lock(Mutex());
    M().specialFolders[csidl & 0xFF] = path;
}

void FailSpecialFolder(int csidl)
{
    Lock lock(Mutex());
    M().failedSpecialFolders[csidl & 0xFF] = true;
}

void SetTempPath(const std::string& path)
{
    Lock lock(Mutex());
    if (!path.empty() && (!FullPathOnDrive(path) || path.back() != '\\')) {
        ReportLocked("cannot seed temp path \"" + path +
                     "\": Windows gives a full path with its trailing separator");
        return;
    }
    M().tempPath = path;
}

void SetAnsiCodePage(unsigned codePage)
{
    Lock lock(Mutex());
    if (codePage != 1252 && codePage != 932) {
        ReportLocked("cannot seed code page " + Number(codePage) +
                     ": the model knows 1252 and 932");
        return;
    }
    M().codePage = codePage;
}

void SetSystemFolder(const std::string& path)
{
    Lock lock(Mutex());
    Path resolved;
    if (ResolvePath(path.c_str(), Shell(), resolved, TEST_PATH) != ERROR_SUCCESS ||
        resolved.parts.empty() || MakeFolders(resolved, 0, false) == nullptr) {
        ReportLocked("cannot seed the system folder \"" + path + "\"");
        return;
    }
    M().systemFolder = path;
}

namespace {

void AddLink(const std::string& link, const std::string& target, bool folder, bool hard)
{
    Lock lock(Mutex());
    Path targetPath;
    NodePtr targetNode;
    ShellPath(target, targetPath, folder, &targetNode);
    Path linkPath;
    DWORD error = ResolvePath(link.c_str(), Shell(), linkPath, TEST_PATH);
    if ((error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) || linkPath.parts.empty() ||
        !targetNode) {
        ReportLocked("cannot seed link \"" + link + "\"");
        return;
    }
    Path folderPath = linkPath;
    folderPath.parts.pop_back();
    Node* parent = MakeFolders(folderPath, 0, false);
    if (parent == nullptr || Child(parent, linkPath.parts.back()) != nullptr) {
        ReportLocked("cannot seed link \"" + link + "\": something stands in its place");
        return;
    }
    NodePtr made = std::make_shared<Node>();
    made->name = linkPath.parts.back();
    made->dir = folder;
    made->linkTarget = targetNode;
    made->hardLink = hard;
    made->parent = parent;
    parent->children[Upper(made->name)] = made;
}

}  // namespace

void AddFolderLink(const std::string& link, const std::string& target)
{
    AddLink(link, target, true, false);
}

void AddFileLink(const std::string& link, const std::string& target)
{
    AddLink(link, target, false, false);
}

void AddHardLink(const std::string& link, const std::string& target)
{
    AddLink(link, target, false, true);
}

void LockImagesAfterEnd(DWORD milliseconds)
{
    Lock lock(Mutex());
    M().imageLockAfterEnd = milliseconds;
}

void RegisterProgram(const std::string& imageContent, ProgramMain main)
{
    Lock lock(Mutex());
    M().programs.push_back(std::make_pair(imageContent, std::move(main)));
}

void SetShellProcess(const std::string& imagePath, const std::string& commandLine,
                     const std::string& currentDirectory)
{
    Lock lock(Mutex());
    Process* shell = Shell();
    ReleaseImage(shell);
    Path image;
    NodePtr node;
    if (ResolvePath(imagePath.c_str(), shell, image, TEST_PATH) == ERROR_SUCCESS &&
        Lookup(image, node) == ERROR_SUCCESS && node->dir) {
        node.reset();
    }
    Path directory;
    ShellPath(currentDirectory, directory, true);
    shell->imagePath = PathText(image);
    if (node) {
        shell->image = node;
        ++node->imageRefs;
    }
    shell->commandLine = commandLine;
    shell->commandBuffer = commandLine;
    shell->currentDirectory = directory;
}

DWORD StartProcess(const std::string& imagePath, const std::string& commandLine,
                   const std::string& currentDirectory)
{
    Lock lock(Mutex());
    Path image;
    NodePtr node;
    ShellPath(imagePath, image, false, &node);
    Path directory;
    ShellPath(currentDirectory, directory, true);
    if (!node) {
        return 0;
    }
    DWORD error = CheckImage(node.get());
    if (error != ERROR_SUCCESS) {
        ReportLocked("\"" + imagePath + "\" cannot be started (error " + Number(error) + ")");
        return 0;
    }
    return NewProcess(Shell(), image, node, commandLine, directory, false)->id;
}

void EndShellProcess()
{
    Lock lock(Mutex());
    Process* shell = Shell();
    CloseAllHandles(shell);
    ReleaseImage(shell);
    shell->currentDirectory = Path();
}

void SetLastError(DWORD error)
{
    Lock lock(Mutex());
    Self()->lastError = error;
}

DWORD LastError()
{
    Lock lock(Mutex());
    return Self()->lastError;
}

bool FileExists(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    return LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) == ERROR_SUCCESS && !node->dir;
}

bool FolderExists(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    return LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) == ERROR_SUCCESS && node->dir;
}

bool DeletePending(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    return LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) == ERROR_SUCCESS && node->deletePending;
}

std::string FileContent(const std::string& path)
{
    Lock lock(Mutex());
    NodePtr node;
    if (LookupText(path.c_str(), Shell(), node, nullptr, TEST_PATH) != ERROR_SUCCESS || node->dir) {
        return std::string();
    }
    return FileOf(node.get())->content;
}

bool KeyExists(HKEY root, const std::string& subKey)
{
    Lock lock(Mutex());
    KeyPtr key;
    return FindKey(root, subKey.c_str(), key) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::string& subKey, const std::string& name)
{
    Lock lock(Mutex());
    KeyPtr key;
    return FindKey(root, subKey.c_str(), key) == ERROR_SUCCESS &&
           key->values.count(Upper(name)) != 0;
}

std::vector<ProcessRecord> Processes()
{
    Lock lock(Mutex());
    std::vector<ProcessRecord> records;
    for (auto& p : M().processes) {
        records.push_back(ProcessRecord{p->id, p->parentId, p->imagePath, p->commandLine,
                                        PathText(p->currentDirectory), p->startedByWinExec,
                                        p->state == ENDED, p->exitCode, p->restrictedDllSearchFirst});
    }
    return records;
}

unsigned OpenHandleCount()
{
    Lock lock(Mutex());
    unsigned count = 0;
    for (auto& p : M().processes) {
        count += static_cast<unsigned>(p->handles.size());
    }
    return count;
}

unsigned OpenHandleCount(DWORD processId)
{
    Lock lock(Mutex());
    if (processId == 0 || processId > M().processes.size()) {
        return 0;
    }
    return static_cast<unsigned>(M().processes[processId - 1]->handles.size());
}

bool NamedObjectExists(const std::string& name)
{
    Lock lock(Mutex());
    return M().named.count(name) != 0;
}

std::vector<CallRecord> CallLog()
{
    Lock lock(Mutex());
    return M().callLog;
}

std::vector<WinExecRecord> WinExecCommands()
{
    Lock lock(Mutex());
    return M().winExecCommands;
}

std::vector<ChangeRecord> Changes()
{
    Lock lock(Mutex());
    return M().changes;
}

}  // namespace mem
