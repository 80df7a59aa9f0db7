// The loader's entry point of qsexp.dle.
#include "QsxExp/ClassDesc.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return qsx::LibraryEntry(instance, reason, reserved);
}
