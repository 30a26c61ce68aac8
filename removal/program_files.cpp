#include "app/constants.h"
#include "platform/path_buffer.h"
#include "removal/folder_sweep.h"
#include "removal/removal.h"

namespace {

int IsProgramFile(const char* name)
{
    for (unsigned i = 0; i < PROGRAM_FILE_COUNT; ++i) {
        if (NamesEqualIgnoringAsciiCase(name, PROGRAM_FILES[i])) {
            return 1;
        }
    }
    return 0;
}

}  // namespace

int RemoveProgramFiles(void)
{
    char installDir[MAX_PATH];
    ReadInstallDirectory(installDir);
    // No directory read: an empty path would make the pattern "\*.*", the
    // root of the current drive.
    if (installDir[0] == '\0') {
        return 0;
    }
    // Only the top level: subfolders are neither entered nor removed.
    return DeleteMatchingFiles(installDir, IsProgramFile);
}
