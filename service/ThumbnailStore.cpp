#include "ThumbnailStore.h"

#include <algorithm>

ThumbnailStore::ThumbnailStore(Clock::duration lifetime, std::size_t mostPictures)
    : lifetime(lifetime), mostPictures(std::max<std::size_t>(1, mostPictures))
{
}

void ThumbnailStore::DropExpired(Clock::time_point now)
{
    for (auto it = pictures.begin(); it != pictures.end();)
        it = now - it->second.stored >= lifetime ? pictures.erase(it) : std::next(it);
}

void ThumbnailStore::Put(const std::string& videoId, ThumbnailFetcher::Picture picture)
{
    const Clock::time_point now = Clock::now();
    const std::lock_guard<std::mutex> hold(lock);
    DropExpired(now);
    pictures.erase(videoId);
    if (pictures.size() >= mostPictures)
    {
        const auto oldest = std::min_element(pictures.begin(), pictures.end(),
                                             [](const auto& a, const auto& b)
                                             { return a.second.stored < b.second.stored; });
        pictures.erase(oldest);
    }
    pictures[videoId] = Entry{std::move(picture), now};
}

bool ThumbnailStore::Get(const std::string& videoId, ThumbnailFetcher::Picture& picture)
{
    const std::lock_guard<std::mutex> hold(lock);
    DropExpired(Clock::now());
    const auto found = pictures.find(videoId);
    if (found == pictures.end())
        return false;
    picture = found->second.picture;
    return true;
}

std::string ThumbnailStore::PathOf(const std::string& videoId)
{
    return "/picture/" + videoId;
}
