#pragma once

#include <wx/string.h>

class InstanceLock;

// What start-up takes from and leaves in the process environment: the display back-end and
// the single-instance lock. Toolkit base library only, so the rules are tested without a
// display.

// On a Wayland session the clipboard watch and the notification icon need X11, so GTK is
// told to use XWayland, but only when there is one (DISPLAY is set) and the user chose no
// back-end. True when it was forced. Must run before the toolkit starts GTK.
bool ForceX11Backend();

// Undoes ForceX11Backend once the toolkit has started, so programs started from Norvik (the
// browser of a link) get the environment the user gave.
void ReleaseForcedBackend(bool forced);

// The folder of the single-instance lock: $XDG_RUNTIME_DIR, the per-user place for locks,
// when it is set to an absolute path; otherwise the home folder, which is the user's own
// as well and where the lock was kept before.
wxString InstanceLockFolder();

// Takes the lock of this name in InstanceLockFolder() and tells whether another copy holds
// it. A lock that cannot be taken is not an error: the program then runs without the
// guarantee, and nothing is reported.
bool AnotherInstanceRuns(InstanceLock& lock, const wxString& name);
