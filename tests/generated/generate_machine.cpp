// Generated machines, the machine around the product: a random machine from
// a seed (GenerateMachine: the desktop and its shortcut, the program group,
// the registry, the user's answers, the user's unrelated files, a call made
// to fail), and the machine laid on the model (LayMachine) and run
// (RunMachine).
#include <string>
#include <vector>

#include "tests/generated/generated_machines.h"
#include "tests/support/sample_machine.h"
#include "ui/resource.h"

namespace generated {

bool Tree::Add(const std::string& path, bool folder, bool readOnly, bool inUse,
               const std::string& content)
{
    const WinPath resolved = Resolve(path);
    if (!resolved.valid || resolved.IsRoot() || index_.count(resolved.Key()) != 0) {
        return false;
    }
    // Parents are folders: laid implicitly, recorded here.
    std::vector<WinPath> missing;
    for (WinPath p = resolved.Parent(); !p.IsRoot(); p = p.Parent()) {
        const Item* item = Find(p);
        if (item != nullptr && !item->folder) {
            return false;
        }
        if (item == nullptr) {
            missing.push_back(p);
        }
    }
    for (size_t i = missing.size(); i-- > 0;) {
        Item parent;
        parent.path = missing[i].Key();
        parent.folder = true;
        parent.implicit = true;
        Index(parent, missing[i]);
    }
    Item item;
    item.path = path;
    item.folder = folder;
    item.readOnly = readOnly;
    item.inUse = inUse;
    item.content = content;
    Index(item, resolved);
    return true;
}

void Tree::Index(Item& item, const WinPath& resolved)
{
    item.resolved = resolved;
    item.key = resolved.Key();
    item.parentKey = resolved.Parent().Key();
    index_[item.key] = items_.size();
    items_.push_back(item);
}

namespace {

// ---- the desktop and the program group -------------------------------------

struct FolderDraft {
    Machine& m;
    std::string note;
    std::string path;
    FolderState state = NOT_SET;
};

const VariantTable<FolderDraft> kFolderStates = {
    {80, kFolderStateNames[FOLDER_THERE], [](Random&, FolderDraft& d) { d.state = FOLDER_THERE; }},
    {7, kFolderStateNames[FOLDER_MISSING], [](Random&, FolderDraft& d) { d.state = FOLDER_MISSING; }},
    {7, kFolderStateNames[LOOKUP_FAILS], [](Random&, FolderDraft& d) { d.state = LOOKUP_FAILS; }},
    {6, kFolderStateNames[NOT_SET], [](Random&, FolderDraft& d) { d.state = NOT_SET; }},
};

const VariantTable<FolderDraft> kDesktops = {
    {80, "", [](Random&, FolderDraft& d) { d.path = "C:\\Users\\Alice\\Desktop"; }},
    {15, "", [](Random&, FolderDraft& d) { d.path = "C:\\Documents and Settings\\Alice Smith\\Desktop"; }},
    // desktop + "\Quillmere.lnk" around 259 bytes
    {5, "long",
     [](Random& r, FolderDraft& d) {
         d.path = PaddedPath("C:\\Users\\Alice", 243 + r.Below(5), "\\Desktop");
         d.note += "-" + std::to_string(d.path.size());
     }},
};

const char kShortcutContent[] = "shortcut to Quillmere.exe";
const VariantTable<MachineDraft> kShortcuts = {
    {64, "", [](Random&, MachineDraft& d) { d.m.tree.AddFile(d.m.desktop + "\\Quillmere.lnk", kShortcutContent); }},
    {6, "read-only",
     [](Random&, MachineDraft& d) {
         d.m.tree.AddFile(d.m.desktop + "\\Quillmere.lnk", kShortcutContent, true, false);
     }},
    {6, "in-use",
     [](Random&, MachineDraft& d) {
         d.m.tree.AddFile(d.m.desktop + "\\Quillmere.lnk", kShortcutContent, false, true);
     }},
    {16, "missing", nullptr},
    {8, "folder",
     [](Random&, MachineDraft& d) {
         d.m.tree.AddFile(d.m.desktop + "\\Quillmere.lnk\\inside.txt", "a folder named like the shortcut");
     }},
};

const VariantTable<MachineDraft> kDesktopExtras = {
    {30, "near-misses",
     [](Random&, MachineDraft& d) {
         d.m.tree.AddFile(d.m.desktop + "\\Quillmere.lnk.bak", "the user's");
         d.m.tree.AddFile(d.m.desktop + "\\My Quillmere.lnk", "the user's");
         d.m.tree.AddFile(d.m.desktop + "\\Quillmere", "the user's");
     }},
};

const VariantTable<FolderDraft> kProgramsFolders = {
    {80, "", [](Random&, FolderDraft& d) { d.path = "C:\\Users\\Alice\\Start Menu\\Programs"; }},
    {15, "",
     [](Random&, FolderDraft& d) { d.path = "C:\\Documents and Settings\\Alice Smith\\Start Menu\\Programs"; }},
    // the group's pattern and entries around 259 bytes
    {5, "long",
     [](Random& r, FolderDraft& d) {
         d.path = PaddedPath("C:\\Users\\Alice", 236 + r.Below(14), "\\Programs");
         d.note += "-" + std::to_string(d.path.size());
     }},
};

const VariantTable<MachineDraft> kGroups = {
    {80, "",
     [](Random& r, MachineDraft& d) {
         Machine& m = d.m;
         const std::string group = m.programs + "\\Quillmere";
         m.tree.AddFolder(group);
         static const std::vector<std::string> kEntries = {
             "Quillmere.lnk",       "Quillmere Help.lnk", "Uninstall Quillmere.lnk",
             "Buy Online Now!.url", "Readme.txt",         "Quillmere.exe"};
         const unsigned count = r.Below(6);
         for (unsigned i = 0; i < count; ++i) {
             const bool ro = r.Percent(5);
             const bool used = !ro && r.Percent(5);
             m.tree.AddFile(group + "\\" + r.Pick(kEntries), "group entry", ro, used);
             if (ro || used) {
                 m.Note("group", ro ? "read-only-entry" : "in-use-entry");
             }
         }
         if (r.Percent(15)) {
             if (r.Percent(50)) {
                 m.tree.AddFile(group + "\\Extras\\Tips.lnk", "in a subfolder");
             } else {
                 m.tree.AddFolder(group + "\\Extras");
             }
             m.Note("group", "subfolder");
         }
         d.note = count == 0 ? "empty" : "entries";
     }},
    {20, "missing", nullptr},
    // A link to a folder of the user's own, some of its names the group's:
    // nothing in it is the product's.
    {8, "link",
     [](Random&, MachineDraft& d) {
         d.m.groupLinkTarget = "C:\\Users\\Alice\\Documents\\Quillmere Notes";
         for (const char* name : {"Diary.txt", "Quillmere.lnk", "Uninstall Quillmere.lnk"}) {
             d.m.tree.AddFile(d.m.groupLinkTarget + "\\" + name, "the user's own");
         }
     }},
};

const VariantTable<MachineDraft> kProgramsExtras = {
    {30, "neighbours",
     [](Random&, MachineDraft& d) {
         d.m.tree.AddFile(d.m.programs + "\\Quillmere Tools\\Tools.lnk", "another group");
         d.m.tree.AddFile(d.m.programs + "\\Quillmere.lnk", "next to the group");
         d.m.tree.AddFile(d.m.programs + "\\Accessories\\Notepad.lnk", "another group");
     }},
};

// A special folder's path and state, noted under topic.
FolderDraft GenerateSpecialFolder(Random& r, Machine& m, const char* topic,
                                  const VariantTable<FolderDraft>& paths)
{
    FolderDraft folder{m, "", "", NOT_SET};
    DrawAndNote(r, topic, paths, folder, m);
    DrawAndNote(r, topic, kFolderStates, folder, m);
    return folder;
}

void GenerateDesktop(Random& r, Machine& m)
{
    const FolderDraft desktop = GenerateSpecialFolder(r, m, "desktop", kDesktops);
    m.desktop = desktop.path;
    m.desktopState = desktop.state;
    if (m.desktopState == FOLDER_MISSING || m.desktopState == NOT_SET) {
        return;
    }
    m.tree.AddFolder(m.desktop);
    MachineDraft draft{m, ""};
    DrawAndNote(r, "shortcut", kShortcuts, draft, m);
    DrawEach(r, "desktop", kDesktopExtras, draft, m);
}

void GenerateProgramGroup(Random& r, Machine& m)
{
    const FolderDraft programs = GenerateSpecialFolder(r, m, "programs", kProgramsFolders);
    m.programs = programs.path;
    m.programsState = programs.state;
    if (m.programsState == FOLDER_MISSING || m.programsState == NOT_SET) {
        return;
    }
    m.tree.AddFolder(m.programs);
    MachineDraft draft{m, ""};
    DrawAndNote(r, "group", kGroups, draft, m);
    DrawEach(r, "programs", kProgramsExtras, draft, m);
}

// ---- the registry and the hand-off's names ---------------------------------

// The hand-off's two names already held by another program.
const VariantTable<MachineDraft> kNamedObjects = {
    {91, "", nullptr},
    {3, "event-set", [](Random&, MachineDraft& d) { d.m.staleObjects = STALE_EVENT_SET; }},
    {3, "mutex-owned", [](Random&, MachineDraft& d) { d.m.staleObjects = STALE_MUTEX_OWNED; }},
    {3, "mutex-free", [](Random&, MachineDraft& d) { d.m.staleObjects = STALE_MUTEX_FREE; }},
};

// The browser's registered command line.
const VariantTable<MachineDraft> kBrowserValues = {
    {35, "quoted", [](Random&, MachineDraft& d) { d.m.browserBytes = WithZero("\"" + std::string(kBrowser) + "\""); }},
    {15, "bare", [](Random&, MachineDraft& d) { d.m.browserBytes = WithZero(kBrowser); }},
    {10, "with-arguments",
     [](Random&, MachineDraft& d) { d.m.browserBytes = WithZero("\"" + std::string(kBrowser) + "\" -nohome"); }},
    {10, "empty", [](Random&, MachineDraft& d) { d.m.browserBytes = WithZero(""); }},
    {5, "only-quotes", [](Random&, MachineDraft& d) { d.m.browserBytes = WithZero("\"\"\""); }},
    {10, "500-bytes-no-terminator",
     [](Random&, MachineDraft& d) {
         d.m.browserBytes = "\"" + std::string(kBrowser) + "\"";
         d.m.browserBytes += std::string(500 - d.m.browserBytes.size(), '"');
     }},
    {5, "500-bytes",
     [](Random&, MachineDraft& d) {
         const std::string browser = kBrowser;
         d.m.browserBytes = WithZero(browser + std::string(499 - browser.size(), ' '));
     }},
    {10, "too-long",
     [](Random& r, MachineDraft& d) {
         d.m.browserBytes = WithZero(std::string(kBrowser) + std::string(500 + r.Below(200), 'x'));
     }},
    {5, "value-missing", [](Random&, MachineDraft& d) { d.m.browserValue = false; }},
};

void GenerateRegistry(Random& r, Machine& m)
{
    m.uninstallKey = r.Percent(85);
    if (m.uninstallKey) {
        m.uninstallKeyProtected = r.Percent(5);
        m.uninstallKeySubkey = !m.uninstallKeyProtected && r.Percent(5);
        if (m.uninstallKeyProtected) {
            m.Note("uninstall-key", "protected");
        }
        if (m.uninstallKeySubkey) {
            m.Note("uninstall-key", "with-subkey");
        }
    } else {
        m.Note("uninstall-key", "missing");
    }
    m.siblingKeys = r.Percent(25);

    MachineDraft draft{m, ""};
    DrawAndNote(r, "named-objects", kNamedObjects, draft, m);

    m.browserKey = r.Percent(90);
    if (!m.browserKey) {
        m.Note("browser", "key-missing");
        return;
    }
    m.browserValue = true;
    m.browserType = r.Percent(10) ? REG_EXPAND_SZ : REG_SZ;
    DrawAndNote(r, "browser", kBrowserValues, draft, m);
}

std::vector<A> GenerateAnswer(Random& r, bool confirmation)
{
    const std::vector<A> fidgets = {
        {mem::PRESS_TAB, 0, 0},           {mem::PRESS_TAB, 0, 0},   {mem::PRESS_TAB, 0, 0},
        {mem::ALT_KEY, 0, 'y'},           {mem::ALT_KEY, 0, 'n'},   {mem::PRESS_ENTER, 0, 0},
        {mem::CLICK, IDC_CONFIRM_TEXT, 0}, {mem::PRESS_ESCAPE, 0, 0}, {mem::CLOSE_BOX, 0, 0},
    };
    std::vector<A> actions;
    if (r.Percent(30)) {
        const unsigned count = 1 + r.Below(3);
        for (unsigned i = 0; i < count; ++i) {
            A action = r.Pick(fidgets);
            if (!confirmation && action.kind == mem::CLICK) {
                action = {mem::PRESS_TAB, 0, 0};  // the completion dialog has no such control
            }
            actions.push_back(action);
        }
    }
    switch (r.Weighted({85, 6, 5, 2, 2})) {
    case 0:
        actions.push_back({mem::CLICK, IDOK, 0});
        break;
    case 1:
        // The unfinished notice has no "&No" to click, and only beeps at Alt+N.
        actions.push_back(confirmation ? A{mem::CLICK, IDCANCEL, 0} : A{mem::ALT_KEY, 0, 'n'});
        break;
    case 2:
        actions.push_back({mem::PRESS_ENTER, 0, 0});
        break;
    case 3:
        actions.push_back({mem::PRESS_ESCAPE, 0, 0});
        break;
    default:
        actions.push_back({mem::CLOSE_BOX, 0, 0});
        break;
    }
    return actions;
}

void GenerateAnswers(Random& r, Machine& m)
{
    m.confirmAnswer = GenerateAnswer(r, true);
    m.completedAnswer = GenerateAnswer(r, false);
    m.Note("confirm", DialogOutcome(true, m.confirmAnswer) == IDOK ? "yes" : "no");
    m.Note("completed", DialogOutcome(false, m.completedAnswer) == IDOK ? "yes" : "no");
}

// The user's files elsewhere on C:, at the drive's root and in the current
// directory among them, some named like the product's: none is the
// product's, so none may go (but where the value itself names their folder).
void GenerateUnrelatedFiles(Random& r, Machine& m)
{
    m.tree.AddFile(std::string(kDocuments) + "\\letter.doc", "the user's");
    if (!r.Percent(60)) {
        return;
    }
    const std::string cwd = m.currentDirectory == "C:\\" ? "C:" : m.currentDirectory;
    const std::string parent = ParentText(m.installDir) == "C:\\" ? "C:" : ParentText(m.installDir);
    const std::vector<std::string> candidates = {
        "C:\\notes.txt",
        "C:\\Quillmere.exe",
        "C:\\Quillmere Help.lnk",
        "C:\\Uninstall Quillmere.lnk",
        "C:\\suicide.exe",
        "C:\\Buy Online Now!.url",
        cwd + "\\readme.txt",
        cwd + "\\Quillmere.exe",
        cwd + "\\Quillmere.lnk",
        cwd + "\\suicide.exe",
        parent + "\\Quillmere.exe",
        m.installDir + "Quillmere.exe",  // the name glued to the folder
        std::string(kDocuments) + "\\Quillmere\\Quillmere.exe",
        "C:\\Users\\Alice\\Quillmere.lnk",
        Join(m.programs.empty() ? "C:\\Users\\Alice" : m.programs, "QuillmereQuillmere.lnk"),
    };
    const unsigned count = 1 + r.Below(8);
    for (unsigned i = 0; i < count; ++i) {
        m.tree.AddFile(r.Pick(candidates), "the user's own");
    }
    if (r.Percent(30)) {
        m.tree.AddFolder(parent + "\\Quillmere Old");
    }
    m.Note("unrelated", "files");
}

// One platform call made to fail, anywhere in either process.
void GenerateFailure(Random& r, Machine& m)
{
    if (!r.Percent(50)) {
        m.Note("fail", "none");
        return;
    }
    const std::vector<std::string> operations = mem::OperationNames();
    m.failOperation = r.Pick(operations);
    unsigned calls = 3;  // about how often the program makes the call in a run
    if (m.failOperation == "lstrcatA") {
        calls = 60;
    } else if (m.failOperation == "DeleteFileA" || m.failOperation == "FindNextFileA") {
        calls = 20;
    } else if (m.failOperation == "FindFirstFileA" || m.failOperation == "RegQueryValueExA" ||
               m.failOperation == "RegOpenKeyExA" || m.failOperation == "CloseHandle") {
        calls = 4;
    }
    m.failOccurrence = static_cast<int>(1 + r.Below(calls));
    static const std::vector<DWORD> kErrors = {ERROR_ACCESS_DENIED, 32, 2, 87};
    m.failError = r.Pick(kErrors);
    m.Note("fail", m.failOperation);
}

// Notes that name an outcome of several draws rather than one row.
const char* const kMachineOutcomes[] = {
    "group=read-only-entry", "group=in-use-entry",     "group=subfolder",
    "group=empty",           "group=entries",          "uninstall-key=protected",
    "uninstall-key=with-subkey", "uninstall-key=missing", "browser=key-missing",
    "confirm=yes",           "confirm=no",             "completed=yes",
    "completed=no",          "unrelated=files",        "fail=none",
};

// Each dialog's answer twice (a user whose click did not close the dialog
// clicks again; the first run of actions ends it otherwise), then Esc twice
// (the unfinished notice ignores the Alt keys of an answer, and is ended by
// the Esc that follows, or the next); and Esc for any dialog beyond the two.
std::vector<std::vector<A>> Script(const Machine& m)
{
    std::vector<std::vector<A>> script;
    for (const std::vector<A>* answer : {&m.confirmAnswer, &m.completedAnswer}) {
        std::vector<A> actions = *answer;
        actions.insert(actions.end(), answer->begin(), answer->end());
        actions.insert(actions.end(), 2, {mem::PRESS_ESCAPE, 0, 0});
        script.push_back(actions);
    }
    script.push_back({{mem::PRESS_ESCAPE, 0, 0}});
    script.push_back({{mem::PRESS_ESCAPE, 0, 0}});
    return script;
}

void LaySpecialFolder(int csidl, const std::string& path, FolderState state)
{
    if (state == NOT_SET) {
        return;
    }
    mem::SetSpecialFolder(csidl, path);
    if (state == LOOKUP_FAILS) {
        mem::FailSpecialFolder(csidl);
    }
}

}  // namespace

int DialogOutcome(bool confirmation, const std::vector<A>& actions)
{
    // Tab order: confirmation No, Yes; completion &Yes, &No.
    const int buttons[2] = {confirmation ? IDCANCEL : IDOK, confirmation ? IDOK : IDCANCEL};
    int focus = confirmation ? -1 : 0;
    for (const A& action : actions) {
        switch (action.kind) {
        case mem::PRESS_ENTER:
            return focus >= 0 ? buttons[focus] : buttons[0];
        case mem::PRESS_ESCAPE:
        case mem::CLOSE_BOX:
            return IDCANCEL;
        case mem::PRESS_TAB:
            focus = focus < 0 ? 0 : (focus + 1) % 2;
            break;
        case mem::CLICK:
            if (action.controlId == IDOK || action.controlId == IDCANCEL) {
                return action.controlId;
            }
            break;
        case mem::ALT_KEY:
            if (!confirmation && (action.letter == 'y' || action.letter == 'n')) {
                return action.letter == 'y' ? IDOK : IDCANCEL;
            }
            break;
        }
    }
    return 0;
}

std::vector<std::string> PromisedNotes()
{
    std::vector<std::string> notes;
    PromiseInstallNotes(notes);
    for (const char* topic : {"desktop", "programs"}) {
        Promise(topic, kFolderStates, notes);
    }
    Promise("desktop", kDesktops, notes);
    Promise("shortcut", kShortcuts, notes);
    Promise("desktop", kDesktopExtras, notes);
    Promise("programs", kProgramsFolders, notes);
    Promise("group", kGroups, notes);
    Promise("programs", kProgramsExtras, notes);
    Promise("named-objects", kNamedObjects, notes);
    Promise("browser", kBrowserValues, notes);
    notes.insert(notes.end(), std::begin(kMachineOutcomes), std::end(kMachineOutcomes));
    for (const std::string& operation : mem::OperationNames()) {
        notes.push_back("fail=" + operation);
    }
    return notes;
}

Machine GenerateMachine(uint64_t seed)
{
    Machine m;
    m.seed = seed;
    Random r(seed);
    GenerateTempFolder(r, m);
    GenerateProgramPath(r, m);
    GenerateInstallContents(r, m);
    GenerateDesktop(r, m);
    GenerateProgramGroup(r, m);
    GenerateRegistry(r, m);
    GenerateAnswers(r, m);
    GenerateUnrelatedFiles(r, m);
    GenerateFailure(r, m);
    return m;
}

void LayMachine(const Machine& m)
{
    mem::Reset();
    sample::RegisterUninstallerDialogs();
    sample::RegisterUninstallerProgram();

    for (const Item& item : m.tree.Items()) {
        if (item.implicit) {
            continue;
        }
        if (item.folder) {
            mem::AddFolder(item.path);
            continue;
        }
        mem::AddFile(item.path, item.content);
        if (item.readOnly) {
            mem::SetReadOnly(item.path);
        }
        if (item.inUse) {
            mem::SetInUse(item.path);
        }
    }
    mem::AddFile(kBrowser, "MZ browser");

    if (m.settingsKey) {
        mem::SetStringValue(HKEY_CURRENT_USER, kSettingsKey, "Version", "1.0");
        if (m.programPath) {
            mem::SetValue(HKEY_CURRENT_USER, kSettingsKey, kProgramPathValue, m.programPathType,
                          m.programPathBytes);
        }
    }
    if (m.uninstallKey) {
        mem::SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "Quillmere");
        mem::SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString",
                            "\"" + m.uninstaller + "\"");
        if (m.uninstallKeyProtected) {
            mem::ProtectKey(HKEY_LOCAL_MACHINE, kUninstallKey);
        }
        if (m.uninstallKeySubkey) {
            mem::AddKey(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\Components");
        }
    }
    if (m.siblingKeys) {
        mem::SetStringValue(HKEY_LOCAL_MACHINE, std::string(kUninstallParent) + "\\Quillmere Viewer",
                            "DisplayName", "Quillmere Viewer");
        mem::AddKey(HKEY_LOCAL_MACHINE, std::string(kUninstallParent) + "\\QuillmereOld");
    }
    if (m.browserKey) {
        mem::AddKey(HKEY_CLASSES_ROOT, kBrowserKey);
        if (m.browserValue) {
            mem::SetValue(HKEY_CLASSES_ROOT, kBrowserKey, "", m.browserType, m.browserBytes);
        }
    }

