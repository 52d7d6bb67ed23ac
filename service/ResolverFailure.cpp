#include "ResolverFailure.h"

#include "TextMatch.h"

#include <array>
#include <sstream>
#include <vector>

namespace
{
struct Rule
{
    const char* words; // lower case; found anywhere in a line
    const char* reason;
};

// yt-dlp's own words, lower-cased, in the order they are tried: what the site or the network
// said comes first, since a video that is gone or a name that does not resolve is the cause
// even when an extraction warning precedes it; the JavaScript runtime comes before the
// general signs of an outdated resolver, which its absence also produces.
// Keep service/README.md's table in step.
constexpr std::array kRules{
    Rule{"sign in to confirm", FailureReason::kSignIn},
    Rule{"members-only", FailureReason::kSignIn},
    Rule{"join this channel to get access", FailureReason::kSignIn},
    Rule{"this video is only available to music premium members", FailureReason::kSignIn},
    Rule{"login required", FailureReason::kSignIn},
    Rule{"video unavailable", FailureReason::kUnavailable},
    Rule{"private video", FailureReason::kUnavailable},
    Rule{"this video has been removed", FailureReason::kUnavailable},
    Rule{"this video is no longer available", FailureReason::kUnavailable},
    Rule{"http error 404", FailureReason::kUnavailable},
    Rule{"http error 429", FailureReason::kRateLimited},
    Rule{"too many requests", FailureReason::kRateLimited},
    Rule{"name or service not known", FailureReason::kNetwork},
    Rule{"temporary failure in name resolution", FailureReason::kNetwork},
    Rule{"failed to resolve", FailureReason::kNetwork},
    Rule{"connection refused", FailureReason::kNetwork},
    Rule{"network is unreachable", FailureReason::kNetwork},
    Rule{"no route to host", FailureReason::kNetwork},
    Rule{"timed out", FailureReason::kNetwork},
    Rule{"no supported javascript runtime", FailureReason::kNoJsRuntime},
    Rule{"nsig extraction failed", FailureReason::kOutdatedResolver},
    Rule{"signature extraction failed", FailureReason::kOutdatedResolver},
    Rule{"unable to extract", FailureReason::kOutdatedResolver},
    Rule{"requested format is not available", FailureReason::kOutdatedResolver},
    Rule{"only images are available", FailureReason::kOutdatedResolver},
    Rule{"yt-dlp -u", FailureReason::kOutdatedResolver},
    Rule{"update to the latest version", FailureReason::kOutdatedResolver},
};

const std::string kErrorMark = "ERROR:";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        if (line.find_first_not_of(" \t\r") != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

// yt-dlp's last "ERROR:" line, else its last line at all.
std::string LastErrorLine(const std::vector<std::string>& lines)
{
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
    {
        if (TextMatch::StartsWith(*line, kErrorMark))
            return *line;
    }
    return lines.empty() ? std::string() : lines.back();
}

bool IsUtf8Continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}
} // namespace

std::string ReplyMessageLine(const std::string& text)
{
    std::string line;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!IsUtf8Continuation(c) && chars++ == kMostFailureMessageChars)
            break;
        // A reply is one key a line: a line break or another control would end or garble it.
        line += (c < 0x20 || c == 0x7F) ? ' ' : char(c);
    }
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

ResolverFailure MakeResolverFailure(const char* reason, const std::string& message)
{
    return ResolverFailure{reason, ReplyMessageLine(message)};
}

ResolverFailure ClassifyResolverOutput(const std::string& standardError)
{
    const std::vector<std::string> lines = Lines(standardError);
    for (const Rule& rule : kRules)
    {
        for (const std::string& line : lines)
        {
            if (TextMatch::Lower(line).find(rule.words) != std::string::npos)
                return MakeResolverFailure(rule.reason, line);
        }
    }
    return MakeResolverFailure(FailureReason::kOther, LastErrorLine(lines));
}
