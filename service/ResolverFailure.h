#pragma once

#include <string>

// Why a lookup failed, in the words a reply carries: one reason from a fixed list for the
// program to choose its sentence by, and one line for people.
struct ResolverFailure
{
    std::string reason;
    std::string message;
};

// The reasons a failed lookup's reply may name.
namespace FailureReason
{
constexpr const char* kUnavailable = "unavailable";
constexpr const char* kSignIn = "sign-in";
constexpr const char* kNetwork = "network";
constexpr const char* kRateLimited = "rate-limited";
constexpr const char* kOutdatedResolver = "outdated-resolver";
constexpr const char* kNoJsRuntime = "no-js-runtime";
constexpr const char* kTimeout = "timeout";
constexpr const char* kNoResolver = "no-resolver";
constexpr const char* kOther = "other";
} // namespace FailureReason

// The longest message a reply carries.
constexpr std::size_t kMostFailureMessageChars = 300;

// Reads what the resolver (yt-dlp) wrote on its standard error before it failed and names
// the reason by the first line of the table (in ResolverFailure.cpp) that matches any of its
// lines; the message is that line, or yt-dlp's last error line when none matches.
ResolverFailure ClassifyResolverOutput(const std::string& standardError);

// A failure with a reason known without reading yt-dlp's words (the time bound, a program
// that cannot run); message is made fit for a reply.
ResolverFailure MakeResolverFailure(const char* reason, const std::string& message);

// One line of text fit for a reply: control characters blanked, at most
// kMostFailureMessageChars characters (UTF-8 sequences kept whole), blanks trimmed.
std::string ReplyMessageLine(const std::string& text);
