// The per-user settings store on Windows: the registry itself, under
// HKEY_CURRENT_USER, written by the plug-in's own code for it.
#pragma once

#include "QsxExp/win32/Registry.h"

namespace qsxhost {

using Registry = qsx::SystemRegistry;

}  // namespace qsxhost
