/* Holds a file open for reading without sharing write access, as a virus
 * scanner or an earlier program still running from it would, so that nobody
 * can overwrite it meanwhile.
 *
 * Usage: hold.exe FILE READY RELEASE
 * Once FILE is open, READY is created; the hold ends when RELEASE appears
 * (or after ten minutes at most). */
#include <windows.h>

int main(int argc, char **argv)
{
    HANDLE held, ready;
    int i;

    if (argc != 4) {
        return 2;
    }
    held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE) {
        return 3;
    }
    ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE) {
        return 4;
    }
    CloseHandle(ready);
    for (i = 0; i < 10 * 60 * 20; ++i) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            break;
        }
        Sleep(50);
    }
    CloseHandle(held);
    return 0;
}
