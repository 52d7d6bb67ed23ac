#pragma once

#include <string>

// The address of a page of any site that the resolver is asked to read, and the id the
// service names its video by: "a-" and 16 hexadecimal digits of a hash of the address, which
// no 11-character video id can equal.
class PageAddress
{
public:
    // An http or https address with a host, without blanks or control characters.
    static bool IsAccepted(const std::string& address);
    // The id of the video of that address.
    static std::string IdOf(const std::string& address);
    // True for ids of the form IdOf gives.
    static bool IsId(const std::string& id);
};
