#pragma once

#include <wx/string.h>

#include <string>

typedef void CURL;

// One libcurl transfer of a text document or a picture from the service, with the program's
// bounds: http and https only (redirects too), a time limit for the whole transfer, and a
// longest body. The virtual file system's handler runs it at once; a lookup runs it on a
// thread of its own.
class DocumentRequest
{
public:
    // Longest document read: a longer or endless reply fails as one that cannot be opened.
    static constexpr long kMaxDocumentBytes = 1024L * 1024;

    explicit DocumentRequest(const wxString& address);
    ~DocumentRequest();
    DocumentRequest(const DocumentRequest&) = delete;
    DocumentRequest& operator=(const DocumentRequest&) = delete;

    // The configured transfer, or null when libcurl could not make one.
    CURL* Handle() const { return curl; }
    // Whether the finished transfer (result: its CURLcode) read a whole document: false for
    // a failed transfer, an error status or a reply past the limit.
    bool Succeeded(int result) const;
    std::string& Body() { return body; }
    // The reply's content type without parameters, or empty.
    wxString MimeType() const;

    // Whole time allowed for connecting and reading one document; set by start-up and tests,
    // read by each request.
    static long GetTimeoutSeconds();
    static void SetTimeoutSeconds(long seconds);

private:
    static size_t AppendBody(char* data, size_t size, size_t count, void* userdata);

    CURL* curl = nullptr;
    // The address as libcurl keeps reading it until the transfer ends.
    std::string url;
    std::string body;
    // Set when the reply went past the limit, so the transfer was cut there on purpose.
    bool tooLong = false;
};
