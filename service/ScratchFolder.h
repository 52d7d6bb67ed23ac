#pragma once

#include <memory>
#include <string>

// A folder of its own under a parent, with a name nobody else gets, removed together with
// whatever was left in it when the object goes. Programs the service runs write their own
// scratch files (a fragment downloader's parts, say) into such a folder, so runs side by side
// never meet and a run that was killed leaves nothing behind.
class ScratchFolder
{
public:
    // Null with the reason when the folder cannot be made.
    static std::unique_ptr<ScratchFolder> Make(const std::string& parent, const std::string& prefix,
                                               std::string& error);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path; }

private:
    explicit ScratchFolder(std::string path) : path(std::move(path)) {}

    const std::string path;
};
