#include "lookup/PictureFsHandler.h"

#include "lookup/HttpFsHandler.h"

#include <cstring>
#include <string>

namespace
{
const wxString kProtocol = "picture";

struct Signature
{
    const char* bytes;
    size_t length;
    const char* mimeType;
};

// WebP is left out: the toolkit (3.2.2) has no decoder for it.
const Signature kSignatures[] = {
    {"\x89PNG\r\n\x1a\n", 8, "image/png"},
    {"\xff\xd8\xff", 3, "image/jpeg"},
    {"GIF87a", 6, "image/gif"},
    {"GIF89a", 6, "image/gif"},
};
} // namespace

const char* const PictureFsHandler::kPrefix = "picture:";

bool PictureFsHandler::CanOpen(const wxString& location)
{
    return GetProtocol(location) == kProtocol;
}

wxFSFile* PictureFsHandler::OpenFile(wxFileSystem&, const wxString& location)
{
    const wxString address = location.Mid(strlen(kPrefix)).BeforeFirst('#');
    // Only the program's own client fetches it, so no other protocol gets in this way.
    if (!address.StartsWith("http://") && !address.StartsWith("https://"))
        return nullptr;
    std::string body;
    wxString announced;
    if (!HttpFsHandler::Fetch(address, body, announced))
        return nullptr;
    const wxString mimeType =
        TypeBySignature(reinterpret_cast<const unsigned char*>(body.data()), body.size());
    if (mimeType.empty())
        return nullptr;
    return new wxFSFile(HttpFsHandler::MakeStream(body), location, mimeType, wxString(),
                        wxDateTime::Now());
}

wxString PictureFsHandler::TypeBySignature(const unsigned char* data, size_t size)
{
    for (const Signature& s : kSignatures)
        if (size >= s.length && std::memcmp(data, s.bytes, s.length) == 0)
            return s.mimeType;
    return wxString();
}
