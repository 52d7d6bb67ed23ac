#pragma once

#include <wx/string.h>

#include <functional>

// Where a request to the metadata service goes: the address the settings name ("ServiceUrl"),
// or, when they name none, the program's own service, which the application starts on first
// use. Kept apart from the settings store, which only reads the file: finding the own service
// may start a program and wait for it (up to its start limit), so it belongs where a request
// is about to be made.
namespace ServiceAddress
{
// Finds or starts the program's own service and returns its address. The application sets
// this at start and clears it (an empty function) at its end.
using OwnServiceSource = std::function<wxString()>;
void SetOwnServiceSource(OwnServiceSource source);

// The base address for one request, without a trailing slash: the settings' address when
// they name one (even an empty one), else the own service's, else the bundled service's usual
// address.
wxString ForRequest();
} // namespace ServiceAddress
