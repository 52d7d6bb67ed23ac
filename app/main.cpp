#include "app/NorvikApp.h"

wxIMPLEMENT_APP(NorvikApp);
