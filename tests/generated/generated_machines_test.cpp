// Generated machines: many random machine states, each run through the whole
// program on the in-memory platform (the uninstall role as the user starts
// it, then the cleanup role as the hand-off starts it), each checked for
//
//   safety: nothing goes but the product's own files and folders and its
//   uninstall key, and nothing is written but the temporary copy;
//   completeness: whatever of the product could go on that machine is gone.
//
// The file has four parts, each standing on its own:
//   Windows paths  - how Windows resolves a path, for comparing paths;
//   generator      - a random machine from a seed (GenerateMachine), laid on
//                    the model (LayMachine);
//   oracle         - from the machine's description alone, what may go
//                    (LegitimateTargets) and what must go (ExpectedRemovals);
//                    it never calls the program's code;
//   checks/driver  - compares the model's state and change log with the
//                    oracle, machine after machine.
//
// Machine i is generated from the seed start + i, so any machine reruns alone:
//   GENERATED_MACHINES_SEED=<seed> GENERATED_MACHINES_COUNT=1 unit_tests
//       --gtest_filter='GeneratedMachines*'
// Without GENERATED_MACHINES_SEED the start seed is the fixed
// kDefaultStartSeed, so every run (and CI) sees the same machines; set it to
// explore others. GENERATED_MACHINES_COUNT defaults to 10000.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "tests/support/sample_machine.h"
#include "ui/resource.h"

namespace {

typedef mem::UserAction A;

const uint64_t kDefaultStartSeed = 0x5EED2024u;
const unsigned kDefaultCount = 10000;
const size_t kMaxPath = 260;  // bytes of an ANSI path with its zero

// The product's names as the product defines them, written out here so that
// the oracle does not lean on the program's own tables.
const char* const kListedFiles[] = {"Quillmere.exe", "Quillmere.hlp", "Quillmere.cnt",
                                    "Quillmere.gid", "Quillmere.fts", "Quillmere.ftg",
                                    "Buy Online Now!.url"};
const char kSettingsKey[] = "Software\\Korrindal\\Quillmere";
const char kProgramPathValue[] = "Program Path";
const char kUninstallParent[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere";
const char kBrowserKey[] = "CLSID\\{0002DF01-0000-0000-C000-000000000046}\\LocalServer32";
const char kBrowser[] = "C:\\Program Files\\Internet Explorer\\iexplore.exe";
const char kDocuments[] = "C:\\Users\\Alice\\Documents";
const char kCommonDesktop[] = "C:\\Users\\Public\\Desktop";
const char kCommonPrograms[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

// ============================================================================
// Windows paths
// ============================================================================

std::string UpperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

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

const WinPath& RootOfC()
{
    static const WinPath root = [] {
        WinPath p;
        p.valid = true;
        return p;
    }();
    return root;
}

// Resolves text as Windows does for a process whose current directory is
// cwd: "/" is a separator, repeated separators count once, "." and ".." are
// applied ("..") never climbs above the root), "X:" without a separator is
// the current directory on drive X, a leading "\" is the root of the current
// drive. Names with bytes below 32 or with <>"|*? in them, a ":" anywhere but
// after the drive letter, and "\\" network paths resolve to nothing.
WinPath Resolve(const std::string& text, const WinPath& cwd = RootOfC())
{
    WinPath out;
    std::string s = text;
    std::replace(s.begin(), s.end(), '/', '\\');
    if (s.empty() || (s.size() >= 2 && s[0] == '\\' && s[1] == '\\')) {
        return out;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 32 || std::strchr("<>\"|*?", c) != nullptr || (c == ':' && i != 1)) {
            return out;
        }
    }
    std::string rest;
    if (s.size() >= 2 && s[1] == ':') {
        const char letter = UpperAscii(s.substr(0, 1))[0];
        if (letter < 'A' || letter > 'Z') {
            return out;
        }
        out.drive = letter;
        rest = s.substr(2);
        if ((rest.empty() || rest[0] != '\\') && letter == cwd.drive) {
            out.names = cwd.names;
        }
    } else {
        out.drive = cwd.drive;
        if (s[0] != '\\') {
            out.names = cwd.names;
        }
        rest = s;
    }
    std::string name;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] != '\\') {
            name += rest[i];
            continue;
        }
        if (name == "..") {
            if (!out.names.empty()) {
                out.names.pop_back();
            }
        } else if (!name.empty() && name != ".") {
            out.names.push_back(UpperAscii(name));
        }
        name.clear();
    }
    out.valid = true;
    return out;
}

bool IsListedName(const std::string& name)
{
    for (const char* listed : kListedFiles) {
        if (UpperAscii(name) == UpperAscii(listed)) {
            return true;
        }
    }
    return false;
}

// ============================================================================
// Generator
// ============================================================================

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

    void Index(Item& item, const WinPath& resolved)
    {
        item.resolved = resolved;
        item.key = resolved.Key();
        item.parentKey = resolved.Parent().Key();
        index_[item.key] = items_.size();
        items_.push_back(item);
    }

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

std::string WithZero(const std::string& text)
{
    return text + std::string(1, '\0');
}

// folder + "\" + name, without doubling the root's separator.
std::string Join(const std::string& folder, const std::string& name)
{
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::string ParentText(const std::string& path)
{
    const size_t cut = path.find_last_of('\\');
    return cut == 2 ? path.substr(0, 3) : path.substr(0, cut);
}

std::string NameText(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

std::string RandomCase(Random& r, const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (std::isalpha(static_cast<unsigned char>(c)) && r.Percent(50)) {
            c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c)
                                                                              : std::toupper(c));
        }
    }
    return out;
}

// start + "\name" segments + end, exactly length bytes long.
std::string PaddedPath(const std::string& start, size_t length, const std::string& end)
{
    std::string path = start;
    size_t need = length - start.size() - end.size();
    unsigned number = 0;
    while (need > 0) {
        size_t segment = need <= 48 ? need : (need - 48 == 1 ? 47 : 48);
        std::string name = "Padding" + std::to_string(++number) + "_";
        while (name.size() < segment - 1) {
            name += static_cast<char>('a' + name.size() % 26);
        }
        name.resize(segment - 1);
        path += "\\" + name;
        need -= segment;
    }
    return path + end;
}

const std::vector<std::string> kInstallDirs = {
    "C:\\Program Files\\Quillmere",
    "C:\\Program Files\\Korrindal Tools\\Quillmere",
    "C:\\Quillmere",
    "C:\\Users\\Alice\\AppData\\Local\\Programs\\Quillmere",
};

