// open()'s flags with the meaning they have elsewhere: O_CLOEXEC keeps a
// descriptor from child processes and reads the file's own bytes (no
// line-end translation, no end at a Ctrl-Z).
#pragma once

#include <fcntl.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC (O_NOINHERIT | O_BINARY)
#endif
