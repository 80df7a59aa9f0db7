// How the library's entry points leave it: the module-definition file
// (qsexp.def) lists them with their ordinals, so C linkage is all they need.
#pragma once

#define QSX_EXPORT extern "C"
