#include "lookup/VideoPageUrl.h"
