#pragma once

#include "ThumbnailFetcher.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

// The pictures of resolved videos, kept as long as their lookups are, so the service can
// serve them at its own address. Requests are served on several threads.
class ThumbnailStore
{
public:
    using Clock = std::chrono::steady_clock;
    // Bounds the memory: at most this many pictures of at most the fetcher's limit each.
    static constexpr std::size_t kMostPictures = 64;

    explicit ThumbnailStore(Clock::duration lifetime, std::size_t mostPictures = kMostPictures);

    // Keeps the picture of this video, replacing an older one; the oldest picture goes when
    // the store is full.
    void Put(const std::string& videoId, ThumbnailFetcher::Picture picture);
    // False when the store holds no picture for this video, or only one past its lifetime.
    bool Get(const std::string& videoId, ThumbnailFetcher::Picture& picture);

    // The path below the service's address at which the picture of this video is served.
    static std::string PathOf(const std::string& videoId);

private:
    struct Entry
    {
        ThumbnailFetcher::Picture picture;
        Clock::time_point stored;
    };
    void DropExpired(Clock::time_point now);

    const Clock::duration lifetime;
    const std::size_t mostPictures;
    // Guards pictures: lookups put and picture requests get on the server's threads.
    std::mutex lock;
    std::map<std::string, Entry> pictures;
};
