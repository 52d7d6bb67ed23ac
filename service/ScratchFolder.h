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
    // Null with the reason when the folder cannot be made. A held folder keeps a lock on a
    // file inside for its whole life, which tells RemoveAbandoned that its owner still runs.
    static std::unique_ptr<ScratchFolder> Make(const std::string& parent, const std::string& prefix,
                                               std::string& error, bool held = false);
    // Removes the held folders under parent whose name starts with prefix, that belong to
    // this user and whose lock nobody holds: those of a service that was killed, which had no
    // chance to remove its own. Returns how many; anything else under parent stays.
    static int RemoveAbandoned(const std::string& parent, const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path; }

private:
    ScratchFolder(std::string folder, int lock) : path(std::move(folder)), lockFd(lock) {}

    const std::string path;
    const int lockFd;
};
