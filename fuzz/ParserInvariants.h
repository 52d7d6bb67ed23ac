#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <wx/string.h>

// What must hold for any input to the parsers of service replies, watch-page addresses,
// output names and FLV streams. Each check returns a description of the first broken
// invariant, or the empty text when all hold, so the fuzz targets can abort on it and the
// unit tests can assert on it.
class ParserInvariants
{
public:
    // Fuzz inputs as the targets split them.
    // Reply: one length byte, that many bytes of key, the rest is the reply.
    static std::string CheckReplyInput(const std::uint8_t* data, size_t size);
    // Address: the whole input.
    static std::string CheckVideoPageInput(const std::uint8_t* data, size_t size);
    // Output name: one byte picks the extension (low bits) and whether the first name is
    // then taken (kTakeFirstName); the rest is the title. Names are made inside folder.
    static std::string CheckOutputPathInput(const std::uint8_t* data, size_t size,
                                            const wxString& folder);
    // FLV: one byte giving a count of chunk sizes, that many 16-bit big-endian sizes fed in
    // turn (none: all at once), then the stream.
    static std::string CheckExtractorInput(const std::uint8_t* data, size_t size);

    static std::string CheckReply(const wxString& key, const wxString& reply);
    static std::string CheckExtension(const wxString& type);
    static std::string CheckVideoPage(const wxString& address);
    static std::string CheckOutputPath(const wxString& folder, const wxString& title,
                                       const wxString& extension, bool takeFirstName);
    static std::string CheckExtraction(const std::string& file,
                                       const std::vector<size_t>& chunkSizes);

    static constexpr std::uint8_t kTakeFirstName = 0x08;
};
