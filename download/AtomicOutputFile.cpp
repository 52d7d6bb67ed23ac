#include "download/AtomicOutputFile.h"
