#pragma once

#include "ByteRange.h"
#include "DirectSource.h"
#include "RangedFetch.h"

#include <httplib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Serves one request for a single-file format from the service itself: the media file is
// fetched with RangedFetch and relayed as it comes. Unlike a stream piped through yt-dlp it
// has a length (once the source has said it), an ETag and byte ranges, so a client that was
// cut off continues where it stopped. A source that fails after the first byte cuts the
// response short, so the client sees a cut transfer, never a complete short file.
class DirectRelay : public std::enable_shared_from_this<DirectRelay>
{
public:
    using Clock = RangedFetch::Clock;

    // What the client asked for.
    struct Asked
    {
        std::vector<RequestedRange> ranges;
        std::string ifRange; // its If-Range, or empty
    };

    enum class Opened
    {
        Ready,   // Answer may be given
        Refused, // the source refused the address (403, 410): a new lookup may mend it
        Failed   // the error says why
    };

    // label names the stream in the log and, with the source's own length and validator, in
    // the ETag: "ID/FORMAT".
    explicit DirectRelay(std::string name) : label(std::move(name)) {}

    // Asks the source for what the client asked, at most until the deadline for its answer's
    // head; the cookie file, when there is one, is the one yt-dlp wrote. May be called again
    // with the source of a new lookup.
    Opened Open(const DirectSource& source, const std::string& cookieFile, const Asked& asked,
                Clock::time_point deadline, std::string& error);

    // Puts the answer of an opened relay into res: status, headers and the body, which keeps
    // the relay, and whatever it was told to keep, until the response is gone.
    void Answer(const std::string& type, httplib::Response& res);
    // Something the body needs until it has been sent (the lookup its cookie file belongs to).
    void Keep(std::shared_ptr<const void> owner) { kept = std::move(owner); }

    // The entity tag of a file of this length and validator, for this label.
    static std::string EntityTag(const std::string& label, std::uint64_t total,
                                 const std::string& validator);

private:
    // One step of the body; false when the transfer must be cut (the reason is logged).
    bool Next(httplib::DataSink& sink);

    const std::string label;
    std::shared_ptr<const void> kept;
    std::unique_ptr<RangedFetch> fetch;
    int status = 0;
    std::optional<std::uint64_t> length; // of the body; none: sent in chunks
    std::vector<std::pair<std::string, std::string>> headers;
    bool finished = false;
};
