// Generated machines, the declarations the parts share. Many random machine
// states, each run through the whole program on the in-memory platform (the
// uninstall role as the user starts it, then the cleanup role as the
// hand-off starts it), each checked for
//
//   safety: nothing goes but the product's own files and folders and its
//   uninstall key, nothing is written but the temporary copy, and no
//   read-only bit changes but the copy's, the uninstaller's and the
//   product files' (kept by those that stay);
//   completeness: whatever of the product could go on that machine is gone,
//   and a removal that cannot finish changes nothing else.
//
// The parts, each standing on its own, each in its own file:
//   windows_paths.cpp     - how Windows resolves a path, for comparing paths;
//   generate_install.cpp  - the generator's product: the temp folder, the
//                           "Program Path" value, the install directory;
//   generate_machine.cpp  - the rest of a random machine from a seed
//                           (GenerateMachine), laid on the model (LayMachine);
//   oracle_and_checks.cpp - from the machine's description alone, what may
//                           go (LegitimateTargets) and what must go
//                           (ExpectedRemovals), never calling the program's
//                           code; and the comparison of the model's state and
//                           change log with that;
//   generated_machines_test.cpp - the driver, machine after machine, and the
//                           tests of the parts themselves.
//
// Machine i is generated from the seed start + i, so any machine reruns alone:
//   GENERATED_MACHINES_SEED=<seed> GENERATED_MACHINES_COUNT=1 unit_tests
//       --gtest_filter='GeneratedMachines*'
// Without GENERATED_MACHINES_SEED the start seed is the fixed
// kDefaultStartSeed, so every run (and CI) sees the same machines; set it to
// explore others. GENERATED_MACHINES_COUNT defaults to 10000.
#ifndef TESTS_GENERATED_GENERATED_MACHINES_H
#define TESTS_GENERATED_GENERATED_MACHINES_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/support/product_facts.h"

