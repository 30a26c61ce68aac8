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

// ---- the temp folder -------------------------------------------------------

struct TempDraft {
    Machine& m;
    std::string note;
    bool exists = true;
};

std::string PaddedTemp(Random& r, TempDraft& d, size_t shortest, unsigned spread)
{
    const size_t length = shortest + r.Below(spread);
    d.note += "-" + std::to_string(length);
    return PaddedPath("C:\\Users\\Alice\\AppData\\Local\\Temp", length, "\\");
}

const VariantTable<TempDraft> kTempFolders = {
    {40, "plain", [](Random&, TempDraft& d) { d.m.tempPath = "C:\\Users\\Alice\\AppData\\Local\\Temp\\"; }},
    {15, "blanks",
     [](Random&, TempDraft& d) {
         d.m.tempPath = "C:\\Documents and Settings\\Alice Smith\\Local Settings\\Temp\\";
     }},
    // The copy's path (temp + "suicide.exe") around 259 bytes.
    {15, "near-limit", [](Random& r, TempDraft& d) { d.m.tempPath = PaddedTemp(r, d, 244, 9); }},
    {5, "over-limit", [](Random& r, TempDraft& d) { d.m.tempPath = PaddedTemp(r, d, 258, 4); }},
    {8, "lookup-fails",
     [](Random&, TempDraft& d) {
         d.m.tempPath = "";
         d.exists = false;
     }},
    {7, "folder-missing",
     [](Random&, TempDraft& d) {
         d.m.tempPath = "C:\\Users\\Alice\\AppData\\Local\\Temp\\";
         d.exists = false;
     }},
    {10, "short", [](Random&, TempDraft& d) { d.m.tempPath = "C:\\Temp\\"; }},
};

// A "suicide.exe" an earlier run left in the temp folder.
const char kStaleCopy[] = "copy left by an earlier run";
const VariantTable<MachineDraft> kStaleCopies = {
    {73, "", nullptr},
    {12, "file", [](Random&, MachineDraft& d) { d.m.tree.AddFile(d.m.tempPath + "suicide.exe", kStaleCopy); }},
    {3, "read-only",
     [](Random&, MachineDraft& d) { d.m.tree.AddFile(d.m.tempPath + "suicide.exe", kStaleCopy, true, false); }},
    {6, "in-use",
     [](Random&, MachineDraft& d) { d.m.tree.AddFile(d.m.tempPath + "suicide.exe", kStaleCopy, false, true); }},
    {6, "folder", [](Random&, MachineDraft& d) { d.m.tree.AddFolder(d.m.tempPath + "suicide.exe"); }},
};

// ---- the "Program Path" value ----------------------------------------------

struct ValueDraft {
    Machine& m;
    std::string note;
    bool zero;             // stored with its terminating zero, where the row allows either
    std::string dir;       // the install directory first drawn
    std::string cwd;       // set where the row needs one
    std::string relative;  // the value's text, for the rows that are relative
    DWORD type = REG_SZ;
    std::string bytes;
};

std::string Zeroed(const ValueDraft& d, const std::string& text)
{
    return d.zero ? WithZero(text) : text;
}

const VariantTable<ValueDraft> kTrailingSeparators = {
    {20, "two-trailing-backslashes", [](Random&, ValueDraft& d) { d.bytes = Zeroed(d, d.dir + "\\\\"); }},
    {80, "trailing-backslash", [](Random&, ValueDraft& d) { d.bytes = Zeroed(d, d.dir + "\\"); }},
};

const VariantTable<ValueDraft> kDriveValues = {
    {50, "drive-root", [](Random&, ValueDraft& d) { d.bytes = "C:\\"; }},
    {50, "drive-only", [](Random&, ValueDraft& d) { d.bytes = "C:"; }},
};

