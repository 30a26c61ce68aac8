/* Describes the top-level window with a given caption as the window manager
 * of Wine sees it, for the tests to read texts and aim clicks.
 *
 * Usage: inspect.exe CAPTION OUTFILE
 * OUTFILE gets (tab-separated, screen coordinates):
 *   WINDOW  left top right bottom  client-left client-top client-right client-bottom  caption
 *   CLOSE   x y        (a point where the window reports its close box, if any)
 *   ACTIVE  1 or 0     (whether it is the foreground window)
 *   CHILD   id class style left top right bottom text     (one per control, in Z order)
 * or nothing but "NONE" when no such window exists. Written whole or not at all. */
#include <windows.h>
#include <stdio.h>

static FILE *out;

static BOOL CALLBACK child(HWND hwnd, LPARAM unused)
{
    char cls[128], text[1024];
    RECT r;
    (void)unused;
    if (GetClassNameA(hwnd, cls, sizeof cls) == 0) {
        cls[0] = '\0';
    }
    text[0] = '\0';
    GetWindowTextA(hwnd, text, sizeof text);
    GetWindowRect(hwnd, &r);
    fprintf(out, "CHILD\t%d\t%s\t%08lx\t%ld\t%ld\t%ld\t%ld\t%s\n", GetDlgCtrlID(hwnd), cls,
            (unsigned long)GetWindowLongA(hwnd, GWL_STYLE), r.left, r.top, r.right, r.bottom, text);
    return TRUE;
}

int main(int argc, char **argv)
{
    char pending[MAX_PATH + 8], caption[1024];
    HWND hwnd;
    RECT r, c;
    POINT origin = {0, 0};
    LONG x, y;

    if (argc != 3) {
        return 2;
    }
    snprintf(pending, sizeof pending, "%s.tmp", argv[2]);
    out = fopen(pending, "w");
    if (out == NULL) {
        return 3;
    }
    hwnd = FindWindowA(NULL, argv[1]);
    if (hwnd == NULL) {
        fputs("NONE\n", out);
    } else {
        GetWindowTextA(hwnd, caption, sizeof caption);
        GetWindowRect(hwnd, &r);
        GetClientRect(hwnd, &c);
        ClientToScreen(hwnd, &origin);
        fprintf(out, "WINDOW\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%s\n", r.left, r.top, r.right,
                r.bottom, origin.x, origin.y, origin.x + c.right, origin.y + c.bottom, caption);
        /* Ask the window itself where its close box is: walk the middle of
         * the band above the client area from the right until the hit test
         * answers HTCLOSE, and aim at the middle of that run. */
        y = (r.top + origin.y) / 2;
        for (x = r.right - 1; origin.y > r.top && x >= r.left; --x) {
            if (SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                LONG x2 = x;
                while (x2 > r.left &&
                       SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x2 - 1, y)) == HTCLOSE) {
                    --x2;
                }
                fprintf(out, "CLOSE\t%ld\t%ld\n", (x + x2) / 2, y);
                break;
            }
        }
        fprintf(out, "ACTIVE\t%d\n", GetForegroundWindow() == hwnd);
        EnumChildWindows(hwnd, child, 0);
    }
    fclose(out);
    MoveFileExA(pending, argv[2], MOVEFILE_REPLACE_EXISTING);
    return 0;
}
