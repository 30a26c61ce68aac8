/* A stand-in browser: appends the command line it was started with and its
 * own path to "<its own path>.log", then ends. The tests read exactly what the
 * uninstaller started. */
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
    return 0;
}
