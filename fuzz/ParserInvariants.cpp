#include "fuzz/ParserInvariants.h"

#include "download/OutputPath.h"
#include "download/StreamAudioExctractor.h"
#include "fuzz/FlvWholeFileReader.h"
#include "fuzz/FuzzInput.h"
#include "lookup/ReplyFormat.h"
#include "lookup/VideoPageUrl.h"

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/regex.h>

#include <algorithm>
#include <iterator>

namespace
{
const wxString kLineBreak = "\n";
const wxString kKeyEnd = ":";
const wxUniChar kSeparator = '/';
const wxUniChar kNul = wxUniChar(0);
// What begins the name of a hidden file.
const wxString kHiddenMark = ".";
// How a second name for a taken first one is told apart.
const wxString kFirstNumberSuffix = "-1";

// The extensions the program hands to the output naming: what ExtensionForType can answer
// and the MP3 of the converter. Arbitrary extensions are not a case: no caller passes one.
const wxString kCallerExtensions[] = {"", ".mp4", ".m4a", ".flv", ".3gp", ".webm", ".mp3"};
constexpr size_t kCallerExtensionCount = std::size(kCallerExtensions);
constexpr std::uint8_t kExtensionPickMask = 0x07;

// Which part of a MIME type names which extension. A type may name several; then any of
// its extensions is a fair answer.
struct TypeMark
{
    const char* part;
    const char* extension;
};
const TypeMark kTypeMarks[] = {
    {"/m4a", ".m4a"}, {"/mp4", ".mp4"},   {"/x-flv", ".flv"}, {"/flv", ".flv"},
    {"/3gp", ".3gp"}, {"/webm", ".webm"}, {"/mp3", ".mp3"},
};

const wxString kIdMarker = "v=";

// Below this much input the extractor's Feed does not parse and so cannot reject.
constexpr size_t kExtractorParseThreshold = 25;
const std::string kFlvSignature = "FLV";

constexpr size_t kQuotedLimit = 120;
const char kHexDigits[] = "0123456789abcdef";
constexpr int kNibbleBits = 4;
constexpr unsigned char kNibbleMask = 0x0f;

// The text in UTF-8 with control characters escaped, cut short, for the failure messages.
std::string Quote(const wxString& text)
{
    const wxScopedCharBuffer utf8 = text.utf8_str();
    std::string quoted = "\"";
    for (size_t i = 0; i < utf8.length() && i < kQuotedLimit; ++i)
    {
        const unsigned char c = utf8.data()[i];
        if (c < ' ' || c == '"' || c == '\\')
        {
            quoted += "\\x";
            quoted += kHexDigits[c >> kNibbleBits];
            quoted += kHexDigits[c & kNibbleMask];
        }
        else
            quoted += char(c);
    }
    if (utf8.length() > kQuotedLimit)
        quoted += "...";
    return quoted + "\"";
}

std::string Describe(const char* call, const wxString& argument, const wxString& result,
                     const char* broken)
{
    return std::string(call) + "(" + Quote(argument) + ") = " + Quote(result) + ": " + broken;
}

bool IsBlank(wxUniChar ch)
{
    return wxIsspace(ch) != 0;
}

// "key:" as the reply format writes a key; a key given with its colon keeps it.
wxString KeyAsWritten(const wxString& key)
{
    wxString written(key);
    written.Trim(true);
    if (!written.EndsWith(kKeyEnd))
        written += kKeyEnd;
    return written;
}

wxString TrimmedBothEnds(wxString text)
{
    text.Trim(true);
    text.Trim(false);
    return text;
}

// The watch-page pattern as a regular expression, compiled once. The toolkit's matcher is
// the reference, but its time grows with the square of the text, it gives up on long texts,
// and it reads through the C library, which sees only up to a NUL and cannot take what the
// locale cannot spell: longer texts and those with other characters are not compared.
const char kWatchPagePattern[] = "^(http|https)://(.*)youtube(.+)v=(.+)";
constexpr size_t kPatternTextLimit = 400;
constexpr wxUniChar::value_type kLastAscii = 0x7f;

bool PatternApplies(const wxString& lowered)
{
    if (lowered.length() > kPatternTextLimit)
        return false;
    for (const wxUniChar ch : lowered)
        if (ch == kNul || ch.GetValue() > kLastAscii)
            return false;
    return true;
}

bool MatchesWatchPagePattern(const wxString& lowered)
{
    static const wxRegEx pattern(kWatchPagePattern);
    return pattern.IsValid() && pattern.Matches(lowered);
}

// Hosts of the site, as an address written by hand or copied begins.
const char* const kSitePrefixes[] = {"https://www.youtube.com/", "http://www.youtube.com/",
                                     "https://youtube.com/", "https://m.youtube.com/",
                                     "https://music.youtube.com/"};
const wxString kWatchPath = "/watch?";
constexpr size_t kLongestSchemeLength = 5;
const wxString kHostEnds = "/?#\\";

bool HasSitePrefix(const wxString& lowered)
{
    for (const char* prefix : kSitePrefixes)
        if (lowered.StartsWith(prefix))
            return true;
    return false;
}

// An "http" or "https" address whose host part holds neither "youtube" nor "youtu.be".
bool HostNamesNoSite(const wxString& lowered)
{
    const wxString schemeEnd = "://";
    const size_t hostAt = lowered.find(schemeEnd);
    if (!lowered.StartsWith("http") || hostAt == wxString::npos || hostAt > kLongestSchemeLength)
        return false;
    size_t end = hostAt + schemeEnd.length();
    while (end < lowered.length() && kHostEnds.Find(lowered[end]) == wxNOT_FOUND)
        ++end;
    const wxString host =
        lowered.Mid(hostAt + schemeEnd.length(), end - hostAt - schemeEnd.length());
    return !host.Contains("youtube") && !host.Contains("youtu.be");
}

wxString AsciiUpper(const wxString& text)
{
    wxString upper;
    upper.reserve(text.length());
    for (const wxUniChar ch : text)
        upper += (ch >= 'a' && ch <= 'z') ? wxUniChar(ch.GetValue() - 'a' + 'A') : ch;
    return upper;
}

// In the file-name encoding, or in UTF-8 where that encoding cannot spell the name: the
// output naming falls back the same way, and so does the file system in practice.
size_t NameBytes(const wxString& name)
{
    const auto native = name.fn_str();
    return native.length() > 0 ? native.length() : name.utf8_str().length();
}

std::string CheckName(const wxString& folder, const wxString& path, const wxString& extension)
{
    const wxString prefix = folder + kSeparator;
    if (!path.StartsWith(prefix))
        return Describe("MakeOutputPath", folder, path, "does not start with the folder");
    const wxString name = path.Mid(prefix.length());
    if (name.empty())
        return Describe("MakeOutputPath", folder, path, "names the folder itself");
    if (name.Find(kSeparator) != wxNOT_FOUND)
        return Describe("MakeOutputPath", folder, path, "file name holds a separator");
    if (name.Find(kNul) != wxNOT_FOUND)
        return Describe("MakeOutputPath", folder, path, "file name holds a NUL");
    // Also rules out the folder links "." and "..".
    if (name.StartsWith(kHiddenMark))
        return Describe("MakeOutputPath", folder, path, "file name is hidden");
    if (NameBytes(name) > kMaxFileNameBytes)
        return Describe("MakeOutputPath", folder, path, "file name longer than allowed");
    if (!name.EndsWith(extension))
        return Describe("MakeOutputPath", extension, path, "extension lost");
    if (wxFileName::FileExists(path))
        return Describe("MakeOutputPath", folder, path, "names an existing file");
    return std::string();
}

std::string Contents(const wxMemoryOutputStream& stream)
{
    std::string bytes(stream.GetLength(), '\0');
    if (!bytes.empty())
        stream.CopyTo(&bytes[0], bytes.size());
    return bytes;
}

std::string DescribeBytes(const std::string& bytes)
{
    return Quote(wxString::From8BitData(bytes.data(), bytes.size())) + " (" +
           std::to_string(bytes.size()) + " bytes)";
}
} // namespace

