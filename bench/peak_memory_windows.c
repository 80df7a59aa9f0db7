/* Runs a command and says what its Windows process used at the most, as the system counts it (Wine's
 * process wrappers would count the wrong process):
 *   qsx_peak_memory.exe PROGRAM [ARGUMENTS...]
 * prints to standard error "peak working set N KB, peak commit N KB, wall S s"
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
    /* Read while it runs, as well as at its end: Wine forgets an ended process's counters. */
    PROCESS_MEMORY_COUNTERS memory, now;
    ZeroMemory(&memory, sizeof memory);
    DWORD wait;
    do {
        wait = WaitForSingleObject(child.hProcess, 20);
        ZeroMemory(&now, sizeof now);
        if (GetProcessMemoryInfo(child.hProcess, &now, sizeof now)) {
            if (now.PeakWorkingSetSize > memory.PeakWorkingSetSize) memory.PeakWorkingSetSize = now.PeakWorkingSetSize;
            if (now.PeakPagefileUsage > memory.PeakPagefileUsage) memory.PeakPagefileUsage = now.PeakPagefileUsage;
        }
    } while (wait == WAIT_TIMEOUT);
    const double wall = (double)(GetTickCount64() - began) / 1e3;
    DWORD status = 2;
    if (!GetExitCodeProcess(child.hProcess, &status))
        return fprintf(stderr, "qsx_peak_memory: cannot read the command's exit status (error %lu)\n", GetLastError()), 2;
    fprintf(stderr, "peak working set %lu KB, peak commit %lu KB, wall %.2f s\n",
            (unsigned long)(memory.PeakWorkingSetSize / 1024), (unsigned long)(memory.PeakPagefileUsage / 1024), wall);
    return (int)status;
}
