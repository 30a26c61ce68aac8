/* Starts one command line in a given folder, waits for it and writes its exit
 * code to a file, so that the tests under Wine get the exact command line,
 * current directory and exit code they ask for.
 *
 * Usage: launch.exe REQUEST
 * REQUEST is a text file: first line the current directory, second line the
 * command line, third line the program to start or nothing (then the command
 * line's first token names it, and Wine puts that name in quotes when it has
 * blanks), then any number of NAME=VALUE lines set in the environment the
 * command inherits. The exit code goes to REQUEST.rc as decimal text, written
 * only once the command has ended; a start that fails writes "start-failed N"
 * (N being GetLastError) instead. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static void chomp(char *s)
{
    size_t n = strlen(s);
    while (n > 0 && (s[n - 1] == '\n' || s[n - 1] == '\r')) {
        s[--n] = '\0';
    }
}

static void write_result(const char *request, const char *text)
{
    char path[MAX_PATH + 8];
    char part[MAX_PATH + 16];
    FILE *f;
    snprintf(path, sizeof path, "%s.rc", request);
    snprintf(part, sizeof part, "%s.rc.part", request);
    f = fopen(part, "w");
    if (f == NULL) {
        return;
    }
    fputs(text, f);
    fclose(f);
    /* Appears whole or not at all. */
    MoveFileExA(part, path, MOVEFILE_REPLACE_EXISTING);
}

int main(int argc, char **argv)
{
    static char dir[4096], command[32768], program[4096], line[32768];
    char result[64];
    FILE *f;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    DWORD code = 0;

    if (argc != 2) {
        return 2;
    }
    f = fopen(argv[1], "r");
    if (f == NULL || fgets(dir, sizeof dir, f) == NULL || fgets(command, sizeof command, f) == NULL ||
        fgets(program, sizeof program, f) == NULL) {
        return 3;
    }
    chomp(dir);
    chomp(command);
    chomp(program);
    while (fgets(line, sizeof line, f) != NULL) {
        char *eq;
        chomp(line);
        eq = strchr(line, '=');
        if (eq != NULL) {
            *eq = '\0';
            SetEnvironmentVariableA(line, eq + 1);
        }
    }
    fclose(f);

    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(&pi, 0, sizeof pi);
    if (!CreateProcessA(program[0] != '\0' ? program : NULL, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, dir, &si, &pi)) {
        snprintf(result, sizeof result, "start-failed %lu", (unsigned long)GetLastError());
        write_result(argv[1], result);
        return 4;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    snprintf(result, sizeof result, "%lu", (unsigned long)code);
    write_result(argv[1], result);
    return 0;
}
