#include "lookup/UrlFetcher.h"
