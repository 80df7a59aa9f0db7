/* A host written in C, as one built from nothing but the tables of places
 * would be: it loads qsexp.dle, calls the class descriptor's and the
 * exporter's operations by place number through their virtual tables with
 * the platform's member-function convention (thiscall: the object in ECX, the
 * callee pops its arguments), and compares every answer with the literal it
 * must be. It offers only the scene operations: the export (place 12) gets
 * the real dialog, which a helper thread cancels when there is a display.
 *   qsx_places_test.exe PATH\qsexp.dle        exit status 0: every answer right */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#define THISCALL __attribute__((thiscall))
typedef intptr_t(THISCALL* Call0)(void* self);
typedef intptr_t(THISCALL* Call1)(void* self, intptr_t a);
typedef intptr_t(THISCALL* Call4)(void* self, intptr_t a, intptr_t b, intptr_t c, intptr_t d);

enum Answer { NUMBER, TEXT, SOME_TEXT, NOTHING, OBJECT, CLASS_ID, EXPORTED };

struct Place {
    int place, args;
    intptr_t arg;
    enum Answer answer;
    intptr_t number;
    const char* text;
};

static int failures = 0;

static void Fail(const char* table, int place, const char* what) {
    printf("FAILED: %s place %d: %s\n", table, place, what);
    ++failures;
}

/* --- the host object handed to the export: the root node and the question
 * for our own host's extension answered, every other operation a failure --- */
static int unexpected = 0;
static intptr_t THISCALL Unexpected(void* self) {
    (void)self;
    ++unexpected;
    return 0;
}
static intptr_t THISCALL NoRootNode(void* self) {
    (void)self;
    return 0;
}
static intptr_t THISCALL NoExtension(void* self) {
    (void)self;
    return 0;
}
/* The interface's slots: two for its destructor, then the time line, the root
 * node (3), ..., and last the extension (13), which a plain host has none of. */
static void* hostTable[14];
static struct {
    void** table;
} host = {hostTable};

static DWORD WINAPI CancelDialog(void* seen) {
    for (int i = 0; i < 1500; ++i) {
        HWND dlg = FindWindowA("#32770", "Quorvantis Export Options");
        if (dlg && IsWindowVisible(dlg)) {
            *(int*)seen = 1;
            PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
            return 0;
        }
        Sleep(10);
    }
    return 0;
}

static void Check(const char* table, void* object, const struct Place* p, intptr_t got, intptr_t arg) {
    char why[160];
    switch (p->answer) {
    case NUMBER:
        if (got != p->number) {
            snprintf(why, sizeof why, "answered %ld, not %ld", (long)got, (long)p->number);
            Fail(table, p->place, why);
        }
        break;
    case TEXT:
        if (!got || strcmp((const char*)got, p->text) != 0) {
            snprintf(why, sizeof why, "answered \"%s\", not \"%s\"", got ? (const char*)got : "(none)", p->text);
            Fail(table, p->place, why);
        }
        break;
    case SOME_TEXT:
        if (!got || !*(const char*)got) Fail(table, p->place, "answered no text");
        break;
    case OBJECT:
        if (!got) Fail(table, p->place, "answered no object");
        break;
    case CLASS_ID: {
        const uint32_t* id = (const uint32_t*)arg;
        if (got != arg) Fail(table, p->place, "did not answer the caller's buffer");
        if (id[0] != 0x503A5EE2u || id[1] != 0x3BD153FFu) {
            snprintf(why, sizeof why, "answered (0x%08lX, 0x%08lX)", (unsigned long)id[0], (unsigned long)id[1]);
            Fail(table, p->place, why);
        }
        break;
    }
    case EXPORTED:
        if (got != 1) Fail(table, p->place, "the export did not answer 1");
        break;
    case NOTHING:
        break;
    }
    (void)object;
}

/* A call through the wrong place may land anywhere: that is a failure too, not a hang in the debugger. */
static LONG WINAPI Crashed(EXCEPTION_POINTERS* e) {
    printf("FAILED: a call by place crashed (exception 0x%08lX)\n", (unsigned long)e->ExceptionRecord->ExceptionCode);
    fflush(stdout);
    ExitProcess(1);
}

