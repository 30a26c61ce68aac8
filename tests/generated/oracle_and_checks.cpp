// Generated machines, the oracle and the checks. The oracle says, from a
// machine's description alone, what the program may delete or write there
// (LegitimateTargets) and what must be gone after the run (ExpectedRemovals);
// it never calls the program's code. The checks compare the model's state
// and change log with that, excusing what a call made to fail explains.
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/generated/generated_machines.h"
#include "ui/resource.h"

namespace generated {

namespace {

// A full path ("X:\..."): the same folder from every current directory.
bool IsFullPath(const std::string& text)
{
    return text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

// A name of the product's list at the top of the install directory.
bool IsProductFile(const Legitimate& legit, const WinPath& path)
{
    return legit.hasInstallDir && !path.IsRoot() && path.Parent() == legit.installDir &&
           IsListedName(path.Name());
}

bool MayDeleteFile(const Legitimate& legit, const WinPath& path)
{
    return IsProductFile(legit, path) ||
           (legit.hasGroup && !path.IsRoot() && path.Parent() == legit.group) ||
           (legit.hasShortcut && path == legit.shortcut) || path == legit.uninstaller ||
           (legit.hasTempCopy && path == legit.tempCopy);
}

bool MayRemoveFolder(const Legitimate& legit, const WinPath& path)
{
    return (legit.hasInstallDir && path == legit.installDir) ||
           (legit.hasGroup && path == legit.group);
}

// A file a DeleteFileA of this path (at most 259 bytes) can delete, or,
// for the product's own files, whose read-only bit is cleared first.
bool Deletable(const Item* item, size_t pathLength, bool clearsReadOnly = false)
{
    return item != nullptr && !item->folder && (clearsReadOnly || !item->readOnly) &&
           !item->inUse && pathLength <= kMaxPath - 1;
}

// Files at the top of a folder that a sweep of folderText (listing
// folderText + "\*.*", deleting folderText + "\" + name) can delete. The
// sweep of listed names alone is the product's, which clears read-only bits.
std::vector<const Item*> SweepableFiles(const Tree& tree, const WinPath& folder,
                                        const std::string& folderText, bool listedOnly)
{
    std::vector<const Item*> files;
    if (!tree.IsFolder(folder) || folderText.size() + 4 > kMaxPath - 1) {
        return files;
    }
    for (const Item* child : tree.Children(folder)) {
        const std::string name = NameText(child->path);
        if ((!listedOnly || IsListedName(name)) &&
            Deletable(child, folderText.size() + 1 + name.size(), listedOnly)) {
            files.push_back(child);
        }
    }
    return files;
}

// Whether a file of the product's list is left at the top of a folder once
// these keys are gone (a folder of such a name is none).
bool ProgramFileLeft(const Tree& tree, const WinPath& folder, const std::set<std::string>& gone)
{
    for (const Item* child : tree.Children(folder)) {
        if (!child->folder && IsListedName(NameText(child->path)) && gone.count(child->key) == 0) {
            return true;
        }
    }
    return false;
}

// Whether a folder is empty once these keys are gone.
bool EmptyAfter(const Tree& tree, const WinPath& folder, const std::set<std::string>& gone)
{
    for (const Item* child : tree.Children(folder)) {
        if (child->folder || gone.count(child->key) == 0) {
            return false;
        }
    }
    return true;
}

bool FolderLookupWorks(const Tree& tree, const std::string& path, FolderState state)
{
    return state == FOLDER_THERE && path.size() <= kMaxPath - 1 && tree.IsFolder(Resolve(path));
}

std::string Unquote(const std::string& text)
{
    const size_t first = text.find('"');
    const size_t last = text.rfind('"');
    return first == std::string::npos || last <= first ? text : text.substr(first + 1, last - first - 1);
}

// The folder a search pattern ("folder\*.*") lists.
WinPath PatternFolder(const std::string& pattern, const WinPath& cwd)
{
    const size_t separator = pattern.find_last_of("\\/");
    return separator == std::string::npos ? cwd : Resolve(pattern.substr(0, separator + 1), cwd);
}

}  // namespace

bool ProgramPathText(const Machine& m, std::string& text)
{
    if (!m.settingsKey || !m.programPath || m.programPathBytes.size() > kMaxPath - 1) {
        return false;
    }
    text = m.programPathBytes.substr(0, m.programPathBytes.find('\0'));
    return !text.empty();
}

// The install directory the value names. The value is a folder to which
// "\" and a name are appended (it names the folder without a trailing
// separator), so the product's files are value + "\" + name as Windows
// resolves that for the uninstaller the user started: "C:" names the drive's
// root (the root written without its separator), "C:\" and "dir\" the same
// folders as "C:" and "dir", and a relative value the folder below the
// uninstaller's current directory. A value that is no path names nothing.
bool InstallDirectory(const std::string& text, const std::string& currentDirectory, WinPath& dir)
{
    dir = Resolve(text + "\\", Resolve(currentDirectory));
    return dir.valid;
}

Legitimate LegitimateTargets(const Machine& m)
{
    Legitimate legit;
    std::string text;
    if (ProgramPathText(m, text)) {
        legit.hasInstallDir = InstallDirectory(text, m.currentDirectory, legit.installDir);
    }
    if (m.programsState != NOT_SET) {
        legit.group = Resolve(m.programs + "\\" + facts::kProgramGroup);
        legit.hasGroup = legit.group.valid;
    }
    if (m.desktopState != NOT_SET) {
        legit.shortcut = Resolve(m.desktop + "\\" + facts::kDesktopShortcut);
        legit.hasShortcut = legit.shortcut.valid;
    }
    legit.uninstaller = Resolve(m.uninstaller);
    if (!m.tempPath.empty()) {
        legit.tempCopy = Resolve(m.tempPath + facts::kTempCopyName);
        legit.hasTempCopy = legit.tempCopy.valid;
    }
    return legit;
}

Expected ExpectedRemovals(const Machine& m, const Legitimate& legit)
{
    Expected expected;
    if (DialogOutcome(true, m.confirmAnswer) != IDOK) {
        expected.declined = true;
        return expected;
    }
    const Tree& tree = m.tree;

    // The listed files at the top of the install directory. A value that is
    // no full path ("C:", "C:x", "\\x", "x") names a folder only from some
    // current directory; whether the program acts on it at all is its own
    // choice, so only what it does is checked (safety), not that it does.
    std::string text;
    const bool fullPath = ProgramPathText(m, text) && IsFullPath(text);
    if (legit.hasInstallDir && fullPath) {
        for (const Item* file : SweepableFiles(tree, legit.installDir, text, true)) {
            expected.files.insert(file->key);
        }
    }
    // Unless the install directory could be listed and no product file is
    // left there or beside the uninstaller, the product is still there: its
    // entry and its uninstaller stay.
    const bool listed = legit.hasInstallDir && fullPath && tree.IsFolder(legit.installDir) &&
                        text.size() + 4 <= kMaxPath - 1;
    const WinPath ownFolder = legit.uninstaller.Parent();
    expected.finished = listed && !ProgramFileLeft(tree, legit.installDir, expected.files) &&
                        m.uninstaller.size() <= kMaxPath - 1 && tree.IsFolder(ownFolder) &&
                        !ProgramFileLeft(tree, ownFolder, expected.files);

    expected.key = expected.finished && m.uninstallKey && !m.uninstallKeyProtected &&
                   !m.uninstallKeySubkey;

    // The shortcuts go with the entry, and so stay with it too.
    if (expected.finished && FolderLookupWorks(tree, m.desktop, m.desktopState)) {
        const std::string shortcut = m.desktop + "\\" + facts::kDesktopShortcut;
        if (Deletable(tree.Find(legit.shortcut), shortcut.size())) {
            expected.files.insert(legit.shortcut.Key());
        }
    }

    if (expected.finished && FolderLookupWorks(tree, m.programs, m.programsState)) {
        const std::string group = m.programs + "\\" + facts::kProgramGroup;
        if (group.size() <= kMaxPath - 1) {
            std::set<std::string> groupFiles;
            for (const Item* file : SweepableFiles(tree, legit.group, group, false)) {
                groupFiles.insert(file->key);
            }
            expected.files.insert(groupFiles.begin(), groupFiles.end());
            if (tree.IsFolder(legit.group) && group.size() + 4 <= kMaxPath - 1 &&
                EmptyAfter(tree, legit.group, groupFiles)) {
                expected.folders.insert(legit.group.Key());
            }
        }
    }

    // The hand-off: the copy can be written where the temp folder is, and
    // both paths fit in 259 bytes. A leftover at its name is deleted, never
    // changed: one that cannot be (a folder, in use, read-only) keeps the
    // copy from being made.
    const std::string copy = m.tempPath + facts::kTempCopyName;
    const Item* stale = legit.hasTempCopy ? tree.Find(legit.tempCopy) : nullptr;
    expected.handOff = expected.finished && !m.tempPath.empty() &&
                       copy.size() <= kMaxPath - 1 && tree.IsFolder(Resolve(m.tempPath)) &&
                       (stale == nullptr || (!stale->folder && !stale->inUse && !stale->readOnly));
    if (!expected.handOff) {
        return expected;
    }
    // The copy is made normal before it is opened for deletion on close,
    // whatever the uninstaller's attributes: it always goes.
    expected.files.insert(legit.tempCopy.Key());
    // With a free mutex of that name held elsewhere the copy does not wait
    // for the uninstaller's end, but its delete is tried again until then.
    // A read-only uninstaller has its bit cleared before the hand-off.
    if (!m.uninstallerInUse) {
        expected.files.insert(legit.uninstaller.Key());
    }
    if (legit.hasInstallDir && fullPath && !legit.installDir.IsRoot() &&
        tree.IsFolder(legit.installDir) && EmptyAfter(tree, legit.installDir, expected.files)) {
        expected.folders.insert(legit.installDir.Key());
    }
    return expected;
}

Excuses InjectedFailures(const Machine& m, const Legitimate& legit)
{
    Excuses excuses;
    const std::vector<mem::CallRecord> log = mem::CallLog();
    std::map<DWORD, WinPath> cwdOf;
    for (const mem::ProcessRecord& process : mem::Processes()) {
        cwdOf[process.id] = Resolve(process.currentDirectory);
    }
    auto excuseChildren = [&](const WinPath& folder) {
        for (const Item* child : m.tree.Children(folder)) {
            excuses.keys.insert(child->key);
        }
    };
    // A product file left, or a folder of them not listed, in the install
    // directory or the uninstaller's folder: the removal does not finish,
    // and the entry, the uninstaller, the shortcuts and the install
    // directory stay, and no copy is made.
    auto excuseUnfinished = [&](const WinPath& folder) {
        if ((legit.hasInstallDir && folder == legit.installDir) ||
            folder == legit.uninstaller.Parent()) {
            excuses.key = true;
            for (const WinPath* kept : {&legit.uninstaller, &legit.tempCopy, &legit.shortcut,
                                        &legit.group, &legit.installDir}) {
                excuses.keys.insert(kept->Key());
            }
            excuseChildren(legit.group);
        }
    };
    auto excuseFolder = [&](const WinPath& folder) {
        excuses.keys.insert(folder.Key());
        excuseChildren(folder);
        excuseUnfinished(folder);
    };
    for (const mem::CallRecord& call : log) {
        if (!call.injected) {
            continue;
        }
        excuses.any = true;
        excuses.what = mem::Text(call);
        const std::string& op = call.operation;
        if (op == "RestrictDllSearchToSystem" || op == "IsDBCSLeadByte" || op == "FindClose" ||
            op == "RegCloseKey" || op == "WinExec") {
            continue;
        }
        if (op == "DeleteFileA" || op == "GetFileAttributesA" || op == "SetFileAttributesA") {
            // Its attributes unread or unchanged, a file stays (read-only,
            // or its bit not put back), a product file counts as there or
            // gone, and a folder (the group, the install directory) stays
            // with all it holds.
            const WinPath path = Resolve(Unquote(call.args[0]), cwdOf[call.processId]);
            excuses.keys.insert(path.Key());
            excuses.keys.insert(path.Parent().Key());
            excuseChildren(path);
            if (!path.IsRoot() && IsListedName(path.Name())) {
                excuseUnfinished(path.Parent());
            }
        } else if (op == "RemoveDirectoryA") {
            excuses.keys.insert(Resolve(Unquote(call.args[0]), cwdOf[call.processId]).Key());
        } else if (op == "FindFirstFileA") {
            excuseFolder(PatternFolder(Unquote(call.args[0]), cwdOf[call.processId]));
        } else if (op == "FindNextFileA") {
            // The search that handle (the first argument) belongs to.
            const std::string& handle = call.args[0];
            for (const mem::CallRecord& first : log) {
                if (first.operation == "FindFirstFileA" && first.processId == call.processId &&
                    first.result.compare(0, handle.size() + 1, handle + " ") == 0) {
                    excuseFolder(PatternFolder(Unquote(first.args[0]), cwdOf[call.processId]));
                }
            }
        } else if (op == "RegDeleteKeyA") {
            excuses.key = true;
        } else if (op == "SHGetSpecialFolderPathA") {
            // An injected call lists every argument: owner, path, csidl, create.
            const unsigned long csidl = std::strtoul(call.args[2].c_str(), nullptr, 10);
            if (csidl == CSIDL_DESKTOPDIRECTORY) {
                excuses.keys.insert(legit.shortcut.Key());
            } else {
                excuseFolder(legit.group);
            }
        } else {
            excuses.unscoped = true;
        }
    }
    return excuses;
}

// Every change the model logged is the product's, and every file, folder and
// key that is not the product's is still there.
void CheckSafety(const Machine& m, const Legitimate& legit, std::vector<std::string>& problems)
{
    for (const mem::ChangeRecord& change : mem::Changes()) {
        const std::string& target = change.path;
        bool allowed = false;
        if (change.kind == mem::FILE_DELETED) {
            allowed = MayDeleteFile(legit, Resolve(target));
        } else if (change.kind == mem::FOLDER_REMOVED) {
            allowed = MayRemoveFolder(legit, Resolve(target));
        } else if (change.kind == mem::KEY_DELETED) {
            allowed = UpperAscii(target) == UpperAscii(std::string("HKLM\\") + kUninstallKey);
        } else if (change.kind == mem::FILE_WRITTEN) {
            allowed = legit.hasTempCopy && Resolve(target) == legit.tempCopy;
        } else if (change.kind == mem::ATTRIBUTES_SET) {
            // The copy, the uninstaller and the product's plain files alone.
            const WinPath path = Resolve(target);
            const Item* item = m.tree.Find(path);
            allowed = (legit.hasTempCopy && path == legit.tempCopy) || path == legit.uninstaller ||
                      (IsProductFile(legit, path) && item != nullptr && !item->folder);
        }
        if (!allowed) {
            problems.push_back("unsafe: " + mem::Text(change));
        }
    }
    for (const Item& item : m.tree.Items()) {
        const WinPath& path = item.resolved;
        if (item.folder ? MayRemoveFolder(legit, path) : MayDeleteFile(legit, path)) {
            continue;
        }
        if (item.folder ? !mem::FolderExists(item.path) : !mem::FileExists(item.path)) {
            problems.push_back("unsafe: not the product's, but gone: " + item.path);
        }
    }
    if (!mem::FileExists(kBrowser) || !mem::FileExists(std::string(kCommonDesktop) + "\\Quillmere.lnk") ||
        !mem::FolderExists(std::string(kCommonPrograms) + "\\Quillmere")) {
        problems.push_back("unsafe: the browser or the all-users shortcuts are gone");
    }
    if (m.settingsKey && !mem::KeyExists(HKEY_CURRENT_USER, kSettingsKey)) {
        problems.push_back("unsafe: the settings key is gone");
    }
    if (m.settingsKey && m.programPath &&
        !mem::ValueExists(HKEY_CURRENT_USER, kSettingsKey, kProgramPathValue)) {
        problems.push_back("unsafe: the \"Program Path\" value is gone");
    }
    if (m.siblingKeys &&
        (!mem::KeyExists(HKEY_LOCAL_MACHINE, std::string(kUninstallParent) + "\\Quillmere Viewer") ||
         !mem::KeyExists(HKEY_LOCAL_MACHINE, std::string(kUninstallParent) + "\\QuillmereOld"))) {
        problems.push_back("unsafe: another product's uninstall key is gone");
    }
    if (m.browserKey && !mem::KeyExists(HKEY_CLASSES_ROOT, kBrowserKey)) {
        problems.push_back("unsafe: the browser's key is gone");
    }
}

Judged CheckCompleteness(const Machine& m, const Legitimate& legit, const Expected& expected,
                         const Excuses& excuses, std::vector<std::string>& problems)
{
    if (excuses.unscoped) {
        return NOT_JUDGED;
    }
    if (expected.declined) {
        const std::vector<mem::ChangeRecord> changes = mem::Changes();
        if (!changes.empty()) {
            problems.push_back("declined, yet changed: " + mem::Text(changes.front()));
        }
        return excuses.any ? JUDGED_EXCUSED : JUDGED_WHOLE;
    }
    for (const std::string& file : expected.files) {
        if (excuses.keys.count(file) == 0 && mem::FileExists(file)) {
            problems.push_back("incomplete: could be deleted, still there: " + file);
        }
    }
    for (const std::string& folder : expected.folders) {
        if (excuses.keys.count(folder) == 0 && mem::FolderExists(folder)) {
            problems.push_back("incomplete: could be removed, still there: " + folder);
        }
    }
    if (expected.key && !excuses.key && mem::KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) {
        problems.push_back("incomplete: the uninstall key is still there");
    }
    // The completion dialog says whether the removal finished.
    const std::vector<mem::DialogRecord> shown = mem::DialogsShown();
    const int completion = expected.finished ? IDD_REMOVE_COMPLETED : IDD_REMOVE_UNFINISHED;
    if (!excuses.any && (shown.size() != 2 || shown[1].resourceId != completion)) {
        problems.push_back("wrong completion dialog: expected " + std::to_string(completion));
    }
    // Unfinished, the product stays as it was but for its files that went.
    for (const mem::ChangeRecord& change : mem::Changes()) {
        if (!excuses.any && !expected.finished && !IsProductFile(legit, Resolve(change.path))) {
            problems.push_back("unfinished, yet changed: " + mem::Text(change));
        }
    }
    // A product file that could not go keeps its read-only bit (read on the
    // model itself, past a failure still armed).
    for (const Item& item : m.tree.Items()) {
        const char* path = item.key.c_str();
        if (item.readOnly && IsProductFile(legit, item.resolved) && excuses.keys.count(path) == 0 &&
            mem::FileExists(path) &&
            (MemoryPlatformOps.GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY) == 0) {
            problems.push_back("read-only bit lost: " + item.key);
        }
    }
    return excuses.any ? JUDGED_EXCUSED : JUDGED_WHOLE;
}

}  // namespace generated
