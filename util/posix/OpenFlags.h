// open()'s flags as the system has them: O_CLOEXEC keeps a descriptor from
// the programs this one starts.
#pragma once

#include <fcntl.h>
