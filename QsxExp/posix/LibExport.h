// How the library's entry points leave it: the library is built with hidden
// visibility, so each export says it is seen.
#pragma once

#define QSX_EXPORT extern "C" __attribute__((visibility("default")))
