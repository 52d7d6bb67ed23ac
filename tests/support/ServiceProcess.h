#pragma once

#include "lookup/LocalService.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

// The stand-in service as a child process on a free loopback port, for window tests that
// name it in the settings.
class ServiceProcess
{
public:
    bool Start(const std::string& executable, std::vector<std::string> args)
    {
        // Tests never reach the network: the resolver runs only where a test asks for one.
        if (std::find(args.begin(), args.end(), "--resolver") == args.end())
            args.insert(args.end(), {"--resolver", "none"});
        service = std::make_unique<LocalService>(executable, std::move(args));
        error.clear();
        return service->Start(error);
    }

    // Why the last start failed, for the test's failure message.
    const std::string& Error() const { return error; }

    void Stop() { service.reset(); }

    // "http://127.0.0.1:PORT/SECRET", without a trailing slash.
    std::string BaseUrl() const { return service ? service->GetUrl() : std::string(); }

private:
    std::unique_ptr<LocalService> service;
    std::string error;
};
