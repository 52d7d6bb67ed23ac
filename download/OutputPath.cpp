#include "download/OutputPath.h"
