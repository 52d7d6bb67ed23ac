#include "download/MoveIntoPlace.h"