// Relative values, with a current directory from which most lead to the
// product.
const VariantTable<ValueDraft> kRelativeValues = {
    {1, "relative-to-parent",
     [](Random&, ValueDraft& d) {
         d.cwd = ParentText(d.dir);
         d.relative = NameText(d.dir);
     }},
    {1, "relative-to-root",
     [](Random&, ValueDraft& d) {
         d.cwd = "C:\\";
         d.relative = d.dir.substr(3);
     }},
    {1, "root-relative", [](Random&, ValueDraft& d) { d.relative = d.dir.substr(2); }},
    {1, "drive-relative",
     [](Random&, ValueDraft& d) {
         d.cwd = ParentText(d.dir);
         d.relative = "C:" + NameText(d.dir);
     }},
    {1, "dot-dot",
     [](Random&, ValueDraft& d) {
         d.cwd = Join(ParentText(d.dir), "Other");
         d.m.tree.AddFolder(d.cwd);
         d.relative = "..\\" + NameText(d.dir);
     }},
    {1, "relative-elsewhere", [](Random&, ValueDraft& d) { d.relative = "Quillmere"; }},
    {1, "relative-through-blanks",
     [](Random&, ValueDraft& d) {
         d.m.installDir = "C:\\Program Files\\Korrindal Tools\\Quillmere";
         d.cwd = "C:\\Program Files";
         d.relative = "Korrindal Tools\\Quillmere";
     }},
};

const VariantTable<ValueDraft> kWrongTypes = {
    {1, "wrong-type-dword",
     [](Random& r, ValueDraft& d) {
         d.type = REG_DWORD;
         d.bytes = r.Percent(50) ? std::string("\x05\x00\x00\x00", 4)
                                 : std::string("C:\x00\x00", 4);  // reads as "C:"
     }},
    {1, "wrong-type-binary",
     [](Random&, ValueDraft& d) {
         d.type = REG_BINARY;
         d.bytes = d.dir;
     }},
    {1, "wrong-type-expand-sz", [](Random&, ValueDraft& d) { d.type = REG_EXPAND_SZ; }},
    {1, "wrong-type-multi-sz",
     [](Random&, ValueDraft& d) {
         d.type = REG_MULTI_SZ;
         d.bytes = WithZero(WithZero(d.dir) + "C:\\Other");
         d.bytes.push_back('\0');
     }},
    {1, "wrong-type-expand-sz-variable",
     [](Random&, ValueDraft& d) {
         d.type = REG_EXPAND_SZ;
         d.relative = "%ProgramFiles%\\Quillmere";
         d.bytes = WithZero(d.relative);
     }},
    {1, "wrong-type-none-type-empty",
     [](Random&, ValueDraft& d) {
         d.type = REG_NONE;
         d.bytes = "";
     }},
};

const VariantTable<ValueDraft> kOtherFolders = {
    {1, "other-folder-documents", [](Random&, ValueDraft& d) { d.bytes = WithZero(kDocuments); }},
    {1, "other-folder-empty",
     [](Random&, ValueDraft& d) {
         d.m.tree.AddFolder("C:\\Program Files\\Quillmere Old");
         d.bytes = WithZero("C:\\Program Files\\Quillmere Old");
     }},
    {1, "other-folder-missing",
     [](Random&, ValueDraft& d) { d.bytes = WithZero("C:\\Program Files\\Quillmere 2"); }},
};