void GenerateTempFolder(Random& r, Machine& m)
{
    const unsigned kind = r.Weighted({40, 15, 15, 5, 8, 7, 10});
    bool exists = true;
    switch (kind) {
    case 0:
        m.tempPath = "C:\\Users\\Alice\\AppData\\Local\\Temp\\";
        m.Note("temp", "plain");
        break;
    case 1:
        m.tempPath = "C:\\Documents and Settings\\Alice Smith\\Local Settings\\Temp\\";
        m.Note("temp", "blanks");
        break;
    case 2: {
        // The copy's path (temp + "suicide.exe") around 259 bytes.
        const size_t length = 244 + r.Below(9);
        m.tempPath = PaddedPath("C:\\Users\\Alice\\AppData\\Local\\Temp", length, "\\");
        m.Note("temp", "near-limit-" + std::to_string(length));
        break;
    }
    case 3: {
        const size_t length = 258 + r.Below(4);
        m.tempPath = PaddedPath("C:\\Users\\Alice\\AppData\\Local\\Temp", length, "\\");
        m.Note("temp", "over-limit-" + std::to_string(length));
        break;
    }
    case 4:
        m.tempPath = "";
        exists = false;
        m.Note("temp", "lookup-fails");
        break;
    case 5:
        m.tempPath = "C:\\Users\\Alice\\AppData\\Local\\Temp\\";
        exists = false;
        m.Note("temp", "folder-missing");
        break;
    default:
        m.tempPath = "C:\\Temp\\";
        m.Note("temp", "short");
        break;
    }
    if (!exists) {
        return;
    }
    m.tree.AddFolder(m.tempPath.substr(0, m.tempPath.size() - 1));
    const std::string stale = m.tempPath + "suicide.exe";
    switch (r.Weighted({70, 12, 6, 6, 6})) {
    case 1:
        m.tree.AddFile(stale, "copy left by an earlier run");
        m.Note("stale-copy", "file");
        break;
    case 2:
        m.tree.AddFile(stale, "copy left by an earlier run", true, false);
        m.Note("stale-copy", "read-only");
        break;
    case 3:
        m.tree.AddFile(stale, "copy left by an earlier run", false, true);
        m.Note("stale-copy", "in-use");
        break;
    case 4:
        m.tree.AddFolder(stale);
        m.Note("stale-copy", "folder");
        break;
    default:
        break;
    }
}

// A current directory for the uninstall role, as a user or a shell may start
// it: the install directory (as the list of installed programs does), the
// drive's root, the user's documents, the install directory's parent, the
// temp folder.
std::string RandomCurrentDirectory(Random& r, const Machine& m)
{
    const bool rootInstall = Resolve(m.installDir).IsRoot();
    const bool shortInstall = m.installDir.size() < 200;
    const Item* temp = m.tempPath.empty() ? nullptr : m.tree.Find(Resolve(m.tempPath));
    switch (r.Weighted({50, 15, 15, 10, 10})) {
    case 0:
        return rootInstall || !shortInstall ? "C:\\" : m.installDir;
    case 1:
        return "C:\\";
    case 2:
        return kDocuments;
    case 3:
        return rootInstall || !shortInstall ? "C:\\" : ParentText(m.installDir);
    default:
        return temp != nullptr && m.tempPath.size() < 200
                   ? m.tempPath.substr(0, m.tempPath.size() - 1)
                   : std::string(kDocuments);
    }
}

// The "Program Path" value, the install directory it is about, and the
// current directory the uninstaller is started in.
void GenerateProgramPath(Random& r, Machine& m)
{
    m.installDir = r.Pick(kInstallDirs);
    const std::string dir = m.installDir;
    std::string cwd;  // set where the variant needs one
    std::string relative;  // the value's text, for the variants that are relative
    std::string variant;
    DWORD type = REG_SZ;
    std::string bytes = WithZero(dir);
    const bool zero = r.Percent(80);
    switch (r.Weighted({10, 6, 5, 6, 4, 4, 12, 7, 9, 3, 3, 3, 3, 3, 4, 3})) {
    case 0:
        variant = "exact";
        break;
    case 1:
        variant = "no-terminator";
        bytes = dir;
        break;
    case 2:
        variant = "mixed-case";
        bytes = WithZero(RandomCase(r, dir));
        break;
    case 3: {
        const bool two = r.Percent(20);
        variant = two ? "two-trailing-backslashes" : "trailing-backslash";
        bytes = dir + (two ? "\\\\" : "\\");
        bytes = zero ? WithZero(bytes) : bytes;
        break;
    }
    case 4:
    case 5: {
        const bool withSeparator = r.Percent(50);
        variant = withSeparator ? "drive-root" : "drive-only";
        if (r.Percent(50)) {
            m.installDir = "C:\\";
            variant += "-product-at-root";
        }
        bytes = withSeparator ? "C:\\" : "C:";
        bytes = zero ? WithZero(bytes) : bytes;
        break;
    }
    case 6: {
        // Relative values, with a current directory from which most lead to
        // the product.
        switch (r.Below(7)) {
        case 0:
            variant = "relative-to-parent";
            cwd = ParentText(dir);
            relative = NameText(dir);
            break;
        case 1:
            variant = "relative-to-root";
            cwd = "C:\\";
            relative = dir.substr(3);
            break;
        case 2:
            variant = "root-relative";
            relative = dir.substr(2);
            break;
        case 3:
            variant = "drive-relative";
            cwd = ParentText(dir);
            relative = "C:" + NameText(dir);
            break;
        case 4:
            variant = "dot-dot";
            cwd = Join(ParentText(dir), "Other");
            m.tree.AddFolder(cwd);
            relative = "..\\" + NameText(dir);
            break;
        case 5:
            variant = "relative-elsewhere";
            relative = "Quillmere";
            break;
        default:
            variant = "relative-through-blanks";
            m.installDir = "C:\\Program Files\\Korrindal Tools\\Quillmere";
            cwd = "C:\\Program Files";
            relative = "Korrindal Tools\\Quillmere";
            break;
        }
        bytes = zero ? WithZero(relative) : relative;
        break;
    }
    case 7:
        switch (r.Below(6)) {
        case 0:
            variant = "dword";
            type = REG_DWORD;
            bytes = r.Percent(50) ? std::string("\x05\x00\x00\x00", 4)
                                  : std::string("C:\x00\x00", 4);  // reads as "C:"
            break;
        case 1:
            variant = "binary";
            type = REG_BINARY;
            bytes = dir;
            break;
        case 2:
            variant = "expand-sz";
            type = REG_EXPAND_SZ;
            break;
        case 3:
            variant = "multi-sz";
            type = REG_MULTI_SZ;
            bytes = WithZero(WithZero(dir) + "C:\\Other");
            bytes.push_back('\0');
            break;
        case 4:
            variant = "expand-sz-variable";
            type = REG_EXPAND_SZ;
            relative = "%ProgramFiles%\\Quillmere";
            bytes = WithZero(relative);
            break;
        default:
            variant = "none-type-empty";
            type = REG_NONE;
            bytes = "";
            break;
        }
        variant = "wrong-type-" + variant;
        break;
    case 8: {
        // Around the reader's 259 bytes and the 259 bytes of a built path.
        static const size_t lengths[] = {245, 246, 255, 256, 257, 258, 259, 260};
        const size_t length = lengths[r.Below(8)];
        m.installDir = PaddedPath("C:\\Program Files\\Korrindal", length, "\\Quillmere");
        bytes = zero ? WithZero(m.installDir) : m.installDir;
        variant = "long-" + std::to_string(bytes.size()) + (zero ? "-bytes" : "-bytes-no-terminator");
        break;
    }
    case 9:
        variant = "key-missing";
        m.settingsKey = false;
        break;
    case 10:
        variant = "value-missing";
        m.programPath = false;
        break;
    case 11:
        variant = "empty";
        bytes = zero ? std::string(1, '\0') : std::string();
        break;
    case 12:
        variant = "forward-slashes";
        std::replace(bytes.begin(), bytes.end(), '\\', '/');
        break;
    case 13:
        variant = "dots-inside";
        bytes = WithZero(Join(ParentText(dir), r.Percent(50) ? "Other\\..\\" : ".\\") + NameText(dir));
        break;
    case 14:
        switch (r.Below(3)) {
        case 0:
            variant = "other-folder-documents";
            bytes = WithZero(kDocuments);
            break;
        case 1:
            variant = "other-folder-empty";
            m.tree.AddFolder("C:\\Program Files\\Quillmere Old");
            bytes = WithZero("C:\\Program Files\\Quillmere Old");
            break;
        default:
            variant = "other-folder-missing";
            bytes = WithZero("C:\\Program Files\\Quillmere 2");
            break;
        }
        break;
    default:
        variant = "junk-after-zero";
        bytes = WithZero(dir) + "junk";
        bytes += std::string(r.Below(259 - bytes.size() + 1), 'J');
        break;
    }
    m.programPathType = type;
    m.programPathBytes = bytes;
    m.Note("value", variant);

    if (m.installDir != "C:\\") {
        m.tree.AddFolder(m.installDir);
    }
    m.currentDirectory = cwd.empty() ? RandomCurrentDirectory(r, m) : cwd;

    // An empty folder where the relative value leads from the temp folder
    // (an installer's leftover of that name, say): it is not the product's.
    if (!relative.empty() && !m.tempPath.empty() && m.tree.Find(Resolve(m.tempPath)) != nullptr &&
        r.Percent(50)) {
        const WinPath fromTemp = Resolve(relative, Resolve(m.tempPath));
        const WinPath fromCwd = Resolve(relative, Resolve(m.currentDirectory));
        if (fromTemp.valid && fromTemp != fromCwd && m.tree.AddFolder(fromTemp.Key())) {
            m.Note("bait", "empty-folder-where-value-leads-from-temp");
        }
    }
}

