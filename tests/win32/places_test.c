/* A host in C that calls the descriptor and the exporter by place with thiscall and checks every answer against
 * its literal. Its host offers no extension: the export gets the real dialog, which without a display cannot open,
 * so it ends as cancelled.   qsx_places_test.exe PATH\qsexp.dle */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#define THISCALL __attribute__((thiscall))
enum Answer { NUMBER, TEXT, SOME_TEXT, NOTHING, OBJECT, CLASS_ID };
struct Place { int place, args; intptr_t arg; enum Answer answer; intptr_t number; const char* text; };
static int failures = 0;

static intptr_t THISCALL Unexpected(void* self) { (void)self; return ++failures, 0; }
static intptr_t THISCALL Nothing(void* self) { (void)self; return 0; }
/* Our host interface: its destructor's two slots, ..., the root node at 3, the extension last (13). */
static void* hostTable[14];
static void* hostObject = hostTable;

static LONG WINAPI Crashed(EXCEPTION_POINTERS* e) {
    printf("FAILED: a call by place crashed (0x%08lX)\n", (unsigned long)e->ExceptionRecord->ExceptionCode);
    ExitProcess(1);
}

static void* Run(const char* table, void* object, const struct Place* p, const struct Place* end) {
    void* created = 0;
    for (; p < end; ++p) {
        uint32_t id[2] = {0, 0};
        const intptr_t arg = p->answer == CLASS_ID ? (intptr_t)id : p->arg;
        void* fn = (*(void***)object)[p->place - 1];
        const intptr_t got =
            p->args == 4   ? ((intptr_t(THISCALL*)(void*, intptr_t, intptr_t, void*, intptr_t))fn)(object, arg, 0, &hostObject, 0)
            : p->args == 1 ? ((intptr_t(THISCALL*)(void*, intptr_t))fn)(object, arg)
                           : ((intptr_t(THISCALL*)(void*))fn)(object);
        const int ok = p->answer == NUMBER      ? got == p->number
                       : p->answer == TEXT      ? got && strcmp((const char*)got, p->text) == 0
                       : p->answer == SOME_TEXT ? got && *(const char*)got
                       : p->answer == OBJECT    ? (created = (void*)got) != 0
                       : p->answer == CLASS_ID  ? got == arg && id[0] == 0x503A5EE2u && id[1] == 0x3BD153FFu
                                                : 1;
        if (!ok) printf("FAILED: %s place %d answered 0x%lX\n", table, p->place, (unsigned long)got), ++failures;
    }
    return created;
}

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(Crashed);
    for (int i = 0; i < 14; ++i) hostTable[i] = (void*)(i == 3 || i == 13 ? Nothing : Unexpected);
    HMODULE lib = argc == 2 ? LoadLibraryA(argv[1]) : 0;
    const char* (*description)(void) = (const char* (*)(void))(void*)GetProcAddress(lib, "LibDescription");
    int (*count)(void) = (int (*)(void))(void*)GetProcAddress(lib, "LibNumberClasses");
    void* (*classDesc)(int) = (void* (*)(int))(void*)GetProcAddress(lib, "LibClassDesc");
    unsigned long (*version)(void) = (unsigned long (*)(void))(void*)GetProcAddress(lib, "LibVersion");
    if (!description || !count || !classDesc || !version) return printf("FAILED: no library or export\n"), 1;
    void* desc = classDesc(0);
    if (strcmp(description(), "Quorvantis QSX File Export Plug-In") || count() != 1 || version() != 0x07D00500ul ||
        classDesc(1) || classDesc(-1) || !desc || classDesc(0) != desc)
        return printf("FAILED: the library's exports\n"), 1;
    static const struct Place descriptor[] = {
        {1, 0, 0, NUMBER, 1, 0}, {2, 1, 0, OBJECT, 0, 0}, {3, 1, 0, NUMBER, 0, 0}, {4, 1, 0, NUMBER, 0, 0},
        {5, 0, 0, TEXT, 0, "Quorvantis"}, {6, 0, 0, NUMBER, 0xA20, 0}, {7, 1, 0, CLASS_ID, 0, 0},
        {8, 0, 0, TEXT, 0, "Scene Export"}, {9, 1, 0, NUMBER, 1, 0}, {10, 0, 0, NUMBER, 0, 0},
        {11, 1, 0, NOTHING, 0, 0}, {12, 1, 0, NOTHING, 0, 0}, {13, 0, 0, NUMBER, 0, 0}, {14, 1, 0, NUMBER, 0, 0},
        {15, 1, 0, NUMBER, 0, 0}};
    /* The destructor (place 1, flag 1: free the memory as well) comes last. */
    static const struct Place exporter[] = {
        {2, 0, 0, NUMBER, 1, 0}, {3, 1, 0, TEXT, 0, "QSX"}, {3, 1, 1, TEXT, 0, ""},
        {4, 0, 0, TEXT, 0, "Quorvantis QSX Script File"}, {5, 0, 0, TEXT, 0, "Quorvantis"},
        {6, 0, 0, SOME_TEXT, 0, 0}, {7, 0, 0, SOME_TEXT, 0, 0}, {8, 0, 0, TEXT, 0, ""}, {9, 0, 0, TEXT, 0, ""},
        {10, 0, 0, NUMBER, 200, 0}, {11, 1, 0, NOTHING, 0, 0},
        {12, 4, (intptr_t) "C:\\places\\scene.QSX", NUMBER, 1, 0}, {1, 1, 1, NOTHING, 0, 0}};
    void* created = Run("descriptor", desc, descriptor, descriptor + sizeof descriptor / sizeof *descriptor);
    if (created) Run("exporter", created, exporter, exporter + sizeof exporter / sizeof *exporter);
    if (failures || !created) return printf("FAILED: %d answers\n", failures), 1;
    return printf("ok: every place answers as its table says\n"), 0;
}
