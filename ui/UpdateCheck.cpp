// The update check of the main window.
#include "ui/NorvikFrame.h"

void NorvikFrame::OnCheckForUpdates(wxCommandEvent&)
{
}
