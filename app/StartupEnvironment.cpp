#include "app/StartupEnvironment.h"

#include <wx/filefn.h>
#include <wx/log.h>
#include <wx/snglinst.h>
#include <wx/utils.h>

namespace
{
const wxString kBackendVariable = "GDK_BACKEND";
const wxString kX11Backend = "x11";
const wxString kWaylandVariable = "WAYLAND_DISPLAY";
const wxString kX11Variable = "DISPLAY";
const wxString kRuntimeFolderVariable = "XDG_RUNTIME_DIR";

bool IsSetAndNotEmpty(const wxString& variable)
{
    wxString value;
    return wxGetEnv(variable, &value) && !value.empty();
}
} // namespace

bool ForceX11Backend()
{
    if (!IsSetAndNotEmpty(kWaylandVariable) || !IsSetAndNotEmpty(kX11Variable) ||
        wxGetEnv(kBackendVariable, nullptr))
        return false;
    return wxSetEnv(kBackendVariable, kX11Backend);
}

void ReleaseForcedBackend(bool forced)
{
    if (forced)
        wxUnsetEnv(kBackendVariable);
}

wxString InstanceLockFolder()
{
    wxString folder;
    // Relative values are invalid by the base-directory rules: ignore them.
    if (!wxGetEnv(kRuntimeFolderVariable, &folder) || !wxIsAbsolutePath(folder))
        return wxString();
    return folder;
}

bool AnotherInstanceRuns(wxSingleInstanceChecker& checker, const wxString& name)
{
    // The toolkit reports a lock it cannot make or read as an error, which the GUI would show
    // in a message box.
    wxLogNull quiet;
    return checker.Create(name, InstanceLockFolder()) && checker.IsAnotherRunning();
}
