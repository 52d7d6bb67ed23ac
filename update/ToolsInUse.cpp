#include "update/ToolsInUse.h"

#include "update/ToolUpdater.h"

#include <unistd.h>

ToolsInUse::Tool ToolsInUse::Find(const char* name, const std::string& folder, bool ownCopies,
                                  const std::string& searchPath)
{
    Tool tool;
    const std::string copy = ToolUpdater::CopyIn(folder, name);
    if (ownCopies && access(copy.c_str(), X_OK) == 0)
    {
        tool.path = copy;
        tool.own = true;
    }
    else
        tool.path = ToolUpdater::FindOnPath(name, searchPath, folder);
    std::string error;
    if (!tool.path.empty())
        tool.version = ToolUpdater::VersionOf(tool.path, error);
    // A tool that cannot say its version still runs; its version then reads as unknown.
    return tool;
}
