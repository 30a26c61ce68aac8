/* A stand-in browser: appends the command line it was started with and its
 * own path to "<its own path>.log", then ends. The tests read exactly what the
 * uninstaller started. While "<its own path>.linger" exists it stays running
 * (20 s at most), as a browser showing the page would. */
#include <windows.h>

static void put(HANDLE f, const char *s)
{
    DWORD written;
    WriteFile(f, s, lstrlenA(s), &written, NULL);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show)
{
    char self[MAX_PATH];
    char log[MAX_PATH + 8];
    HANDLE f;
    (void)instance; (void)previous; (void)tail; (void)show;

    if (GetModuleFileNameA(NULL, self, MAX_PATH) == 0) {
        return 1;
    }
    lstrcpyA(log, self);
    lstrcatA(log, ".log");
    f = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) {
        return 1;
    }
    put(f, "CMD ");
    put(f, GetCommandLineA());
    put(f, "\nEXE ");
    put(f, self);
    put(f, "\n");
    CloseHandle(f);

    /* Lingering, it waits for input as a browser's window would: WinExec
     * returns only once the started program is idle waiting for input. */
    lstrcpyA(log, self);
    lstrcatA(log, ".linger");
    for (int i = 0; i < 400 && GetFileAttributesA(log) != INVALID_FILE_ATTRIBUTES; ++i) {
        MSG message;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    return 0;
}
