/* Runs a command on a console of its own, as a user at a console window would, and tells what the console
 * showed and its output code page before and after: pipes and files pass bytes through, only a console
 * shows whether the command's UTF-8 text comes out right and whether its code page is set back.
 *   qsx_console_test.exe CODEPAGE COMMAND-LINE...
 * Prints (UTF-8, to the standard output it was given) "before N", "after N", "exit N" and every non-blank
 * line of the screen. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static HANDLE out;

static void Say(const wchar_t* text, int length) {
    char utf8[4096];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8 - 1, 0, 0);
    DWORD written = 0;
    utf8[n] = '\n';
    WriteFile(out, utf8, (DWORD)n + 1, &written, 0);
}

static void SayNumber(const wchar_t* what, unsigned long n) {
    wchar_t line[64];
    const int length = swprintf(line, 64, L"%ls %lu", what, n);
    Say(line, length);
}

int wmain(int argc, wchar_t** argv) {
    /* What this program was given (a pipe): the console about to be made would take its place. */
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (argc < 3) return fprintf(stderr, "usage: qsx_console_test CODEPAGE COMMAND-LINE...\n"), 2;
    FreeConsole();
    if (!AllocConsole()) return fprintf(stderr, "no console: %lu\n", GetLastError()), 2;
    if (!SetConsoleOutputCP((UINT)_wtoi(argv[1]))) return fprintf(stderr, "no code page: %lu\n", GetLastError()), 2;
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      0, OPEN_EXISTING, 0, 0);
    /* Wide enough that no message wraps. */
    const COORD size = {1000, 200};
    SetConsoleScreenBufferSize(screen, size);
    SayNumber(L"before", GetConsoleOutputCP());

    /* The command line as given, its words quoted. */
    wchar_t line[8192] = L"";
    for (int i = 2; i < argc; ++i) {
        wcscat(line, i > 2 ? L" \"" : L"\"");
        wcscat(line, argv[i]);
        wcscat(line, L"\"");
    }
    STARTUPINFOW start;
    memset(&start, 0, sizeof start);
    start.cb = sizeof start;
    PROCESS_INFORMATION process;
    DWORD exitCode = 0;
    if (!CreateProcessW(0, line, 0, 0, FALSE, 0, 0, 0, &start, &process))
        return fprintf(stderr, "not started: %lu\n", GetLastError()), 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    SayNumber(L"after", GetConsoleOutputCP());
    SayNumber(L"exit", exitCode);

    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen, &info)) return fprintf(stderr, "no screen buffer\n"), 2;
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        wchar_t row[1024];
        DWORD n = 0;
        const COORD at = {0, y};
        const DWORD width = info.dwSize.X < 1024 ? (DWORD)info.dwSize.X : 1024;
        ReadConsoleOutputCharacterW(screen, row, width, at, &n);
        while (n > 0 && row[n - 1] == L' ') --n;
        if (n > 0) Say(row, (int)n);
    }
    return 0;
}
