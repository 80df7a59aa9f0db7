#include "QsxExp/ClassDesc.h"

#include <windows.h>

// The common controls' initialisation, imported by its ordinal (17) through
// comctl32_ordinal.def: the name is not exported by every comctl32.
extern "C" __declspec(dllimport) void WINAPI InitCommonControls(void);

namespace qsx {

// The host's custom controls, where the program that loaded us offers them,
// then the system's common controls. Runs inside DllMain: no library is
// loaded here, comctl32 is already imported.
void InitControls(void* instance) {
    using InitFn = void (*)(HINSTANCE);
    if (auto fn = reinterpret_cast<InitFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "InitCustomControls"))))
        fn(static_cast<HINSTANCE>(instance));
    InitCommonControls();
}

}  // namespace qsx
