// The dump: the whole machine as text (files, registry, special folders,
// named objects, processes with their handles and waits, the last calls),
// shown with every failure the model reports; and the call, change and
// WinExec records as text for messages.
#include "platform/memory/machine.h"

#include <ostream>
#include <sstream>

namespace memory_model {

namespace {

const char* KindName(ObjectKind kind)
{
    switch (kind) {
    case OBJ_EVENT: return "event";
    case OBJ_MUTEX: return "mutex";
    case OBJ_PROCESS: return "process";
    case OBJ_THREAD: return "thread";
    case OBJ_FILE: return "file";
    case OBJ_FIND: return "search";
    case OBJ_KEY: return "key";
    }
    return "?";
}

void DumpNode(std::ostringstream& out, const Node* node)
{
    out << "  " << NodeText(node);
    if (node->dir) {
        if (node->parent != nullptr) {
            out << "\\";
        }
    } else {
        out << "  " << node->content.size() << " bytes";
    }
    if (node->linkTarget) {
        out << "  link to " << NodeText(node->linkTarget.get());
    }
    if (node->readOnly) {
        out << "  read-only";
    }
    if (node->inUseElsewhere) {
        out << "  in use elsewhere";
    }
    if (node->imageRefs > 0) {
        out << "  running image (" << node->imageRefs << ")";
    }
    if (!node->opens.empty()) {
        out << "  open handles " << node->opens.size();
    }
    if (node->deletePending) {
        out << "  delete-pending";
    }
    out << "\n";
    for (auto& child : node->children) {
        DumpNode(out, child.second.get());
    }
}

const char* TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_?";
    }
}

void DumpKey(std::ostringstream& out, const RegKey* key)
{
    out << "  " << KeyText(key) << (key->isProtected ? "  [protected]" : "") << "\n";
    for (auto& value : key->values) {
        out << "      " << (value.second.name.empty() ? "(default)" : "\"" + value.second.name + "\"")
            << " " << TypeName(value.second.type) << " \"" << Escape(value.second.bytes) << "\"\n";
    }
    for (auto& sub : key->subkeys) {
        DumpKey(out, sub.second.get());
    }
}

std::string ObjectText(const KObject* object)
{
    std::ostringstream out;
    out << KindName(object->kind);
    switch (object->kind) {
    case OBJ_EVENT:
        out << " \"" << object->name << "\" " << (object->manualReset ? "manual" : "auto")
            << (object->signalled ? " signalled" : " not signalled");
        break;
    case OBJ_MUTEX:
        out << " \"" << object->name << "\"";
        if (object->owner != nullptr) {
            out << " owned by " << object->owner->id;
        } else {
            out << " free";
        }
        if (object->abandoned) {
            out << " abandoned";
        }
        break;
    case OBJ_PROCESS:
    case OBJ_THREAD: out << " of " << object->process->id; break;
    case OBJ_FILE:
        out << " " << NodeText(object->file.get()) << (object->deleteOnClose ? " delete-on-close" : "");
        break;
    case OBJ_FIND: out << " (" << object->next << "/" << object->found.size() << ")"; break;
    case OBJ_KEY:
        out << " " << KeyText(object->key.get()) << " access " << Hex(object->keyAccess)
            << (object->key->deleted ? " deleted" : "");
        break;
    }
    return out.str();
}

}  // namespace

std::string DumpLocked()
{
    std::ostringstream out;
    Machine& m = M();
    out << "--- memory platform at " << m.clock << " ms ---\nfiles:\n";
    for (auto& drive : m.drives) {
        DumpNode(out, drive.second.get());
    }
    out << "registry:\n";
    for (auto& root : m.roots) {
        if (root) {
            DumpKey(out, root.get());
        }
    }
    out << "special folders:";
    for (auto& folder : m.specialFolders) {
        out << " " << Hex(static_cast<uintptr_t>(folder.first)) << "=" << folder.second
            << (m.failedSpecialFolders.count(folder.first) ? "(fails)" : "");
    }
    out << "\ntemp path: \"" << m.tempPath << "\"\nnamed objects:\n";
    for (auto& named : m.named) {
        out << "  " << ObjectText(named.second.get()) << ", " << named.second->handles
            << " handle(s)\n";
    }
    out << "processes:\n";
    static const char* const states[] = {"ready", "running", "blocked", "ended"};
    for (auto& p : m.processes) {
        out << "  " << p->id << " (parent " << p->parentId << ") " << states[p->state]
            << (m.running == p.get() ? " [baton]" : "") << " image " << p->imagePath << " cmd \""
            << p->commandLine << "\" cwd " << PathText(p->currentDirectory);
        if (p->startedByWinExec) {
            out << " WinExec";
        }
        if (p->state == ENDED) {
            out << " exit " << p->exitCode;
        }
        if (p->state == BLOCKED) {
            out << " waiting for "
                << (p->waitKind == WAIT_FOR_OBJECT ? ObjectText(p->waitObject.get())
                                                   : std::string("all processes to end"));
            if (p->hasDeadline) {
                out << " until " << p->deadline << " ms";
            }
        }
        out << "\n";
        for (auto& handle : p->handles) {
            out << "      " << Hex(handle.first) << " " << ObjectText(handle.second.get()) << "\n";
        }
    }
    out << "dialogs open: " << m.openDialogs.size() << ", scripted answers left: " << m.script.size()
        << "\n";
    size_t from = m.timeline.size() > 60 ? m.timeline.size() - 60 : 0;
    out << "last calls (" << m.timeline.size() - from << " of " << m.timeline.size() << "):\n";
    for (size_t i = from; i < m.timeline.size(); ++i) {
        out << "  " << m.timeline[i] << "\n";
    }
    return out.str();
}

}  // namespace memory_model

namespace mem {

using namespace memory_model;

std::string Dump()
{
    Lock lock(Mutex());
    return DumpLocked();
}

// --- The records as text ------------------------------------------------------------

std::string Text(const CallRecord& call)
{
    return Number(call.processId) + " " + call.operation + "(" + Joined(call.args) + ") -> " + call.result +
           (call.injected ? " [injected]" : "");
}

std::string Text(const ChangeRecord& change)
{
    static const char* const kinds[] = {"FileDeleted", "FolderRemoved", "KeyDeleted", "FileWritten",
                                        "FolderCreated", "AttributesSet"};
    return Number(change.processId) + " " + kinds[change.kind] + " " + change.path;
}

std::string Text(const WinExecRecord& command)
{
    return Number(command.processId) + " WinExec " + Quote(command.commandLine.c_str()) + ", " +
           Number(command.showCommand);
}

bool operator==(const CallRecord& a, const CallRecord& b)
{
    return a.processId == b.processId && a.operation == b.operation && a.args == b.args &&
           a.result == b.result && a.injected == b.injected;
}

bool operator==(const ChangeRecord& a, const ChangeRecord& b)
{
    return a.processId == b.processId && a.kind == b.kind && a.path == b.path;
}

bool operator==(const WinExecRecord& a, const WinExecRecord& b)
{
    return a.processId == b.processId && a.commandLine == b.commandLine &&
           a.showCommand == b.showCommand;
}

std::ostream& operator<<(std::ostream& out, const CallRecord& call)
{
    return out << Text(call);
}

std::ostream& operator<<(std::ostream& out, const ChangeRecord& change)
{
    return out << Text(change);
}

std::ostream& operator<<(std::ostream& out, const WinExecRecord& command)
{
    return out << Text(command);
}

}  // namespace mem
