#include "download/Downloader.h"