// The value's ways. A row named "" draws from a finer table, whose row names
// the value. Most machines hold the value as an installer writes it: only a
// value naming the install directory lets anything go, the shortcuts staying
// with an unfinished removal.
const VariantTable<ValueDraft> kValues = {
    {60, "exact", nullptr},
    {36, "no-terminator", [](Random&, ValueDraft& d) { d.bytes = d.dir; }},
    {30, "mixed-case", [](Random& r, ValueDraft& d) { d.bytes = WithZero(RandomCase(r, d.dir)); }},
    {36, "", [](Random& r, ValueDraft& d) { Draw(r, kTrailingSeparators, d); }},
    {8, "",
     [](Random& r, ValueDraft& d) {
         Draw(r, kDriveValues, d);
         if (r.Percent(50)) {
             d.m.installDir = "C:\\";
             d.note += "-product-at-root";
         }
         d.bytes = Zeroed(d, d.bytes);
     }},
    {12, "",
     [](Random& r, ValueDraft& d) {
         Draw(r, kRelativeValues, d);
         d.bytes = Zeroed(d, d.relative);
     }},
    {7, "", [](Random& r, ValueDraft& d) { Draw(r, kWrongTypes, d); }},
    // Around the reader's 259 bytes and the 259 bytes of a built path.
    {9, "long",
     [](Random& r, ValueDraft& d) {
         static const size_t lengths[] = {245, 246, 255, 256, 257, 258, 259, 260};
         const size_t length = lengths[r.Below(8)];
         d.m.installDir = PaddedPath("C:\\Program Files\\Korrindal", length, "\\Quillmere");
         d.bytes = Zeroed(d, d.m.installDir);
         d.note += "-" + std::to_string(d.bytes.size()) + (d.zero ? "-bytes" : "-bytes-no-terminator");
     }},
    {3, "key-missing", [](Random&, ValueDraft& d) { d.m.settingsKey = false; }},
    {3, "value-missing", [](Random&, ValueDraft& d) { d.m.programPath = false; }},
    {3, "empty", [](Random&, ValueDraft& d) { d.bytes = d.zero ? std::string(1, '\0') : std::string(); }},
    {3, "forward-slashes",
     [](Random&, ValueDraft& d) { std::replace(d.bytes.begin(), d.bytes.end(), '\\', '/'); }},
    {3, "dots-inside",
     [](Random& r, ValueDraft& d) {
         d.bytes = WithZero(Join(ParentText(d.dir), r.Percent(50) ? "Other\\..\\" : ".\\") +
                            NameText(d.dir));
     }},
    {4, "", [](Random& r, ValueDraft& d) { Draw(r, kOtherFolders, d); }},
    {3, "junk-after-zero",
     [](Random& r, ValueDraft& d) {
         d.bytes = WithZero(d.dir) + "junk";
         d.bytes += std::string(r.Below(259 - d.bytes.size() + 1), 'J');
     }},
};

}  // namespace

void GenerateTempFolder(Random& r, Machine& m)
{
    TempDraft temp{m, "", true};
    DrawAndNote(r, "temp", kTempFolders, temp, m);
    if (!temp.exists) {
        return;
    }
    m.tree.AddFolder(m.tempPath.substr(0, m.tempPath.size() - 1));
    MachineDraft stale{m, ""};
    DrawAndNote(r, "stale-copy", kStaleCopies, stale, m);
}

// The "Program Path" value, the install directory it is about, and the
// current directory the uninstaller is started in.
void GenerateProgramPath(Random& r, Machine& m)
{
    m.installDir = r.Pick(kInstallDirs);
    ValueDraft value{m, "", false, m.installDir, "", "", REG_SZ, WithZero(m.installDir)};
    value.zero = r.Percent(80);
    DrawAndNote(r, "value", kValues, value, m);
    m.programPathType = value.type;
    m.programPathBytes = value.bytes;

    if (m.installDir != "C:\\") {
        m.tree.AddFolder(m.installDir);
    }
    m.currentDirectory = value.cwd.empty() ? RandomCurrentDirectory(r, m) : value.cwd;

    // An empty folder where the relative value leads from the temp folder
    // (an installer's leftover of that name, say): it is not the product's.
    const std::string& relative = value.relative;
    if (!relative.empty() && !m.tempPath.empty() && m.tree.Find(Resolve(m.tempPath)) != nullptr &&
        r.Percent(50)) {
        const WinPath fromTemp = Resolve(relative, Resolve(m.tempPath));
        const WinPath fromCwd = Resolve(relative, Resolve(m.currentDirectory));
        if (fromTemp.valid && fromTemp != fromCwd && m.tree.AddFolder(fromTemp.Key())) {
            m.Note("bait", "empty-folder-where-value-leads-from-temp");
        }
    }
}