    LaySpecialFolder(CSIDL_DESKTOPDIRECTORY, m.desktop, m.desktopState);
    LaySpecialFolder(CSIDL_PROGRAMS, m.programs, m.programsState);
    if (!m.groupLinkTarget.empty()) {
        mem::AddFolderLink(m.programs + "\\Quillmere", m.groupLinkTarget);
    }
    mem::AddFile(std::string(kCommonDesktop) + "\\Quillmere.lnk", "all users' shortcut");
    mem::AddFile(std::string(kCommonPrograms) + "\\Quillmere\\Quillmere.lnk", "all users' group");
    mem::SetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, kCommonDesktop);
    mem::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, kCommonPrograms);
    mem::SetTempPath(m.tempPath);

    // Another program (the shell here, which never ends) holds the names.
    if (m.staleObjects == STALE_EVENT_SET) {
        g_platform->CreateEventA(0, TRUE, TRUE, facts::kStartEventName);
    } else if (m.staleObjects != NO_STALE) {
        g_platform->CreateMutexA(0, m.staleObjects == STALE_MUTEX_OWNED, facts::kExitMutexName);
    }

    mem::ScriptDialogs(Script(m));
}

void RunMachine(const Machine& m)
{
    mem::StartProcess(m.uninstaller, m.commandLine, m.currentDirectory);
    if (!m.failOperation.empty()) {
        mem::FailCall(m.failOperation, m.failError, m.failOccurrence);
    }
    mem::RunUntilAllEnded();
}

}  // namespace generated