std::string ParserInvariants::CheckReplyInput(const std::uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string key = input.TakeBytes(input.TakeByte());
    const std::string reply = input.TakeRest();
    std::string broken = CheckReply(FuzzInput::FromUtf8(key), FuzzInput::FromUtf8(reply));
    if (broken.empty())
        broken = CheckReply(FuzzInput::From8Bit(key), FuzzInput::From8Bit(reply));
    if (broken.empty())
        broken = CheckExtension(FuzzInput::FromUtf8(reply));
    if (broken.empty())
        broken = CheckExtension(FuzzInput::From8Bit(reply));
    return broken;
}

std::string ParserInvariants::CheckVideoPageInput(const std::uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string address = input.TakeRest();
    std::string broken = CheckVideoPage(FuzzInput::FromUtf8(address));
    if (broken.empty())
        broken = CheckVideoPage(FuzzInput::From8Bit(address));
    return broken;
}

std::string ParserInvariants::CheckOutputPathInput(const std::uint8_t* data, size_t size,
                                                   const wxString& folder)
{
    FuzzInput input(data, size);
    const std::uint8_t choice = input.TakeByte();
    const wxString& extension =
        kCallerExtensions[(choice & kExtensionPickMask) % kCallerExtensionCount];
    const bool takeFirst = (choice & kTakeFirstName) != 0;
    const std::string title = input.TakeRest();
    std::string broken = CheckOutputPath(folder, FuzzInput::FromUtf8(title), extension, takeFirst);
    if (broken.empty())
        broken = CheckOutputPath(folder, FuzzInput::From8Bit(title), extension, takeFirst);
    return broken;
}

