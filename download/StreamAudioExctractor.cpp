#include "download/StreamAudioExctractor.h"