// The install directory's contents: the uninstaller, the listed files (some
// in other letter case, read-only or in use), names that nearly match,
// subfolders named like listed files, the user's own files, many entries.
void GenerateInstallContents(Random& r, Machine& m)
{
    const std::string dir = m.installDir == "C:\\" ? "C:" : m.installDir;
    // Mostly the installed uninstaller; sometimes a copy the user runs from
    // elsewhere, the installed one left in place or not.
    if (r.Percent(5)) {
        m.uninstaller = "C:\\Users\\Alice\\Downloads\\Uninstall.exe";
        if (r.Percent(50)) {
            m.tree.AddFile(dir + "\\Uninstall.exe", sample::UNINSTALLER_IMAGE);
        }
        m.Note("uninstaller", "run-from-elsewhere");
    } else {
        m.uninstaller = dir + "\\Uninstall.exe";
    }
    if (m.uninstaller.find(' ') == std::string::npos && r.Percent(15)) {
        m.commandLine = m.uninstaller;
        m.Note("command", "unquoted");
    } else if (r.Percent(10)) {
        m.commandLine = "\"" + m.uninstaller + "\" \t ";
        m.Note("command", "blanks-after");
    } else {
        m.commandLine = "\"" + m.uninstaller + "\"";
    }
    m.uninstallerReadOnly = r.Percent(4);
    m.uninstallerInUse = !m.uninstallerReadOnly && r.Percent(4);
    m.tree.AddFile(m.uninstaller, sample::UNINSTALLER_IMAGE, m.uninstallerReadOnly,
                   m.uninstallerInUse);
    if (m.uninstallerReadOnly) {
        m.Note("uninstaller", "read-only");
    }
    if (m.uninstallerInUse) {
        m.Note("uninstaller", "in-use");
    }

    const bool mixedCase = r.Percent(30);
    const unsigned presence = r.Percent(20) ? 40 : 85;
    unsigned readOnly = 0, inUse = 0;
    for (const char* listed : kListedFiles) {
        if (!r.Percent(presence)) {
            continue;
        }
        const bool ro = r.Percent(7);
        const bool used = !ro && r.Percent(7);
        readOnly += ro;
        inUse += used;
        m.tree.AddFile(dir + "\\" + (mixedCase ? RandomCase(r, listed) : std::string(listed)),
                       std::string("product file ") + listed, ro, used);
    }
    if (mixedCase) {
        m.Note("listed", "mixed-case");
    }
    if (readOnly > 0) {
        m.Note("listed", "read-only");
    }
    if (inUse > 0) {
        m.Note("listed", "in-use");
    }

    if (r.Percent(40)) {
        static const char kMore[] = "Xx1_~- .";
        const unsigned count = 1 + r.Below(4);
        for (unsigned i = 0; i < count; ++i) {
            std::string name = kListedFiles[r.Below(7)];
            const char extra = kMore[r.Below(sizeof kMore - 1)];
            switch (r.Below(4)) {
            case 0:
                name = std::string(1, extra == ' ' || extra == '.' ? 'X' : extra) + name;
                break;
            case 1:
                name += extra == ' ' || extra == '.' ? 'x' : extra;
                break;
            case 2:
                name.pop_back();
                break;
            default:
                name += ".bak";
                break;
            }
            m.tree.AddFile(dir + "\\" + name, "near miss");
        }
        m.Note("install", "near-misses");
    }
    if (r.Percent(15)) {
        const std::string name = RandomCase(r, kListedFiles[r.Below(7)]);
        if (m.tree.AddFolder(dir + "\\" + name)) {
            if (r.Percent(50)) {
                m.tree.AddFile(dir + "\\" + name + "\\Quillmere.exe", "inside a subfolder");
            }
            m.Note("install", "subfolder-named-like-listed");
        }
    }
    if (r.Percent(20)) {
        m.tree.AddFile(dir + "\\Help\\Quillmere.hlp", "listed name one level down");
        m.Note("install", "listed-names-in-subfolder");
    }
    if (r.Percent(35)) {
        static const std::vector<std::string> kOthers = {"Quillmere.ini", "license.txt", "notes.txt",
                                                         "Quillmere Settings.dat"};
        const unsigned count = 1 + r.Below(3);
        for (unsigned i = 0; i < count; ++i) {
            m.tree.AddFile(dir + "\\" + r.Pick(kOthers), "the user's own");
        }
        m.Note("install", "user-files");
    }
    if (r.Percent(10)) {
        const unsigned count = 20 + r.Below(61);
        for (unsigned i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, i % 5 == 0 ? "Quillmere%03u.exe" : "entry%03u.dat", i);
            m.tree.AddFile(dir + "\\" + name, "one of many");
        }
        m.Note("install", "many-entries");
    }
}

