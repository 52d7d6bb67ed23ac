#include "app/StartupEnvironment.h"

#include "app/InstanceLock.h"

#include <wx/filefn.h>
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
        return wxGetHomeDir();
    return folder;
}

bool AnotherInstanceRuns(InstanceLock& lock, const wxString& name)
{
    return lock.Acquire(InstanceLockFolder(), name) == InstanceLock::Result::HeldElsewhere;
}
