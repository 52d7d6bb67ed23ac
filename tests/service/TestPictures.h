#pragma once

#include <httplib.h>

#include <string>

// Pictures the service's tests serve from a loopback server of their own. Only the first
// bytes tell a picture's kind, so the rest is text.
namespace TestPictures
{
inline const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0", 4) + "JFIF picture";
inline const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + "picture";
// The header's length field holds zeros: built from a C string it would end at the first.
inline const std::string kWebp = std::string("RIFF\x10\0\0\0", 8) + "WEBPVP8 picture";

// A JPEG at /hq.jpg, and at /moved.jpg a redirect to it.
inline void ServeJpeg(httplib::Server& routes)
{
    routes.Get("/hq.jpg", [](const httplib::Request&, httplib::Response& res)
               { res.set_content(kJpeg, "image/jpeg"); });
    routes.Get("/moved.jpg", [](const httplib::Request&, httplib::Response& res)
               { res.set_redirect("/hq.jpg"); });
}
} // namespace TestPictures