FolderState RandomFolderState(Random& r)
{
    return static_cast<FolderState>(r.Weighted({80, 7, 7, 6}));
}

void GenerateDesktop(Random& r, Machine& m)
{
    switch (r.Weighted({80, 15, 5})) {
    case 0:
        m.desktop = "C:\\Users\\Alice\\Desktop";
        break;
    case 1:
        m.desktop = "C:\\Documents and Settings\\Alice Smith\\Desktop";
        break;
    default:
        // desktop + "\Quillmere.lnk" around 259 bytes
        m.desktop = PaddedPath("C:\\Users\\Alice", 243 + r.Below(5), "\\Desktop");
        m.Note("desktop", "long-" + std::to_string(m.desktop.size()));
        break;
    }
    m.desktopState = RandomFolderState(r);
    m.Note("desktop", kFolderStateNames[m.desktopState]);
    if (m.desktopState == FOLDER_MISSING || m.desktopState == NOT_SET) {
        return;
    }
    m.tree.AddFolder(m.desktop);
    const std::string shortcut = m.desktop + "\\Quillmere.lnk";
    switch (r.Weighted({64, 6, 6, 16, 8})) {
    case 0:
        m.tree.AddFile(shortcut, "shortcut to Quillmere.exe");
        break;
    case 1:
        m.tree.AddFile(shortcut, "shortcut to Quillmere.exe", true, false);
        m.Note("shortcut", "read-only");
        break;
    case 2:
        m.tree.AddFile(shortcut, "shortcut to Quillmere.exe", false, true);
        m.Note("shortcut", "in-use");
        break;
    case 3:
        m.Note("shortcut", "missing");
        break;
    default:
        m.tree.AddFile(shortcut + "\\inside.txt", "a folder named like the shortcut");
        m.Note("shortcut", "folder");
        break;
    }
    if (r.Percent(30)) {
        m.tree.AddFile(m.desktop + "\\Quillmere.lnk.bak", "the user's");
        m.tree.AddFile(m.desktop + "\\My Quillmere.lnk", "the user's");
        m.tree.AddFile(m.desktop + "\\Quillmere", "the user's");
        m.Note("desktop", "near-misses");
    }
}

void GenerateProgramGroup(Random& r, Machine& m)
{
    switch (r.Weighted({80, 15, 5})) {
    case 0:
        m.programs = "C:\\Users\\Alice\\Start Menu\\Programs";
        break;
    case 1:
        m.programs = "C:\\Documents and Settings\\Alice Smith\\Start Menu\\Programs";
        break;
    default:
        // the group's pattern and entries around 259 bytes
        m.programs = PaddedPath("C:\\Users\\Alice", 236 + r.Below(14), "\\Programs");
        m.Note("programs", "long-" + std::to_string(m.programs.size()));
        break;
    }
    m.programsState = RandomFolderState(r);
    m.Note("programs", kFolderStateNames[m.programsState]);
    if (m.programsState == FOLDER_MISSING || m.programsState == NOT_SET) {
        return;
    }
    m.tree.AddFolder(m.programs);
    const std::string group = m.programs + "\\Quillmere";
    if (r.Percent(80)) {
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
        m.Note("group", count == 0 ? "empty" : "entries");
    } else {
        m.Note("group", "missing");
    }
    if (r.Percent(30)) {
        m.tree.AddFile(m.programs + "\\Quillmere Tools\\Tools.lnk", "another group");
        m.tree.AddFile(m.programs + "\\Quillmere.lnk", "next to the group");
        m.tree.AddFile(m.programs + "\\Accessories\\Notepad.lnk", "another group");
        m.Note("programs", "neighbours");
    }
}

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

    static const char* const kStaleNames[] = {"none", "event-set", "mutex-owned", "mutex-free"};
    m.staleObjects = static_cast<StaleObjects>(r.Weighted({91, 3, 3, 3}));
    if (m.staleObjects != NO_STALE) {
        m.Note("named-objects", kStaleNames[m.staleObjects]);
    }

    m.browserKey = r.Percent(90);
    if (!m.browserKey) {
        m.Note("browser", "key-missing");
        return;
    }
    m.browserValue = true;
    m.browserType = r.Percent(10) ? REG_EXPAND_SZ : REG_SZ;
    const std::string browser = kBrowser;
    switch (r.Weighted({35, 15, 10, 10, 5, 10, 5, 10, 5})) {
    case 0:
        m.browserBytes = WithZero("\"" + browser + "\"");
        m.Note("browser", "quoted");
        break;
    case 1:
        m.browserBytes = WithZero(browser);
        m.Note("browser", "bare");
        break;
    case 2:
        m.browserBytes = WithZero("\"" + browser + "\" -nohome");
        m.Note("browser", "with-arguments");
        break;
    case 3:
        m.browserBytes = WithZero("");
        m.Note("browser", "empty");
        break;
    case 4:
        m.browserBytes = WithZero("\"\"\"");
        m.Note("browser", "only-quotes");
        break;
    case 5:
        m.browserBytes = "\"" + browser + "\"";
        m.browserBytes += std::string(500 - m.browserBytes.size(), '"');
        m.Note("browser", "500-bytes-no-terminator");
        break;
    case 6:
        m.browserBytes = WithZero(browser + std::string(499 - browser.size(), ' '));
        m.Note("browser", "500-bytes");
        break;
    case 7:
        m.browserBytes = WithZero(browser + std::string(500 + r.Below(200), 'x'));
        m.Note("browser", "too-long");
        break;
    default:
        m.browserValue = false;
        m.Note("browser", "value-missing");
        break;
    }
}