std::string ParserInvariants::CheckExtractorInput(const std::uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    std::vector<size_t> chunkSizes(input.TakeByte());
    for (size_t& chunk : chunkSizes)
        chunk = input.TakeBigEndian16();
    return CheckExtraction(input.TakeRest(), chunkSizes);
}

std::string ParserInvariants::CheckReply(const wxString& key, const wxString& reply)
{
    const wxString value = GetReplyValue(key, reply);
    if (value.Contains(kLineBreak))
        return Describe("GetReplyValue", key, value, "value holds a line break");
    if (!value.empty() && (IsBlank(value[0]) || IsBlank(value.Last())))
        return Describe("GetReplyValue", key, value, "value not trimmed");

    const wxString written = KeyAsWritten(key);
    if (!value.empty())
    {
        bool fromKeyLine = false;
        for (size_t start = 0; start <= reply.length() && !fromKeyLine;)
        {
            size_t end = reply.find(kLineBreak, start);
            if (end == wxString::npos)
                end = reply.length();
            const wxString line = reply.Mid(start, end - start);
            fromKeyLine =
                line.StartsWith(written) && line.find(value, written.length()) != wxString::npos;
            start = end + 1;
        }
        if (!fromKeyLine)
            return Describe("GetReplyValue", key, value, "value is not on a line of the key");
    }

    // A key line put first must be the one read, whatever follows it.
    if (written.Contains(kLineBreak))
        return std::string();
    const wxString firstLine = reply.BeforeFirst('\n');
    const wxString expected = TrimmedBothEnds(firstLine);
    const wxString read = GetReplyValue(key, written + firstLine + kLineBreak + reply);
    if (read != expected)
        return Describe("GetReplyValue", key, read, "first key line not read back");
    return std::string();
}

std::string ParserInvariants::CheckExtension(const wxString& type)
{
    const wxString extension = ExtensionForType(type);
    bool named = false;
    bool explained = extension.empty();
    for (const TypeMark& mark : kTypeMarks)
    {
        if (!type.Contains(mark.part))
            continue;
        named = true;
        explained = explained || extension == mark.extension;
    }
    if (named == extension.empty())
        return Describe("ExtensionForType", type, extension,
                        named ? "known type without extension" : "extension for unknown type");
    if (!explained)
        return Describe("ExtensionForType", type, extension, "extension the type does not name");
    return std::string();
}

std::string ParserInvariants::CheckVideoPage(const wxString& address)
{
    const bool isPage = IsVideoPageUrl(address);
    const wxString lowered = address.Lower();
    const bool sitePrefix = HasSitePrefix(lowered);
    // On the site's own hosts the pattern still decides; on a host that does not even name
    // the site, no "v=" makes a video address.
    if (sitePrefix && PatternApplies(lowered) && MatchesWatchPagePattern(lowered) && !isPage)
        return Describe("IsVideoPageUrl", address, "false",
                        "refuses the watch-page pattern on the site's host");
    if (isPage && HostNamesNoSite(lowered))
        return Describe("IsVideoPageUrl", address, "true", "takes another host's address");
    if (IsVideoPageUrl(AsciiUpper(address)) != isPage)
        return Describe("IsVideoPageUrl", address, isPage ? "true" : "false",
                        "changes with letter case");

    const wxString id = GetVideoId(address);
    if (!id.empty() && id.length() != kVideoIdLength)
        return Describe("GetVideoId", address, id, "id of the wrong length");
    wxString expected;
    const size_t marker = address.find(kIdMarker);
    if (isPage && marker != wxString::npos &&
        marker + kIdMarker.length() + kVideoIdLength <= address.length())
        expected = address.Mid(marker + kIdMarker.length(), kVideoIdLength);
    // A watch page gives the characters after its first marker; the other forms an id that
    // stands in the path.
    const bool watchPage = sitePrefix && lowered.find(kWatchPath) != wxString::npos &&
                           lowered.find(kWatchPath) < lowered.find('?');
    if ((watchPage && id != expected) ||
        (!id.empty() && id != expected && !address.Contains("/" + id)))
        return Describe("GetVideoId", address, id,
                        "not the characters after the first id marker of a watch page");
    return std::string();
}

