// Runs the program-file sweep once on the in-memory platform, over an install
// directory holding the product's files, the uninstaller and N unrelated
// files, for counting its instructions under callgrind.
//
// Usage: sweep_driver N
//
// Prints "entries E": how many directory entries the sweep's search
// delivered ("." and ".." included). Exits non-zero when the sweep did not do
// its job (a listed file left, another file gone), so a broken sweep is never
// timed as a fast one.
//
// Callgrind is meant to collect only inside RemoveProgramFiles
// (--toggle-collect), so that seeding the model and checking it afterwards
// are not counted.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/constants.h"
#include "platform/memory_platform.h"
#include "removal/removal.h"

namespace {

const char INSTALL_DIR[] = "C:\\Program Files\\Quillmere";

// One name length for every unrelated file, so each costs the sweep the same;
// they begin like the product's files, so that each comparison runs well into
// the name before it fails, as it would for files the product leaves beside
// its own.
std::string UnrelatedName(int index)
{
    char name[32];
    std::snprintf(name, sizeof(name), "Quillmere Data %05d.qmd", index);
    return name;
}

std::string InInstallDir(const std::string& name)
{
    return std::string(INSTALL_DIR) + "\\" + name;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s N\n", argv[0]);
        return 2;
    }
    const int unrelated = std::atoi(argv[1]);
    if (unrelated < 0 || unrelated > 99999) {
        std::fprintf(stderr, "N must be between 0 and 99999\n");
        return 2;
    }

    mem::Reset();
    mem::SetStringValue(HKEY_CURRENT_USER, SETTINGS_KEY, PROGRAM_PATH_VALUE, INSTALL_DIR);
    for (unsigned i = 0; i < PROGRAM_FILE_COUNT; ++i) {
        mem::AddFile(InInstallDir(PROGRAM_FILES[i]), "product file");
    }
    mem::AddFile(InInstallDir("Uninstall.exe"), "uninstaller");
    for (int i = 0; i < unrelated; ++i) {
        mem::AddFile(InInstallDir(UnrelatedName(i)), "unrelated");
    }

    const int result = RemoveProgramFiles();

    int faults = 0;
    if (result != 1) {
        std::fprintf(stderr, "RemoveProgramFiles returned %d\n", result);
        ++faults;
    }
    for (unsigned i = 0; i < PROGRAM_FILE_COUNT; ++i) {
        if (mem::FileExists(InInstallDir(PROGRAM_FILES[i]))) {
            std::fprintf(stderr, "left: %s\n", PROGRAM_FILES[i]);
            ++faults;
        }
    }
    if (!mem::FileExists(InInstallDir("Uninstall.exe"))) {
        std::fprintf(stderr, "gone: Uninstall.exe\n");
        ++faults;
    }
    for (int i = 0; i < unrelated; ++i) {
        if (!mem::FileExists(InInstallDir(UnrelatedName(i)))) {
            std::fprintf(stderr, "gone: %s\n", UnrelatedName(i).c_str());
            ++faults;
        }
    }

    // The search delivers one entry per FindFirstFileA/FindNextFileA that
    // succeeds; the last FindNextFileA fails. So the FindNextFileA calls
    // count the entries.
    unsigned entries = 0;
    for (const mem::CallRecord& call : mem::CallLog()) {
        if (call.operation == "FindNextFileA") {
            ++entries;
        }
    }
    std::printf("entries %u\n", entries);
    return faults == 0 ? 0 : 1;
}