// What a scripted answer yields, as the dialog manager and the two dialogs
// behave for the user: the confirmation has no focus when it opens (Enter
// presses its default "No") and no mnemonics; the completion dialog opens
// with the focus on "&Yes" and knows Alt+Y and Alt+N. Returns IDOK, IDCANCEL,
// or 0 when the answer leaves the dialog open.
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
        actions.push_back({mem::CLICK, IDCANCEL, 0});
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

// Each dialog's answer twice (a user whose click did not close the dialog
// clicks again; the first run of actions ends it otherwise), then Esc; and
// Esc for any dialog beyond the two.
std::vector<std::vector<A>> Script(const Machine& m)
{
    std::vector<std::vector<A>> script;
    for (const std::vector<A>* answer : {&m.confirmAnswer, &m.completedAnswer}) {
        std::vector<A> actions = *answer;
        actions.insert(actions.end(), answer->begin(), answer->end());
        actions.push_back({mem::PRESS_ESCAPE, 0, 0});
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
    mem::AddFile(std::string(kCommonDesktop) + "\\Quillmere.lnk", "all users' shortcut");
    mem::AddFile(std::string(kCommonPrograms) + "\\Quillmere\\Quillmere.lnk", "all users' group");
    mem::SetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, kCommonDesktop);
    mem::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, kCommonPrograms);
    mem::SetTempPath(m.tempPath);

    // Another program (the shell here, which never ends) holds the names.
    if (m.staleObjects == STALE_EVENT_SET) {
        g_platform->CreateEventA(0, TRUE, TRUE, "SP start self delete");
    } else if (m.staleObjects != NO_STALE) {
        g_platform->CreateMutexA(0, m.staleObjects == STALE_MUTEX_OWNED, "SP self delete mutex");
    }

    mem::ScriptDialogs(Script(m));
}

// Starts the uninstaller as the list of installed programs does (its quoted
// path) and runs it and whatever it starts to their end.
void RunMachine(const Machine& m)
{
    mem::StartProcess(m.uninstaller, m.commandLine, m.currentDirectory);
    if (!m.failOperation.empty()) {
        mem::FailCall(m.failOperation, m.failError, m.failOccurrence);
    }
    mem::RunUntilAllEnded();
}

// ============================================================================
// Oracle
// ============================================================================

// The text the "Program Path" value holds, when it can be read whole: the
// value exists, its stored bytes fit the 259 bytes a reader offers, and it is
// not empty. Its type does not matter (the bytes are taken as they are); a
// value stored without its terminating zero ends at its stored length.
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

// A full path ("X:\..."): the same folder from every current directory.
bool IsFullPath(const std::string& text)
{
    return text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

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

Legitimate LegitimateTargets(const Machine& m)
{
    Legitimate legit;
    std::string text;
    if (ProgramPathText(m, text)) {
        legit.hasInstallDir = InstallDirectory(text, m.currentDirectory, legit.installDir);
    }
    if (m.programsState != NOT_SET) {
        legit.group = Resolve(m.programs + "\\Quillmere");
        legit.hasGroup = legit.group.valid;
    }
    if (m.desktopState != NOT_SET) {
        legit.shortcut = Resolve(m.desktop + "\\Quillmere.lnk");
        legit.hasShortcut = legit.shortcut.valid;
    }
    legit.uninstaller = Resolve(m.uninstaller);
    if (!m.tempPath.empty()) {
        legit.tempCopy = Resolve(m.tempPath + "suicide.exe");
        legit.hasTempCopy = legit.tempCopy.valid;
    }
    return legit;
}

bool MayDeleteFile(const Legitimate& legit, const WinPath& path)
{
    return (legit.hasInstallDir && !path.IsRoot() && path.Parent() == legit.installDir &&
            IsListedName(path.Name())) ||
           (legit.hasGroup && !path.IsRoot() && path.Parent() == legit.group) ||
           (legit.hasShortcut && path == legit.shortcut) || path == legit.uninstaller ||
           (legit.hasTempCopy && path == legit.tempCopy);
}

bool MayRemoveFolder(const Legitimate& legit, const WinPath& path)
{
    return (legit.hasInstallDir && path == legit.installDir) ||
           (legit.hasGroup && path == legit.group);
}

// What must be gone after the run, when no call was made to fail: whatever
// of the product could be deleted on this machine.
struct Expected {
    bool declined = false;  // then nothing at all changes
    bool handOff = false;   // the cleanup role runs
    std::set<std::string> files;    // keys of files that must be gone
    std::set<std::string> folders;  // keys of folders that must be gone
    bool key = false;               // the uninstall key must be gone
};

// A file a DeleteFileA of this path (at most 259 bytes) can delete.
bool Deletable(const Item* item, size_t pathLength)
{
    return item != nullptr && !item->folder && !item->readOnly && !item->inUse &&
           pathLength <= kMaxPath - 1;
}

// Files at the top of a folder that a sweep of folderText (listing
// folderText + "\*.*", deleting folderText + "\" + name) can delete.
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
            Deletable(child, folderText.size() + 1 + name.size())) {
            files.push_back(child);
        }
    }
    return files;
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

    expected.key = m.uninstallKey && !m.uninstallKeyProtected && !m.uninstallKeySubkey;

    if (FolderLookupWorks(tree, m.desktop, m.desktopState)) {
        const std::string shortcut = m.desktop + "\\Quillmere.lnk";
        if (Deletable(tree.Find(legit.shortcut), shortcut.size())) {
            expected.files.insert(legit.shortcut.Key());
        }
    }

    if (FolderLookupWorks(tree, m.programs, m.programsState)) {
        const std::string group = m.programs + "\\Quillmere";
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
    // both paths fit in 259 bytes.
    const std::string copy = m.tempPath + "suicide.exe";
    const Item* stale = legit.hasTempCopy ? tree.Find(legit.tempCopy) : nullptr;
    expected.handOff = m.uninstaller.size() <= kMaxPath - 1 && !m.tempPath.empty() &&
                       copy.size() <= kMaxPath - 1 && tree.IsFolder(Resolve(m.tempPath)) &&
                       (stale == nullptr || (!stale->folder && !stale->readOnly && !stale->inUse));
    if (!expected.handOff) {
        return expected;
    }
    // The copy carries the uninstaller's read-only attribute, and a
    // read-only file cannot be opened for deletion on close.
    if (!m.uninstallerReadOnly) {
        expected.files.insert(legit.tempCopy.Key());
    }
    // With a free mutex of that name held elsewhere the copy does not wait
    // for the uninstaller's end: its delete of the running file fails.
    if (!m.uninstallerReadOnly && !m.uninstallerInUse && m.staleObjects != STALE_MUTEX_FREE) {
        expected.files.insert(legit.uninstaller.Key());
    }
    if (legit.hasInstallDir && fullPath && !legit.installDir.IsRoot() &&
        tree.IsFolder(legit.installDir) && EmptyAfter(tree, legit.installDir, expected.files)) {
        expected.folders.insert(legit.installDir.Key());
    }
    return expected;
}

