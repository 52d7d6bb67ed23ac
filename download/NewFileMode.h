#pragma once

#include <sys/types.h>

// The mode open(2) gives a new file: 0666 less the process's umask. Files the program saves
// get it whatever way they were made, so other programs and accounts read them as usual.
mode_t NewFileMode();