namespace generated {

typedef mem::UserAction A;

const size_t kMaxPath = 260;  // bytes of an ANSI path with its zero

// The product's names, as the tests state them (never the program's own
// tables, so that the oracle does not lean on the code it judges).
using facts::kBrowserKey;
using facts::kProductFiles;
using facts::kProgramPathValue;
using facts::kSettingsKey;
using facts::kUninstallKey;
using facts::kUninstallParent;

// The machine's own places.
const char kBrowser[] = "C:\\Program Files\\Internet Explorer\\iexplore.exe";
const char kDocuments[] = "C:\\Users\\Alice\\Documents";
const char kCommonDesktop[] = "C:\\Users\\Public\\Desktop";
const char kCommonPrograms[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

// ----------------------------------------------------------------------------
// Windows paths (windows_paths.cpp)
// ----------------------------------------------------------------------------

std::string UpperAscii(std::string text);

// A path as Windows resolves it: a drive and the names below its root, every
// name upper-cased (Windows compares names without regard to ASCII case).
struct WinPath {
    bool valid = false;
    char drive = 'C';
    std::vector<std::string> names;

    bool IsRoot() const { return names.empty(); }
    std::string Key() const
    {
        std::string key(1, drive);
        key += ":\\";
        for (size_t i = 0; i < names.size(); ++i) {
            key += (i == 0 ? "" : "\\") + names[i];
        }
        return key;
    }
    WinPath Parent() const
    {
        WinPath parent = *this;
        if (!parent.names.empty()) {
            parent.names.pop_back();
        }
        return parent;
    }
    std::string Name() const { return names.empty() ? std::string() : names.back(); }
    bool operator==(const WinPath& other) const
    {
        return valid && other.valid && drive == other.drive && names == other.names;
    }
    bool operator!=(const WinPath& other) const { return !(*this == other); }
};

const WinPath& RootOfC();

// Resolves text as Windows does for a process whose current directory is
// cwd: "/" is a separator, repeated separators count once, "." and ".." are
// applied ("..") never climbs above the root), "X:" without a separator is
// the current directory on drive X, a leading "\" is the root of the current
// drive. Names with bytes below 32 or with <>"|*? in them, a ":" anywhere but
// after the drive letter, and "\\" network paths resolve to nothing.
WinPath Resolve(const std::string& text, const WinPath& cwd = RootOfC());

bool IsListedName(const std::string& name);
std::string WithZero(const std::string& text);
// folder + "\" + name, without doubling the root's separator.
std::string Join(const std::string& folder, const std::string& name);
std::string ParentText(const std::string& path);
std::string NameText(const std::string& path);

// ----------------------------------------------------------------------------
// Generator (generate_install.cpp, generate_machine.cpp)
// ----------------------------------------------------------------------------

// splitmix64: the same numbers from the same seed with every compiler and
// standard library (std::uniform_int_distribution is not portable).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned Below(size_t n) { return n == 0 ? 0 : static_cast<unsigned>(Next() % n); }
    bool Percent(unsigned percent) { return Below(100) < percent; }
    template <class T>
    const T& Pick(const std::vector<T>& items)
    {
        return items[Below(items.size())];
    }
    // An index chosen by weight.
    unsigned Weighted(const std::vector<unsigned>& weights)
    {
        unsigned total = 0;
        for (unsigned w : weights) {
            total += w;
        }
        unsigned roll = Below(total);
        for (unsigned i = 0; i < weights.size(); ++i) {
            if (roll < weights[i]) {
                return i;
            }
            roll -= weights[i];
        }
        return 0;
    }

private:
    uint64_t state_;
};

// One file or folder laid on the machine.
struct Item {
    std::string path;  // as laid
    bool folder = false;
    bool implicit = false;  // a parent folder the model makes with its child
    bool readOnly = false;
    bool inUse = false;
    std::string content;
    WinPath resolved;
    std::string key;        // resolved.Key()
    std::string parentKey;  // resolved.Parent().Key()
};

// The files and folders of a machine, each once, parents before children.
class Tree {
public:
    // False (and nothing laid) when the path is taken or a file stands where
    // a folder is needed.
    bool AddFolder(const std::string& path) { return Add(path, true, false, false, ""); }
    bool AddFile(const std::string& path, const std::string& content, bool readOnly = false,
                 bool inUse = false)
    {
        return Add(path, false, readOnly, inUse, content);
    }
    const Item* Find(const WinPath& path) const
    {
        auto it = index_.find(path.Key());
        return it == index_.end() ? nullptr : &items_[it->second];
    }
    bool IsFolder(const WinPath& path) const
    {
        const Item* item = Find(path);
        return (path.valid && path.IsRoot()) || (item != nullptr && item->folder);
    }
    std::vector<const Item*> Children(const WinPath& folder) const
    {
        std::vector<const Item*> children;
        const std::string key = folder.valid ? folder.Key() : std::string();
        for (const Item& item : items_) {
            if (item.parentKey == key) {
                children.push_back(&item);
            }
        }
        return children;
    }
    const std::vector<Item>& Items() const { return items_; }

private:
    bool Add(const std::string& path, bool folder, bool readOnly, bool inUse,
             const std::string& content);
    void Index(Item& item, const WinPath& resolved);

    std::vector<Item> items_;
    std::map<std::string, size_t> index_;
};

enum FolderState { FOLDER_THERE, FOLDER_MISSING, LOOKUP_FAILS, NOT_SET };
// The hand-off's two names already held by another program.
enum StaleObjects { NO_STALE, STALE_EVENT_SET, STALE_MUTEX_OWNED, STALE_MUTEX_FREE };
const char* const kFolderStateNames[] = {"there", "missing", "lookup-fails", "not-set"};

// A machine: everything the generator decided, and nothing else.
struct Machine {
    uint64_t seed = 0;
    // "topic=variant" notes: the one-line description and the coverage count.
    std::vector<std::string> notes;
    Tree tree;

    std::string installDir;  // where the product lies
    std::string uninstaller;
    bool uninstallerReadOnly = false;
    bool uninstallerInUse = false;
    std::string currentDirectory;  // the uninstall role's, as the user started it
    std::string commandLine;