namespace {

struct InstallDraft {
    Machine& m;
    std::string note;
    std::string dir;  // the install directory as file paths start with it
};

// What else the install directory may hold, each drawn on its own (the
// weight a percentage).
const VariantTable<InstallDraft> kInstallExtras = {
    {40, "near-misses",
     [](Random& r, InstallDraft& d) {
         static const char kMore[] = "Xx1_~- .";
         const unsigned count = 1 + r.Below(4);
         for (unsigned i = 0; i < count; ++i) {
             std::string name = kProductFiles[r.Below(7)];
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
             d.m.tree.AddFile(d.dir + "\\" + name, "near miss");
         }
     }},
    {15, "subfolder-named-like-listed",
     [](Random& r, InstallDraft& d) {
         const std::string name = RandomCase(r, kProductFiles[r.Below(7)]);
         if (!d.m.tree.AddFolder(d.dir + "\\" + name)) {
             d.note.clear();
             return;
         }
         if (r.Percent(50)) {
             d.m.tree.AddFile(d.dir + "\\" + name + "\\Quillmere.exe", "inside a subfolder");
         }
     }},
    {20, "listed-names-in-subfolder",
     [](Random&, InstallDraft& d) {
         d.m.tree.AddFile(d.dir + "\\Help\\Quillmere.hlp", "listed name one level down");
     }},
    {35, "user-files",
     [](Random& r, InstallDraft& d) {
         static const std::vector<std::string> kOthers = {"Quillmere.ini", "license.txt", "notes.txt",
                                                          "Quillmere Settings.dat"};
         const unsigned count = 1 + r.Below(3);
         for (unsigned i = 0; i < count; ++i) {
             d.m.tree.AddFile(d.dir + "\\" + r.Pick(kOthers), "the user's own");
         }
     }},
    {10, "many-entries",
     [](Random& r, InstallDraft& d) {
         const unsigned count = 20 + r.Below(61);
         for (unsigned i = 0; i < count; ++i) {
             char name[32];
             std::snprintf(name, sizeof name, i % 5 == 0 ? "Quillmere%03u.exe" : "entry%03u.dat", i);
             d.m.tree.AddFile(d.dir + "\\" + name, "one of many");
         }
     }},
};

// Notes that name an outcome of several draws rather than one row.
const char* const kInstallOutcomes[] = {
    "bait=empty-folder-where-value-leads-from-temp",
    "uninstaller=run-from-elsewhere",
    "uninstaller=read-only",
    "uninstaller=in-use",
    "command=unquoted",
    "command=blanks-after",
    "listed=mixed-case",
    "listed=read-only",
    "listed=in-use",
    "listed=read-only-in-use",
};

}  // namespace

void PromiseInstallNotes(std::vector<std::string>& out)
{
    Promise("temp", kTempFolders, out);
    Promise("stale-copy", kStaleCopies, out);
    for (const VariantTable<ValueDraft>* table :
         {&kValues, &kTrailingSeparators, &kDriveValues, &kRelativeValues, &kWrongTypes, &kOtherFolders}) {
        Promise("value", *table, out);
    }
    Promise("install", kInstallExtras, out);
    out.insert(out.end(), std::begin(kInstallOutcomes), std::end(kInstallOutcomes));
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
    unsigned readOnly = 0, inUse = 0, both = 0;
    for (const char* listed : kProductFiles) {
        if (!r.Percent(presence)) {
            continue;
        }
        // Read-only goes; in use is rare: one such file keeps the removal
        // from finishing (and one both keeps its bit).
        const bool ro = r.Percent(7);
        const bool used = r.Percent(3);
        readOnly += ro;
        inUse += used;
        both += ro && used;
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
    if (both > 0) {
        m.Note("listed", "read-only-in-use");
    }

    InstallDraft extras{m, "", dir};
    DrawEach(r, "install", kInstallExtras, extras, m);
}

}  // namespace generated
