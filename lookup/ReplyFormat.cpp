#include "lookup/ReplyFormat.h"
