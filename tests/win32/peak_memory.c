/* Runs a command and says what its Windows process used at the most, as the system counts it (Wine's
 * process wrappers would count the wrong process):
 *   qsx_peak_memory.exe PROGRAM [ARGUMENTS...]
 * prints to standard error "peak working set N KB, peak commit N KB, user S s, kernel S s, wall S s"
 * and exits with the command's exit status. */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>
#include <psapi.h>

/* The command line after our own program's name, as the system split it. */
static wchar_t* AfterFirstWord(wchar_t* line) {
    int quoted = 0;
    for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
        if (*line == L'"') quoted = !quoted;
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

static double Seconds(FILETIME t) { return (double)(((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7; }

int main(void) {
    wchar_t* command = AfterFirstWord(GetCommandLineW());
    if (!*command) return fprintf(stderr, "usage: qsx_peak_memory.exe PROGRAM [ARGUMENTS...]\n"), 2;
    STARTUPINFOW start;
    ZeroMemory(&start, sizeof start);
    start.cb = sizeof start;
    PROCESS_INFORMATION child;
    const ULONGLONG began = GetTickCount64();
    if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &child))
        return fprintf(stderr, "qsx_peak_memory: cannot start the command (error %lu)\n", GetLastError()), 2;
    WaitForSingleObject(child.hProcess, INFINITE);
    const double wall = (double)(GetTickCount64() - began) / 1e3;
    DWORD status = 2;
    PROCESS_MEMORY_COUNTERS memory;
    ZeroMemory(&memory, sizeof memory);
    FILETIME created, ended, kernel, user;
    if (!GetExitCodeProcess(child.hProcess, &status) ||
        !GetProcessMemoryInfo(child.hProcess, &memory, sizeof memory) ||
        !GetProcessTimes(child.hProcess, &created, &ended, &kernel, &user))
        return fprintf(stderr, "qsx_peak_memory: cannot read the command's counters (error %lu)\n", GetLastError()), 2;
    fprintf(stderr, "peak working set %lu KB, peak commit %lu KB, user %.2f s, kernel %.2f s, wall %.2f s\n",
            (unsigned long)(memory.PeakWorkingSetSize / 1024), (unsigned long)(memory.PeakPagefileUsage / 1024),
            Seconds(user), Seconds(kernel), wall);
    return (int)status;
}
