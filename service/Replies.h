#pragma once

#include "Catalogue.h"

#include <string>

// The texts the service answers with, apart from the HTTP plumbing.

// The title with the characters removed that file names, shells and the line-based reply
// dislike; letters beyond ASCII stay.
std::string CleanTitle(const std::string& title);

// "http://HOST:PORT" as a client should address this service: the Host it asked for when
// it named one, otherwise the address and port the service listens on.
std::string BaseUrl(const std::string& hostHeader, const std::string& bindAddress, int port);

// The "key:value" lines for one video, its addresses under baseUrl.
std::string VideoReply(const Catalogue::Video& video, const std::string& baseUrl);
std::string FailReply();
std::string VersionReply(const std::string& version);

// A catalogue file name made safe to put into an address.
std::string EncodePath(const std::string& name);

// The MIME type a file is served with, from its name's ending.
std::string ContentTypeOf(const std::string& file);
