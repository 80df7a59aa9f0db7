#include <dlfcn.h>

#include "QsxExp/ClassDesc.h"

namespace qsx {

// The host may offer its custom controls' initialisation; a stand-alone host
// that has none simply does not define it. There are no common controls to set up.
void InitControls(void* instance) {
    using InitFn = void (*)(void*);
    if (auto fn = reinterpret_cast<InitFn>(dlsym(RTLD_DEFAULT, "InitCustomControls"))) fn(instance);
}

}  // namespace qsx
