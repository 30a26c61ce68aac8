// Processes and modules: finding the program a command line names (quoted
// or not, blanks tried in turn, ".exe" added, the search of a bare name),
// the image held as running while its process lives, CreateProcessA and
// WinExec, the command line and module of the running process, and the DLL
// search restriction of start-up.
#include "platform/memory/machine.h"

#include <cstring>

namespace memory_model {

void ReleaseImage(Process* process)
{
    if (process->image) {
        NodePtr image = process->image;
        process->image.reset();
        --image->imageRefs;
        // Windows may hold the file a moment longer: the process's
        // teardown, a scanner looking at a program that ran.
        image->lockedUntil = M().clock + M().imageLockAfterEnd;
        FinishPendingDelete(image.get(), process->id);
    }
}

void EndProcess(Process* process, DWORD exitCode)
{
    CloseAllHandles(process);
    ReleaseImage(process);
    process->exitCode = exitCode;
    process->state = ENDED;
}

namespace {

std::string ParentFolderText(const std::string& imagePath)
{
    size_t cut = imagePath.find_last_of('\\');
    return cut == std::string::npos ? std::string() : imagePath.substr(0, cut);
}

// One candidate name for the program: a name without a folder is looked for
// as CreateProcess documents it: the caller's image folder, its current
// directory, the system folder, the Windows folder (taken as the system
// folder's parent); the 16-bit system folder and PATH are not modelled. The
// first file found is started. ".exe" is added when the last name has no
// extension.
DWORD TryProgram(const std::string& candidate, const Process* caller, Path& image, NodePtr& node)
{
    std::string name = candidate;
    size_t lastSeparator = name.find_last_of("\\/");
    std::string lastName = lastSeparator == std::string::npos ? name : name.substr(lastSeparator + 1);
    if (lastName.find('.') == std::string::npos) {
        name += ".exe";
    }
    std::vector<std::string> tries;
    bool bare = name.find_first_of("\\/:") == std::string::npos;
    if (bare) {
        std::string imageFolder = ParentFolderText(caller->imagePath);
        if (!imageFolder.empty()) {
            tries.push_back(imageFolder + "\\" + name);
        }
        tries.push_back(PathText(caller->currentDirectory) + "\\" + name);
        tries.push_back(M().systemFolder + "\\" + name);
        tries.push_back(ParentFolderText(M().systemFolder) + "\\" + name);
    } else {
        tries.push_back(name);
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const std::string& text : tries) {
        Path path;
        NodePtr found;
        DWORD e = ResolvePath(text.c_str(), caller, path);
        if (e == ERROR_SUCCESS) {
            e = Lookup(path, found);
        }
        if (e == ERROR_SUCCESS && !found->dir) {
            image = path;
            node = found;
            return ERROR_SUCCESS;
        }
        if (e == ERROR_PATH_NOT_FOUND && !bare) {
            error = ERROR_PATH_NOT_FOUND;
        }
    }
    return error;
}

// Finds the program a command line starts, as CreateProcessA does without an
// application name: a quoted first token is the path; an unquoted one with
// blanks is tried up to each blank in turn ("C:\Program" before
// "C:\Program Files\..."), then whole; the first existing file wins.
DWORD ResolveProgram(const char* applicationName, const char* commandLine, const Process* caller,
                     Path& image, NodePtr& node)
{
    if (applicationName != nullptr) {
        Path path;
        DWORD error = ResolvePath(applicationName, caller, path);
        if (error == ERROR_SUCCESS) {
            error = Lookup(path, node);
        }
        if (error == ERROR_SUCCESS && node->dir) {
            error = ERROR_ACCESS_DENIED;
        }
        image = path;
        return error;
    }
    if (commandLine == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string line(commandLine);
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;
    }
    line = line.substr(start);
    std::vector<std::string> candidates;
    if (line[0] == '"') {
        size_t close = line.find('"', 1);
        candidates.push_back(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else {
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == ' ' || line[i] == '\t') {
                candidates.push_back(line.substr(0, i));
            }
        }
        candidates.push_back(line);
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) {
            continue;
        }
        DWORD e = TryProgram(candidate, caller, image, node);
        if (e == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        if (candidates.size() == 1) {
            error = e;
        }
    }
    return error;
}

}  // namespace

// Checks that the loader may map the image: not delete-pending, and its
// open (reading, sharing reading and deletion) allowed by the handles on it.
DWORD CheckImage(const Node* node)
{
    if (node->deletePending) {
        return ERROR_ACCESS_DENIED;
    }
    if (!SharingAllows(node, kR, kR | kD)) {
        return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

HINSTANCE InstanceOf(DWORD id)
{
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000u + 0x10000u * id));
}

Process* NewProcess(const Process* parent, const Path& image, const NodePtr& node,
                    const std::string& commandLine, const Path& currentDirectory, bool byWinExec)
{
    std::unique_ptr<Process> owned(new Process);
    Process* p = owned.get();
    p->id = static_cast<DWORD>(M().processes.size() + 1);
    p->parentId = parent->id;
    p->imagePath = PathText(image);
    p->image = node;
    ++node->imageRefs;
    p->commandLine = commandLine;
    p->commandBuffer = commandLine;
    p->currentDirectory = currentDirectory;
    p->startedByWinExec = byWinExec;
    p->instance = InstanceOf(p->id);
    p->state = READY;
    for (auto& program : M().programs) {
        if (program.first == node->content) {
            p->main = program.second;
        }
    }
    M().processes.push_back(std::move(owned));
    p->thread = std::thread(ProcessThread, p);
    return p;
}

// --- The operations ------------------------------------------------------------

BOOL RestrictDllSearchToSystem_(void)
{
    Call c("RestrictDllSearchToSystem", {});
    if (c.me->calls == 1) {
        c.me->restrictedDllSearchFirst = true;
    }
    c.Log("TRUE");
    return TRUE;
}

LPSTR GetCommandLineA_(void)
{
    Call c("GetCommandLineA", {});
    c.Log(Quote(c.me->commandBuffer.c_str()));
    return &c.me->commandBuffer[0];
}

BOOL IsDBCSLeadByte_(BYTE testChar)
{
    Call c("IsDBCSLeadByte", {Hex(testChar)});
    const BOOL lead = LeadByte(testChar) ? TRUE : FALSE;
    c.Log(lead ? "TRUE" : "FALSE");
    return lead;
}

HMODULE GetModuleHandleA_(LPCSTR moduleName)
{
    Call c("GetModuleHandleA", {Quote(moduleName)});
    bool own = moduleName == nullptr;
    if (!own) {
        // Only the process's own image is loaded in the model.
        std::string image = c.me->imagePath.substr(c.me->imagePath.find_last_of('\\') + 1);
        std::string name(moduleName);
        own = SameName(name, image) || SameName(name + ".exe", image);
    }
    if (!own) {
        c.Error(kErrorModNotFound);
        c.Log("NULL");
        return nullptr;
    }
    c.Log(Hex(reinterpret_cast<uintptr_t>(c.me->instance)));
    return c.me->instance;
}

// As from Windows Vista on: a path that does not fit is cut to size - 1 bytes
// and its zero, and size is returned with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA_(HMODULE module, LPSTR fileName, DWORD size)
{
    Call c("GetModuleFileNameA", {Hex(reinterpret_cast<uintptr_t>(module)), Number(size)});
    if (module != nullptr && module != c.me->instance) {
        c.Error(kErrorModNotFound);
        c.Log("0");
        return 0;
    }
    if (size == 0) {
        c.Error(ERROR_INSUFFICIENT_BUFFER);
        c.Log("0");
        return 0;
    }
    const std::string& path = c.me->imagePath;
    if (path.size() < size) {
        std::memcpy(fileName, path.c_str(), path.size() + 1);
        c.Log(Number(static_cast<long long>(path.size())) + " " + Quote(path.c_str()));
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(fileName, path.c_str(), size - 1);
    fileName[size - 1] = '\0';
    c.Error(ERROR_INSUFFICIENT_BUFFER);
    c.Log(Number(size) + " (cut short)");
    return size;
}

namespace {

DWORD StartProgram(Call& c, LPCSTR applicationName, LPCSTR commandLine, LPCSTR currentDirectory,
                   bool byWinExec, Process*& started)
{
    Path image;
    NodePtr node;
    DWORD error = ResolveProgram(applicationName, commandLine, c.me, image, node);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = CheckImage(node.get());
    if (error != ERROR_SUCCESS) {
        return error;
    }
    Path directory = c.me->currentDirectory;
    if (currentDirectory != nullptr) {
        NodePtr folder;
        if (LookupText(currentDirectory, c.me, folder, &directory) != ERROR_SUCCESS || !folder->dir) {
            return ERROR_DIRECTORY;
        }
    }
    std::string line = commandLine != nullptr ? std::string(commandLine) : std::string(applicationName);
    started = NewProcess(c.me, image, node, line, directory, byWinExec);
    return ERROR_SUCCESS;
}

}  // namespace

// Handle inheritance, creation flags, the environment and the start-up
// information are not modelled. The child does not run before the caller
// waits or ends.
BOOL CreateProcessA_(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                     LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                     LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                     LPPROCESS_INFORMATION processInformation)
{
    (void)processSecurity;
    (void)threadSecurity;
    (void)environment;
    (void)startupInfo;
    Call c("CreateProcessA", {Quote(applicationName), Quote(commandLine), Number(inheritHandles),
                              Hex(creationFlags), Quote(currentDirectory)});
    auto done = [&](BOOL ok, DWORD error) {
        if (!ok) {
            c.Error(error);
        }
        c.Log(ok ? "TRUE pid " + Number(processInformation->dwProcessId) : BoolResult(FALSE, c.me));
        return ok;
    };
    if (processInformation == nullptr || (applicationName == nullptr && commandLine == nullptr)) {
        return done(FALSE, ERROR_INVALID_PARAMETER);
    }
    Process* child = nullptr;
    DWORD error = StartProgram(c, applicationName, commandLine, currentDirectory, false, child);
    if (error != ERROR_SUCCESS) {
        return done(FALSE, error);
    }
    ObjectPtr processObject = std::make_shared<KObject>();
    processObject->kind = OBJ_PROCESS;
    processObject->process = child;
    ObjectPtr threadObject = std::make_shared<KObject>();
    threadObject->kind = OBJ_THREAD;
    threadObject->process = child;
    processInformation->hProcess = NewHandle(c.me, processObject);
    processInformation->hThread = NewHandle(c.me, threadObject);
    processInformation->dwProcessId = child->id;
    processInformation->dwThreadId = 1000 + child->id;
    return done(TRUE, 0);
}

// Returns 33 when the program started, else the error when it is below 32
// (2: no program found), else 0.
UINT WinExec_(LPCSTR commandLine, UINT showCommand)
{
    Call c("WinExec", {Quote(commandLine), Number(showCommand)});
    auto done = [&](UINT result) {
        c.Log(Number(result));
        return result;
    };
    if (commandLine == nullptr) {
        c.Error(ERROR_INVALID_PARAMETER);
        return done(0);
    }
    M().winExecCommands.push_back(mem::WinExecRecord{c.me->id, commandLine, showCommand});
    Process* child = nullptr;
    DWORD error = StartProgram(c, nullptr, commandLine, nullptr, true, child);
    if (error != ERROR_SUCCESS) {
        c.Error(error);
        return done(error < 32 ? error : 0);
    }
    return done(33);
}

}  // namespace memory_model
