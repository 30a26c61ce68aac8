/* The floor under the uninstaller's hand-off: the least a program can do to
 * hand its work to a copy of itself on this machine.
 *
 * Started without arguments it shows a message box (caption "Baseline
 * hand-off"), the trigger the benchmark closes as it closes the uninstaller's
 * completion dialog. Then it copies its own file to the temp folder as
 * "blcopy.exe", starts that copy with an argument and ends once the copy has
 * ended. The copy, seeing the argument, ends at once.
 *
 * The uninstaller's hand-off does the same work (a file copy, a process
 * start, a wait on the other process) plus its own: the named event and
 * mutex, the deletions. Timed the same way, the two medians give how much of
 * the hand-off is the program's and how much is the machine's. Like the
 * uninstaller it has no C runtime, so neither side pays for loading one.
 *
 * Build: x86_64-w64-mingw32-gcc -Os -s -mwindows -nostdlib -nostartfiles
 *        -e BaselineEntry baseline.c -lkernel32 -luser32 */
#include <windows.h>

#define COPY_NAME "blcopy.exe"

/* Zero from the start, so no memset is needed without a C runtime. */
static STARTUPINFOA startup;
static PROCESS_INFORMATION process;

static int IsTheCopy(const char *commandLine)
{
    /* The copy's command line is its quoted path and " x". */
    int length = lstrlenA(commandLine);
    return length >= 2 && commandLine[length - 2] == ' ' && commandLine[length - 1] == 'x';
}

static UINT HandOff(void)
{
    char self[MAX_PATH];
    char tempDir[MAX_PATH];
    char copy[MAX_PATH + sizeof COPY_NAME];
    char command[sizeof copy + 4];
    DWORD length;

    MessageBoxA(NULL, "Close this box to hand off to a copy.", "Baseline hand-off", MB_OK);

    length = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    length = GetTempPathA(MAX_PATH, tempDir);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    lstrcpyA(copy, tempDir);
    lstrcatA(copy, COPY_NAME);
    if (!CopyFileA(self, copy, FALSE)) {
        return 1;
    }
    lstrcpyA(command, "\"");
    lstrcatA(command, copy);
    lstrcatA(command, "\" x");

    startup.cb = sizeof startup;
    /* In the temp folder, as the uninstaller starts its copy. */
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, tempDir,
                        &startup, &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

void BaselineEntry(void)
{
    ExitProcess(IsTheCopy(GetCommandLineA()) ? 0 : HandOff());
}
