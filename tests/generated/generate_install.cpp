// Generated machines, the generator's product: the temp folder (and a copy
// an earlier run left there), the "Program Path" value with the install
// directory it is about and the current directory the uninstaller starts in,
// and the install directory's contents.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/generated/generated_machines.h"
#include "tests/support/sample_machine.h"

namespace generated {

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

namespace {

const std::vector<std::string> kInstallDirs = {
    "C:\\Program Files\\Quillmere",
    "C:\\Program Files\\Korrindal Tools\\Quillmere",
    "C:\\Quillmere",
    "C:\\Users\\Alice\\AppData\\Local\\Programs\\Quillmere",
};

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

}  // namespace

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

}  // namespace generated