static intptr_t CallPlace(void* object, const struct Place* p, intptr_t arg) {
    void** table = *(void***)object;
    void* fn = table[p->place - 1];
    if (p->args == 0) return ((Call0)fn)(object);
    if (p->args == 1) return ((Call1)fn)(object, arg);
    return ((Call4)fn)(object, arg, 0, (intptr_t)&host, 0);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: qsx_places_test PATH_TO_QSEXP.DLE\n");
        return 2;
    }
    SetUnhandledExceptionFilter(Crashed);
    for (int i = 0; i < 14; ++i) hostTable[i] = (void*)Unexpected;
    hostTable[3] = (void*)NoRootNode;
    hostTable[13] = (void*)NoExtension;

    HMODULE lib = LoadLibraryA(argv[1]);
    if (!lib) {
        printf("FAILED: cannot load %s\n", argv[1]);
        return 1;
    }
    typedef const char* (*DescriptionFn)(void);
    typedef int (*CountFn)(void);
    typedef void* (*ClassDescFn)(int);
    typedef unsigned long (*VersionFn)(void);
    DescriptionFn description = (DescriptionFn)(void*)GetProcAddress(lib, "LibDescription");
    CountFn count = (CountFn)(void*)GetProcAddress(lib, "LibNumberClasses");
    ClassDescFn classDesc = (ClassDescFn)(void*)GetProcAddress(lib, "LibClassDesc");
    VersionFn version = (VersionFn)(void*)GetProcAddress(lib, "LibVersion");
    if (!description || !count || !classDesc || !version) {
        printf("FAILED: an export is missing\n");
        return 1;
    }
    if (strcmp(description(), "Quorvantis QSX File Export Plug-In") != 0) Fail("library", 0, "LibDescription");
    if (count() != 1) Fail("library", 0, "LibNumberClasses");
    if (version() != 0x07D00500ul) Fail("library", 0, "LibVersion");
    if (classDesc(1) || classDesc(-1)) Fail("library", 0, "LibClassDesc answers a class for 1 or -1");
    void* desc = classDesc(0);
    if (!desc || classDesc(0) != desc) {
        printf("FAILED: LibClassDesc(0) answers no descriptor, or not the same one each time\n");
        return 1;
    }

    static const struct Place descriptor[] = {
        {1, 0, 0, NUMBER, 1, 0},           {2, 1, 0, OBJECT, 0, 0},
        {3, 1, 0, NUMBER, 0, 0},           {4, 1, 0, NUMBER, 0, 0},
        {5, 0, 0, TEXT, 0, "Quorvantis"},  {6, 0, 0, NUMBER, 0xA20, 0},
        {7, 1, 0, CLASS_ID, 0, 0},         {8, 0, 0, TEXT, 0, "Scene Export"},
        {9, 1, 0, NUMBER, 1, 0},           {10, 0, 0, NUMBER, 0, 0},
        {11, 1, 0, NOTHING, 0, 0},         {12, 1, 0, NOTHING, 0, 0},
        {13, 0, 0, NUMBER, 0, 0},          {14, 1, 0, NUMBER, 0, 0},
        {15, 1, 0, NUMBER, 0, 0},
    };
    void* exporter = 0;
    for (size_t i = 0; i < sizeof descriptor / sizeof descriptor[0]; ++i) {
        const struct Place* p = &descriptor[i];
        uint32_t id[2] = {0, 0};
        const intptr_t arg = p->answer == CLASS_ID ? (intptr_t)id : p->arg;
        const intptr_t got = CallPlace(desc, p, arg);
        Check("descriptor", desc, p, got, arg);
        if (p->answer == OBJECT && got) {
            if (exporter) Fail("descriptor", p->place, "called twice");
            exporter = (void*)got;
        }
    }
    if (!exporter) return 1;

    /* Place 1, the destructor, comes last: it frees the object (flag 1). */
    static const struct Place exporterPlaces[] = {
        {2, 0, 0, NUMBER, 1, 0},
        {3, 1, 0, TEXT, 0, "QSX"},
        {3, 1, 1, TEXT, 0, ""},
        {4, 0, 0, TEXT, 0, "Quorvantis QSX Script File"},
        {5, 0, 0, TEXT, 0, "Quorvantis"},
        {6, 0, 0, SOME_TEXT, 0, 0},
        {7, 0, 0, SOME_TEXT, 0, 0},
        {8, 0, 0, TEXT, 0, ""},
        {9, 0, 0, TEXT, 0, ""},
        {10, 0, 0, NUMBER, 200, 0},
        {11, 1, 0, NOTHING, 0, 0},
        {12, 4, (intptr_t) "C:\\places\\scene.QSX", EXPORTED, 0, 0},
        {1, 1, 1, NOTHING, 0, 0},
    };
    int dialogSeen = 0;
    const int display = GetEnvironmentVariableA("DISPLAY", 0, 0) > 0;
    for (size_t i = 0; i < sizeof exporterPlaces / sizeof exporterPlaces[0]; ++i) {
        const struct Place* p = &exporterPlaces[i];
        HANDLE canceller = 0;
        if (p->answer == EXPORTED && display) canceller = CreateThread(0, 0, CancelDialog, &dialogSeen, 0, 0);
        const intptr_t got = CallPlace(exporter, p, p->arg);
        if (canceller) {
            WaitForSingleObject(canceller, INFINITE);
            CloseHandle(canceller);
        }
        Check("exporter", exporter, p, got, p->arg);
    }
    if (unexpected) Fail("exporter", 12, "the export asked the host for more than its root node and extension");
    if (display && !dialogSeen) Fail("exporter", 12, "a host without the extension was shown no dialog");
    if (failures) return 1;
    printf("ok: every place of the descriptor and the exporter answers as its table says%s\n",
           display ? " (the export's dialog shown and cancelled)" : "");
    return 0;
}