    bool settingsKey = true;
    bool programPath = true;  // the value exists
    DWORD programPathType = REG_SZ;
    std::string programPathBytes;

    std::string desktop;
    FolderState desktopState = NOT_SET;
    std::string programs;
    FolderState programsState = NOT_SET;
    // When set, the program group is a link to this folder of the user's
    // files (the files are in the tree, the link is not).
    std::string groupLinkTarget;
    std::string tempPath;  // what GetTempPathA gives; "" makes it fail

    bool uninstallKey = false;
    bool uninstallKeyProtected = false;
    bool uninstallKeySubkey = false;
    bool siblingKeys = false;
    bool browserKey = false;
    bool browserValue = false;
    DWORD browserType = REG_SZ;
    std::string browserBytes;

    StaleObjects staleObjects = NO_STALE;

    std::vector<A> confirmAnswer;
    std::vector<A> completedAnswer;

    std::string failOperation;  // "" when no call is made to fail
    int failOccurrence = 0;
    DWORD failError = 0;

    void Note(const std::string& topic, const std::string& variant)
    {
        notes.push_back(topic + "=" + variant);
    }
};

// One way a part of the machine can be, a row of a table: how often the
// generator takes it (against the other rows' weights), the name the
// machine's notes give it ("" for a way not worth a note), and what it lays
// (nullptr for nothing). The builder may lengthen the note (draft.note
// starts as the row's name) or draw from a table of finer ways, whose row
// then names it. Every named row is a way the generated machines promise to
// meet: the driver's variety check is built from the tables (PromisedNotes).
template <class Draft>
struct Variant {
    unsigned weight;
    const char* name;
    void (*build)(Random& r, Draft& draft);
};

template <class Draft>
using VariantTable = std::vector<Variant<Draft>>;

// Takes a row by weight and builds it; draft.note then names what was built.
template <class Draft>
void Draw(Random& r, const VariantTable<Draft>& table, Draft& draft)
{
    std::vector<unsigned> weights;
    for (const Variant<Draft>& row : table) {
        weights.push_back(row.weight);
    }
    const Variant<Draft>& row = table[r.Weighted(weights)];
    draft.note = row.name;
    if (row.build != nullptr) {
        row.build(r, draft);
    }
}

// Draws from the table and notes the result under topic.
template <class Draft>
void DrawAndNote(Random& r, const char* topic, const VariantTable<Draft>& table, Draft& draft,
                 Machine& m)
{
    Draw(r, table, draft);
    if (!draft.note.empty()) {
        m.Note(topic, draft.note);
    }
}

// Draws each row on its own, the weight its chance in percent, and notes
// each row built (unless its builder clears the note).
template <class Draft>
void DrawEach(Random& r, const char* topic, const VariantTable<Draft>& table, Draft& draft, Machine& m)
{
    for (const Variant<Draft>& row : table) {
        if (!r.Percent(row.weight)) {
            continue;
        }
        draft.note = row.name;
        if (row.build != nullptr) {
            row.build(r, draft);
        }
        if (!draft.note.empty()) {
            m.Note(topic, draft.note);
        }
    }
}

// "topic=name" for every named row: notes that must turn up among many
// machines (a note that starts with it counts, for names lengthened).
template <class Draft>
void Promise(const char* topic, const VariantTable<Draft>& table, std::vector<std::string>& out)
{
    for (const Variant<Draft>& row : table) {
        if (row.name[0] != '\0') {
            out.push_back(std::string(topic) + "=" + row.name);
        }
    }
}

// A machine and the note its drawing builds, for the tables whose rows need
// nothing else.
struct MachineDraft {
    Machine& m;
    std::string note;
};

std::string RandomCase(Random& r, const std::string& text);
// start + "\name" segments + end, exactly length bytes long.
std::string PaddedPath(const std::string& start, size_t length, const std::string& end);
void GenerateTempFolder(Random& r, Machine& m);
void GenerateProgramPath(Random& r, Machine& m);
void GenerateInstallContents(Random& r, Machine& m);
// The notes of generate_install.cpp's tables and outcomes.
void PromiseInstallNotes(std::vector<std::string>& out);
// Every note the generator can make, as far as a note promises anything:
// each must turn up among enough machines, and no note may turn up that is
// not among them.
std::vector<std::string> PromisedNotes();

// What a scripted answer yields, as the dialog manager and the two dialogs
// behave for the user: the confirmation has no focus when it opens (Enter
// presses its default "No") and no mnemonics; the completion dialog opens
// with the focus on "&Yes" and knows Alt+Y and Alt+N. Returns IDOK, IDCANCEL,
// or 0 when the answer leaves the dialog open.
int DialogOutcome(bool confirmation, const std::vector<A>& actions);
Machine GenerateMachine(uint64_t seed);
void LayMachine(const Machine& m);
// Starts the uninstaller as the list of installed programs does (its quoted
// path) and runs it and whatever it starts to their end.
void RunMachine(const Machine& m);

// ----------------------------------------------------------------------------
// Oracle and checks (oracle_and_checks.cpp)
// ----------------------------------------------------------------------------

// The text the "Program Path" value holds, when it can be read whole: the
// value exists, its stored bytes fit the 259 bytes a reader offers, and it is
// not empty. Its type does not matter (the bytes are taken as they are); a
// value stored without its terminating zero ends at its stored length.
bool ProgramPathText(const Machine& m, std::string& text);
// The install directory the value names. The value is a folder to which
// "\" and a name are appended (it names the folder without a trailing
// separator), so the product's files are value + "\" + name as Windows
// resolves that for the uninstaller the user started: "C:" names the drive's
// root (the root written without its separator), "C:\" and "dir\" the same
// folders as "C:" and "dir", and a relative value the folder below the
// uninstaller's current directory. A value that is no path names nothing.
bool InstallDirectory(const std::string& text, const std::string& currentDirectory, WinPath& dir);

// What the program may delete or write on this machine, from its
// description alone.
struct Legitimate {
    bool hasInstallDir = false;
    WinPath installDir;
    bool hasGroup = false;
    WinPath group;
    bool hasShortcut = false;
    WinPath shortcut;
    WinPath uninstaller;
    bool hasTempCopy = false;
    WinPath tempCopy;
};

Legitimate LegitimateTargets(const Machine& m);

// What must be gone after the run, when no call was made to fail: whatever
// of the product could be deleted on this machine.
struct Expected {
    bool declined = false;  // then nothing at all changes
    bool handOff = false;   // the cleanup role runs
    bool finished = false;  // no product file is left: the completion says so
    std::set<std::string> files;    // keys of files that must be gone
    std::set<std::string> folders;  // keys of folders that must be gone
    bool key = false;               // the uninstall key must be gone
};
Expected ExpectedRemovals(const Machine& m, const Legitimate& legit);

// What an injected failure excuses. Failures whose effect is one path are
// followed precisely: a failed delete, or a failed read or change of
// attributes, leaves that file (and so its folder) or that folder with what
// it holds, a failed search leaves its folder's files and the folder, a
// failed folder lookup leaves what lies in that folder. The calls whose
// failure changes nothing that is checked excuse nothing. After any other
// failure (the hand-off, the registry reads, the dialogs, the strings)
// completeness is not checked on that machine, only safety.
struct Excuses {
    bool any = false;        // a call was made to fail
    bool unscoped = false;   // completeness not checked
    std::set<std::string> keys;
    bool key = false;
    std::string what;
};
Excuses InjectedFailures(const Machine& m, const Legitimate& legit);

// Every change the model logged is the product's, and every file, folder and
// key that is not the product's is still there.
void CheckSafety(const Machine& m, const Legitimate& legit, std::vector<std::string>& problems);

// How a machine's completeness was judged, for the summary.
enum Judged { JUDGED_WHOLE, JUDGED_EXCUSED, NOT_JUDGED };
Judged CheckCompleteness(const Machine& m, const Legitimate& legit, const Expected& expected,
                         const Excuses& excuses, std::vector<std::string>& problems);

}  // namespace generated

#endif  // TESTS_GENERATED_GENERATED_MACHINES_H
