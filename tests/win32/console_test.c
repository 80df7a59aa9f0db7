/* Runs a command on a console of its own, as a console window gives one, and prints (UTF-8, to the standard
 * output it was given) "before N" and "after N", the console's output code page around the run, then every
 * non-blank line of the screen: pipes pass bytes through, only a console shows whether text comes out right.
 *   qsx_console_test.exe CODEPAGE COMMAND-LINE... */
#include <stdio.h>
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

static void SayCodePage(const wchar_t* when) {
    wchar_t text[32];
    Say(text, swprintf(text, 32, L"%ls %u", when, GetConsoleOutputCP()));
}

int wmain(int argc, wchar_t** argv) {
    out = GetStdHandle(STD_OUTPUT_HANDLE); /* before the console takes its place */
    FreeConsole();
    if (argc < 3 || !AllocConsole() || !SetConsoleOutputCP((UINT)_wtoi(argv[1]))) return printf("no console\n"), 2;
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      0, OPEN_EXISTING, 0, 0);
    const COORD size = {1000, 200}; /* wide enough that no message wraps */
    SetConsoleScreenBufferSize(screen, size);
    SayCodePage(L"before");

    wchar_t line[8192] = L"";
    for (int i = 2; i < argc; ++i)
        swprintf(line + wcslen(line), 8192 - wcslen(line), L"%ls\"%ls\"", i > 2 ? L" " : L"", argv[i]);
    STARTUPINFOW start;
    PROCESS_INFORMATION process;
    memset(&start, 0, sizeof start);
    start.cb = sizeof start;
    if (!CreateProcessW(0, line, 0, 0, FALSE, 0, 0, 0, &start, &process)) return printf("not started\n"), 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    SayCodePage(L"after");

    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(screen, &info);
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        wchar_t row[1000];
        DWORD n = 0;
        const COORD at = {0, y};
        ReadConsoleOutputCharacterW(screen, row, info.dwSize.X < 1000 ? (DWORD)info.dwSize.X : 1000, at, &n);
        while (n > 0 && row[n - 1] == L' ') --n;
        if (n > 0) Say(row, (int)n);
    }
    return 0;
}
