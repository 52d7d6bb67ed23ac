#include "download/Mp3Converter.h"
