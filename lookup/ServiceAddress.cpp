#include "lookup/ServiceAddress.h"

#include "config/AppConfig.h"

namespace
{
// Set and cleared by the application on the window's thread, read there before each request.
ServiceAddress::OwnServiceSource ownService;
} // namespace

void ServiceAddress::SetOwnServiceSource(OwnServiceSource source)
{
    ownService = std::move(source);
}

wxString ServiceAddress::ForRequest()
{
    const AppConfig settings;
    if (settings.NamesService() || !ownService)
        return settings.GetServiceUrl();
    return ownService();
}
