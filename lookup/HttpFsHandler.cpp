#include "lookup/HttpFsHandler.h"