// ============================================================================
// Checks
// ============================================================================

struct LogLine {
    DWORD pid = 0;
    std::string operation;
    std::string args;
    std::string result;
    bool injected = false;
};

LogLine ParseCall(const std::string& line)
{
    LogLine call;
    const size_t space = line.find(' ');
    const size_t open = line.find('(');
    const size_t arrow = line.rfind(") -> ");
    if (space == std::string::npos || open == std::string::npos || arrow == std::string::npos) {
        return call;
    }
    call.pid = static_cast<DWORD>(std::strtoul(line.c_str(), nullptr, 10));
    call.operation = line.substr(space + 1, open - space - 1);
    call.args = line.substr(open + 1, arrow - open - 1);
    call.result = line.substr(arrow + 5);
    call.injected = call.result.find("[injected error") != std::string::npos;
    return call;
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

// What an injected failure excuses. Failures whose effect is one path are
// followed precisely: a failed delete leaves that file (and so its folder),
// a failed search leaves its folder's files and the folder, a failed folder
// lookup leaves what lies in that folder. The calls whose failure changes
// nothing that is checked excuse nothing. After any other failure (the
// hand-off, the registry reads, the dialogs, the strings) completeness is
// not checked on that machine, only safety.
struct Excuses {
    bool any = false;        // a call was made to fail
    bool unscoped = false;   // completeness not checked
    std::set<std::string> keys;
    bool key = false;
    std::string what;
};

Excuses InjectedFailures(const Machine& m, const Legitimate& legit)
{
    Excuses excuses;
    const std::vector<std::string> log = mem::CallLog();
    std::map<DWORD, WinPath> cwdOf;
    for (const mem::ProcessRecord& process : mem::Processes()) {
        cwdOf[process.id] = Resolve(process.currentDirectory);
    }
    auto excuseFolder = [&](const WinPath& folder) {
        excuses.keys.insert(folder.Key());
        for (const Item* child : m.tree.Children(folder)) {
            excuses.keys.insert(child->key);
        }
    };
    for (const std::string& line : log) {
        const LogLine call = ParseCall(line);
        if (!call.injected) {
            continue;
        }
        excuses.any = true;
        excuses.what = line;
        const std::string& op = call.operation;
        if (op == "RestrictDllSearchToSystem" || op == "IsDBCSLeadByte" || op == "FindClose" ||
            op == "RegCloseKey" || op == "WinExec") {
            continue;
        }
        if (op == "DeleteFileA") {
            const WinPath path = Resolve(Unquote(call.args), cwdOf[call.pid]);
            excuses.keys.insert(path.Key());
            excuses.keys.insert(path.Parent().Key());
        } else if (op == "RemoveDirectoryA") {
            excuses.keys.insert(Resolve(Unquote(call.args), cwdOf[call.pid]).Key());
        } else if (op == "FindFirstFileA") {
            excuseFolder(PatternFolder(Unquote(call.args), cwdOf[call.pid]));
        } else if (op == "FindNextFileA") {
            // The search that handle belongs to.
            for (const std::string& earlier : log) {
                const LogLine first = ParseCall(earlier);
                if (first.operation == "FindFirstFileA" && first.pid == call.pid &&
                    first.result.compare(0, call.args.size() + 1, call.args + " ") == 0) {
                    excuseFolder(PatternFolder(Unquote(first.args), cwdOf[call.pid]));
                }
            }
        } else if (op == "RegDeleteKeyA") {
            excuses.key = true;
        } else if (op == "SHGetSpecialFolderPathA") {
            const unsigned long csidl = std::strtoul(call.args.c_str(), nullptr, 16);
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
    for (const std::string& change : mem::Changes()) {
        const size_t space = change.find(' ');
        const size_t space2 = change.find(' ', space + 1);
        const std::string what = change.substr(space + 1, space2 - space - 1);
        const std::string target = change.substr(space2 + 1);
        bool allowed = false;
        if (what == "FileDeleted") {
            allowed = MayDeleteFile(legit, Resolve(target));
        } else if (what == "FolderRemoved") {
            allowed = MayRemoveFolder(legit, Resolve(target));
        } else if (what == "KeyDeleted") {
            allowed = UpperAscii(target) == UpperAscii(std::string("HKLM\\") + kUninstallKey);
        } else if (what == "FileWritten") {
            allowed = legit.hasTempCopy && Resolve(target) == legit.tempCopy;
        }
        if (!allowed) {
            problems.push_back("unsafe: " + change);
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

// How a machine's completeness was judged, for the summary.
enum Judged { JUDGED_WHOLE, JUDGED_EXCUSED, NOT_JUDGED };

Judged CheckCompleteness(const Expected& expected, const Excuses& excuses,
                         std::vector<std::string>& problems)
{
    if (excuses.unscoped) {
        return NOT_JUDGED;
    }
    if (expected.declined) {
        const std::vector<std::string> changes = mem::Changes();
        if (!changes.empty()) {
            problems.push_back("declined, yet changed: " + changes.front());
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
    return excuses.any ? JUDGED_EXCUSED : JUDGED_WHOLE;
}

// ============================================================================
// Driver
// ============================================================================

std::string Printable(const std::string& bytes, size_t keep = 48)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (out.size() > 2 * keep + 5) {
        out = out.substr(0, keep) + "[...]" + out.substr(out.size() - keep);
    }
    return out;
}

std::string ActionsText(const std::vector<A>& actions)
{
    std::string text;
    for (const A& a : actions) {
        text += text.empty() ? "" : ",";
        switch (a.kind) {
        case mem::PRESS_ENTER: text += "enter"; break;
        case mem::PRESS_ESCAPE: text += "esc"; break;
        case mem::CLOSE_BOX: text += "close"; break;
        case mem::PRESS_TAB: text += "tab"; break;
        case mem::CLICK: text += "click" + std::to_string(a.controlId); break;
        case mem::ALT_KEY: text += std::string("alt-") + a.letter; break;
        }
    }
    return text;
}

// A failure's class: its first problem without the paths, with the
// machine's value variant and the call made to fail.
std::string FailureClass(const Machine& m, const std::string& problem)
{
    std::string what = problem.substr(0, problem.find(":\\") == std::string::npos
                                             ? problem.size()
                                             : problem.find(":\\") - 1);
    for (const std::string& note : m.notes) {
        if (note.compare(0, 6, "value=") == 0 || note.compare(0, 5, "fail=") == 0) {
            what += " " + note;
        }
    }
    return what;
}

// The machine on one line.
std::string Describe(const Machine& m)
{
    std::ostringstream out;
    out << "seed " << m.seed << ":";
    for (const std::string& note : m.notes) {
        out << " " << note;
    }
    out << " | Program Path " << (m.settingsKey ? (m.programPath ? "" : "(no value) ") : "(no key) ")
        << "type " << m.programPathType << " " << m.programPathBytes.size() << " bytes \""
        << Printable(m.programPathBytes) << "\" | product in " << m.installDir
        << " | started as " << m.commandLine << " in " << m.currentDirectory << " | temp \"" << Printable(m.tempPath)
        << "\" | desktop " << kFolderStateNames[m.desktopState] << " " << m.desktop
        << " | programs " << kFolderStateNames[m.programsState] << " " << m.programs
        << " | confirm [" << ActionsText(m.confirmAnswer) << "] completed ["
        << ActionsText(m.completedAnswer) << "]";
    if (!m.failOperation.empty()) {
        out << " | fail " << m.failOperation << " #" << m.failOccurrence << " error " << m.failError;
    }
    return out.str();
}

std::string TestProgram()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string("unit_tests");
}

std::string RerunCommand(uint64_t seed)
{
    return "GENERATED_MACHINES_SEED=" + std::to_string(seed) + " GENERATED_MACHINES_COUNT=1 " +
           TestProgram() + " --gtest_filter='GeneratedMachines*'";
}

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    return end != nullptr && *end == '\0' ? value : fallback;
}

// The model's own faults (a deadlock, a dialog left open) become problems of
// the machine that met them, for the time of a run.
class ModelFaults {
public:
    ModelFaults()
    {
        mem::SetFailureReporter([this](const std::string& message) { faults_.push_back(message); });
    }
    ~ModelFaults()
    {
        mem::SetFailureReporter([](const std::string& message) { ADD_FAILURE() << message; });
    }
    std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(faults_);
        return taken;
    }

private:
    std::vector<std::string> faults_;
};

struct Outcome {
    std::vector<std::string> problems;
    Judged judged = NOT_JUDGED;
    bool handOff = false;
    bool removedSomething = false;
    bool injected = false;
};

// Generates, lays and runs one machine and checks it.
Outcome RunAndCheck(const Machine& m, ModelFaults& faults)
{
    Outcome outcome;
    LayMachine(m);
    RunMachine(m);
    const Legitimate legit = LegitimateTargets(m);
    const Expected expected = ExpectedRemovals(m, legit);
    const Excuses excuses = InjectedFailures(m, legit);
    CheckSafety(m, legit, outcome.problems);
    outcome.judged = CheckCompleteness(expected, excuses, outcome.problems);
    for (const std::string& fault : faults.Take()) {
        outcome.problems.push_back("model fault: " + fault.substr(0, fault.find('\n')));
    }
    if (excuses.any && !outcome.problems.empty()) {
        outcome.problems.push_back("(the call made to fail: " + excuses.what + ")");
    }
    outcome.handOff = expected.handOff && !expected.declined;
    outcome.removedSomething = !mem::Changes().empty();
    outcome.injected = excuses.any;
    return outcome;
}

class GeneratedMachinesTest : public ::testing::Test {};

TEST_F(GeneratedMachinesTest, RemoveOnlyTheProductAndAllOfItThatCanGo)
{
    const uint64_t start = EnvNumber("GENERATED_MACHINES_SEED", kDefaultStartSeed);
    const uint64_t count = EnvNumber("GENERATED_MACHINES_COUNT", kDefaultCount);
    std::printf("[ generated ] %llu machines from seed %llu%s\n",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(start),
                std::getenv("GENERATED_MACHINES_SEED") == nullptr ? " (the fixed default)" : "");

    const auto began = std::chrono::steady_clock::now();
    std::map<std::string, unsigned> seen;
    std::map<std::string, std::pair<unsigned, uint64_t>> classes;  // count, first seed
    unsigned failed = 0, whole = 0, excused = 0, handOffs = 0, removing = 0, injected = 0;
    {
        ModelFaults faults;
        for (uint64_t i = 0; i < count; ++i) {
            const Machine m = GenerateMachine(start + i);
            const Outcome outcome = RunAndCheck(m, faults);
            for (const std::string& note : m.notes) {
                ++seen[note.substr(0, note.find('-', note.find('=')))];
            }
            whole += outcome.judged == JUDGED_WHOLE;
            excused += outcome.judged == JUDGED_EXCUSED;
            handOffs += outcome.handOff;
            removing += outcome.removedSomething;
            injected += outcome.injected;
            if (outcome.problems.empty()) {
                continue;
            }
            ++failed;
            std::pair<unsigned, uint64_t>& cls = classes[FailureClass(m, outcome.problems.front())];
            cls.second = cls.first++ == 0 ? m.seed : cls.second;
            std::ostringstream message;
            message << "machine " << Describe(m) << "\n";
            for (const std::string& problem : outcome.problems) {
                message << "  " << problem << "\n";
            }
            message << "rerun: " << RerunCommand(m.seed) << "\n";
            if (failed <= 3) {
                message << mem::Dump();
            }
            if (count == 1) {  // a rerun: every call, not only the dump's last ones
                message << "all calls:\n";
                for (const std::string& call : mem::CallLog()) {
                    message << "  " << call << "\n";
                }
            }
            if (failed <= 25) {
                ADD_FAILURE() << message.str();
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("[ generated ] %u failed; completeness judged on %u whole and %u with an excused "
                "failure; %u with a call made to fail; %u changed something; %u handed off; "
                "%.1f s\n",
                failed, whole, excused, injected, removing, handOffs, seconds);
    for (const auto& cls : classes) {
        std::printf("[ generated ] %5u failed: %s (first seed %llu)\n", cls.second.first,
                    cls.first.c_str(), static_cast<unsigned long long>(cls.second.second));
    }
    EXPECT_EQ(failed, 0u) << "first failing machines above; each reruns alone with its command";

    // The generator must give the variety it promises, or the checks above
    // prove little. Only a run long enough to meet every variant can tell.
    if (count >= 2000) {
        for (const char* variant :
             {"value=exact", "value=no", "value=mixed", "value=trailing", "value=two",
              "value=drive", "value=relative", "value=root", "value=dot", "value=wrong",
              "value=long", "value=key", "value=empty", "value=forward", "value=dots",
              "value=other", "value=junk", "bait=empty", "temp=blanks", "temp=near",
              "temp=over", "temp=lookup", "stale-copy=in", "confirm=no", "confirm=yes",
              "completed=yes", "completed=no", "browser=500", "browser=too", "fail=lstrcatA",
              "fail=DeleteFileA", "listed=in", "listed=read", "install=many", "install=near",
              "install=subfolder", "group=subfolder", "desktop=lookup", "programs=missing",
              "shortcut=folder", "uninstaller=run", "command=unquoted", "command=blanks",
              "named-objects=mutex", "unrelated=files"}) {
            EXPECT_GT(seen[variant], 0u) << "no machine had " << variant;
        }
        EXPECT_GT(whole, count / 4) << "too few machines judged for completeness";
        EXPECT_GT(handOffs, count / 4) << "too few machines handed off";
        EXPECT_GT(removing, count / 2) << "too few machines changed anything";
    }
}

// The oracle's reading of odd "Program Path" values, pinned: the value is a
// folder to which "\" and a name are appended.
TEST_F(GeneratedMachinesTest, OracleTakesTheValueAsTheFolderNamesAreAppendedTo)
{
    struct Case {
        const char* value;
        const char* currentDirectory;
        const char* installDir;  // "" when the value names no folder
    } cases[] = {
        {"C:\\Program Files\\Quillmere", kDocuments, "C:\\PROGRAM FILES\\QUILLMERE"},
        {"C:\\Program Files\\Quillmere\\", kDocuments, "C:\\PROGRAM FILES\\QUILLMERE"},
        {"c:/program files//QUILLMERE/", kDocuments, "C:\\PROGRAM FILES\\QUILLMERE"},
        {"C:\\Program Files\\Korrindal Tools\\Quillmere", kDocuments,
         "C:\\PROGRAM FILES\\KORRINDAL TOOLS\\QUILLMERE"},
        {"C:", kDocuments, "C:\\"},  // the root, written without its separator
        {"C:\\", kDocuments, "C:\\"},
        {"Quillmere", "C:\\Program Files", "C:\\PROGRAM FILES\\QUILLMERE"},
        {"C:Quillmere", "C:\\Program Files", "C:\\PROGRAM FILES\\QUILLMERE"},
        {"\\Quillmere", "C:\\Program Files", "C:\\QUILLMERE"},
        {"..\\Quillmere", "C:\\Program Files\\Other", "C:\\PROGRAM FILES\\QUILLMERE"},
        {"\\", kDocuments, ""},  // "\\" once a name is appended: a network path
        {"\x05", kDocuments, ""},
        {"C:\\Quill|mere", kDocuments, ""},
    };
    for (const Case& c : cases) {
        WinPath dir;
        const bool named = InstallDirectory(c.value, c.currentDirectory, dir);
        EXPECT_EQ(named ? dir.Key() : std::string(), c.installDir) << Printable(c.value);
    }

    Machine m;
    std::string text;
    m.programPathBytes = WithZero(std::string(258, 'q'));
    EXPECT_TRUE(ProgramPathText(m, text)) << "259 bytes are read";
    m.programPathBytes = std::string(259, 'q');
    EXPECT_TRUE(ProgramPathText(m, text) && text.size() == 259) << "no terminator";
    m.programPathBytes = WithZero(std::string(259, 'q'));
    EXPECT_FALSE(ProgramPathText(m, text)) << "260 bytes do not fit the reader";
    m.programPathBytes = WithZero("C:\\Quillmere") + "junk";
    EXPECT_TRUE(ProgramPathText(m, text) && text == "C:\\Quillmere") << "ends at its zero";
    m.programPathBytes = WithZero("");
    EXPECT_FALSE(ProgramPathText(m, text)) << "empty";
}

TEST_F(GeneratedMachinesTest, SameSeedGivesTheSameMachine)
{
    EXPECT_EQ(Describe(GenerateMachine(kDefaultStartSeed + 7)),
              Describe(GenerateMachine(kDefaultStartSeed + 7)));
    EXPECT_NE(Describe(GenerateMachine(kDefaultStartSeed + 7)),
              Describe(GenerateMachine(kDefaultStartSeed + 8)));
}

// The checks themselves can fail: on a machine that passes, a deletion and
// a write outside the product are reported unsafe, and a product file put
// back is reported left over.
TEST_F(GeneratedMachinesTest, ChecksReportAStrayDeletionAStrayWriteAndALeftover)
{
    ModelFaults faults;
    for (uint64_t seed = kDefaultStartSeed;; ++seed) {
        const Machine m = GenerateMachine(seed);
        const Legitimate legit = LegitimateTargets(m);
        const Expected expected = ExpectedRemovals(m, legit);
        if (!m.failOperation.empty() || expected.declined || expected.folders.empty() ||
            expected.files.size() < 3) {
            continue;
        }
        ASSERT_TRUE(RunAndCheck(m, faults).problems.empty()) << Describe(m) << mem::Dump();

        const std::string letter = std::string(kDocuments) + "\\letter.doc";
        ASSERT_TRUE(g_platform->DeleteFileA(letter.c_str()));
        ASSERT_TRUE(g_platform->CopyFileA(kBrowser, "C:\\Users\\Alice\\browser.exe", TRUE));
        const std::string leftover = *expected.files.begin();
        mem::AddFile(leftover, "put back");

        std::vector<std::string> problems;
        CheckSafety(m, legit, problems);
        CheckCompleteness(expected, InjectedFailures(m, legit), problems);
        std::string all;
        for (const std::string& problem : problems) {
            all += problem + "\n";
        }
        EXPECT_NE(all.find("unsafe: 1 FileDeleted " + letter), std::string::npos) << all;
        EXPECT_NE(all.find("unsafe: not the product's, but gone: " + letter), std::string::npos) << all;
        EXPECT_NE(all.find("unsafe: 1 FileWritten C:\\Users\\Alice\\browser.exe"), std::string::npos)
            << all;
        EXPECT_NE(all.find("incomplete: could be deleted, still there: " + leftover), std::string::npos)
            << all;
        EXPECT_EQ(problems.size(), 4u) << all;
        return;
    }
}

}  // namespace
