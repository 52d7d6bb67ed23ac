#pragma once

#include "Catalogue.h"
#include "ResolverFailure.h"

#include <string>
#include <vector>

// The texts the service answers with, apart from the HTTP plumbing.

// The title with the characters removed that file names, shells and the line-based reply
// dislike; letters beyond ASCII stay.
std::string CleanTitle(const std::string& title);

// "http://HOST:PORT" as a client should address this service: the Host it asked for when
// it named one, otherwise the address and port the service listens on.
std::string BaseUrl(const std::string& hostHeader, const std::string& bindAddress, int port);

// One stream of a reply, its values as they are sent.
struct ReplyRecord
{
    std::string itag;
    std::string url;
    std::string type;
    std::string quality;
    std::string size;
    std::string sound; // the sound codec, written only when known
};

// The "key:value" lines for one video. A value cannot hold a line break, so every control
// character in one becomes a blank; an empty clean title becomes the id.
std::string VideoReply(const std::string& id, const std::string& title,
                       const std::string& thumbnailUrl, const std::vector<ReplyRecord>& records);
// The same for a catalogue video, its addresses under baseUrl.
std::string VideoReply(const Catalogue::Video& video, const std::string& baseUrl);
// "status:fail" with the reason (one word of FailureReason) and the message for people.
std::string FailReply(const ResolverFailure& failure);
std::string VersionReply(const std::string& version);

// A catalogue file name made safe to put into an address.
std::string EncodePath(const std::string& name);

// The MIME type a file is served with, from its name's ending.
std::string ContentTypeOf(const std::string& file);