std::string ParserInvariants::CheckOutputPath(const wxString& folder, const wxString& title,
                                              const wxString& extension, bool takeFirstName)
{
    const wxString first = MakeOutputPath(folder, title, extension);
    std::string broken = CheckName(folder, first, extension);
    if (!broken.empty() || !takeFirstName)
        return broken;

    // Only a name the file system can be asked for can be taken; the others are checked
    // above as far as they can be.
    if (first.fn_str().length() == 0)
        return std::string();
    wxLogNull creationErrorsAreReportedBelow;
    wxFile taken;
    if (!taken.Create(first))
        return Describe("MakeOutputPath", title, first, "name cannot be created");
    taken.Close();
    const wxString second = MakeOutputPath(folder, title, extension);
    broken = CheckName(folder, second, extension);
    if (broken.empty() && !second.EndsWith(kFirstNumberSuffix + extension))
        broken = Describe("MakeOutputPath", first, second, "second name is not numbered 1");
    if (!wxRemoveFile(first) && broken.empty())
        broken = Describe("wxRemoveFile", first, second, "taken name cannot be removed");
    return broken;
}

std::string ParserInvariants::CheckExtraction(const std::string& file,
                                              const std::vector<size_t>& chunkSizes)
{
    const FlvWholeFileReader::Result whole = FlvWholeFileReader::Read(file);
    wxMemoryOutputStream out;
    StreamAudioExctractor extractor;
    extractor.Open(&out);

    // Sizes of all zero would never finish; the stream then goes in at once.
    const bool inOnePiece =
        std::all_of(chunkSizes.begin(), chunkSizes.end(), [](size_t chunk) { return chunk == 0; });
    bool accepted = true;
    size_t fed = 0;
    size_t turn = 0;
    // As the converter does: stop feeding at the first rejection.
    while (fed < file.size() && accepted)
    {
        size_t chunk = file.size() - fed;
        if (!inOnePiece)
            chunk = std::min(chunk, chunkSizes[turn++ % chunkSizes.size()]);
        accepted = extractor.Feed(file.data() + fed, chunk);
        fed += chunk;
        // One unit (header or tag), one chunk and what waits below the parsing threshold.
        const size_t bound = whole.largestUnit + chunk + kExtractorParseThreshold;
        if (extractor.BufferedBytes() > bound)
            return "StreamAudioExctractor holds " + std::to_string(extractor.BufferedBytes()) +
                   " bytes after " + std::to_string(fed) + " fed, more than " +
                   std::to_string(bound);
    }
    extractor.Finish();
    const std::string sound = Contents(out);

    const bool signatureOk = file.compare(0, kFlvSignature.size(), kFlvSignature) == 0;
    if (!accepted && signatureOk && !whole.foreignSound)
        return "StreamAudioExctractor rejected a stream with the FLV signature and MP3 sound";
    if (signatureOk && extractor.Rejected() != whole.foreignSound)
        return whole.foreignSound ? "StreamAudioExctractor accepted sound other than MP3"
                                  : "StreamAudioExctractor rejected MP3 sound";
    if (accepted && !signatureOk && file.size() >= kExtractorParseThreshold)
        return "StreamAudioExctractor accepted " + std::to_string(file.size()) +
               " bytes without the FLV signature";
    if (extractor.WriteFailed())
        return "StreamAudioExctractor reports a failed write to memory";
    if (extractor.BufferedBytes() != 0)
        return "StreamAudioExctractor holds " + std::to_string(extractor.BufferedBytes()) +
               " bytes after Finish";
    if (sound != whole.sound)
        return "StreamAudioExctractor wrote " + DescribeBytes(sound) + ", the whole file has " +
               DescribeBytes(whole.sound);
    return std::string();
}
