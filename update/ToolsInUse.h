#pragma once

#include <string>

// Which yt-dlp and which JavaScript runtime the resolver runs, and their versions: what the
// Options dialog shows. Runs the tools, so it belongs on a worker thread.
class ToolsInUse
{
public:
    struct Tool
    {
        // Empty when there is none.
        std::string path;
        // Norvik's own copy, rather than the system's.
        bool own = false;
        std::string version;
    };

    // The tool the service's resolver finds: Norvik's copy in folder when it keeps its own
    // (ownCopies), else the first on searchPath.
    static Tool Find(const char* name, const std::string& folder, bool ownCopies,
                     const std::string& searchPath);
};
