#include <gtest/gtest.h>

#include "support/CaseName.h"

#include "lookup/ReplyFormat.h"

namespace
{
struct ReplyCase
{
    const char* key;
    const char* reply;
    const char* value;
};

void PrintTo(const ReplyCase& c, std::ostream* os)
{
    *os << "key \"" << c.key << "\" in \"" << c.reply << '"';
}

const char kServiceReply[] = "status:ok\r\n"
                             "url1: http://host/1 \r\n"
                             "url10:http://host/10\r\n"
                             "title:A: B\r\n";

const ReplyCase kReplyCases[] = {
    {"status", kServiceReply, "ok"},
    {"status:", kServiceReply, "ok"},
    {"status \t", kServiceReply, "ok"},
    {"url1", kServiceReply, "http://host/1"},
    {"url10", kServiceReply, "http://host/10"},
    {"title", kServiceReply, "A: B"},
    {"Status", kServiceReply, ""},
    {"missing", kServiceReply, ""},
    {"url1", "url10:http://host/10\n", ""},
    {"status", "statusx:no\n", ""},
    {"status", " status:ok\n", ""},
    {"status", "\tstatus:ok\n", ""},
    {"key", "key:first\nkey:second\n", "first"},
    {"key", "\n\n\nkey:after blank lines", "after blank lines"},
    {"key", "other:1\nkey:\t spaced  out \t\r\n", "spaced  out"},
    {"key", "key:", ""},
    {"key", "", ""},
    {"a:b", "a:b:c\n", "c"},
    {"", ":unnamed\n", "unnamed"},
};

class ReplyValueTest : public testing::TestWithParam<ReplyCase>
{
};

struct TypeCase
{
    const char* type;
    const char* extension;
};

void PrintTo(const TypeCase& c, std::ostream* os)
{
    *os << '"' << c.type << '"';
}

const TypeCase kTypeCases[] = {
    {"video/mp4", ".mp4"},
    {"audio/mp4", ".mp4"},
    {"audio/m4a", ".m4a"},
    {"video/x-flv", ".flv"},
    {"video/flv", ".flv"},
    {"video/3gpp", ".3gp"},
    {"video/3gp", ".3gp"},
    {"video/webm", ".webm"},
    {"audio/mp3", ".mp3"},
    {"video/mp4; codecs=\"avc1.42001E, mp4a.40.2\"", ".mp4"},
    {"video/webm; codecs=\"vp8.0, vorbis\"", ".webm"},
    // The row order decides, not the order in the text.
    {"video/mp4 video/webm", ".webm"},
    {"video/webm video/mp4", ".webm"},
    {"audio/mp4 audio/m4a", ".mp4"},
    {"audio/mp3 video/3gpp", ".mp3"},
    {"VIDEO/MP4", ""},
    {"mp4", ""},
    {"audio/mpeg", ""},
    {"text/plain", ""},
    {"", ""},
};

class ExtensionForTypeTest : public testing::TestWithParam<TypeCase>
{
};
} // namespace

TEST_P(ReplyValueTest, FindsValueOfKey)
{
    const ReplyCase& c = GetParam();
    EXPECT_EQ(wxString(c.value), GetReplyValue(c.key, c.reply));
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyValueTest, testing::ValuesIn(kReplyCases),
                         CaseNameFromPrint());

TEST_P(ExtensionForTypeTest, MapsTypeToExtension)
{
    const TypeCase& c = GetParam();
    EXPECT_EQ(wxString(c.extension), ExtensionForType(c.type));
}

INSTANTIATE_TEST_SUITE_P(Types, ExtensionForTypeTest, testing::ValuesIn(kTypeCases),
                         CaseNameFromPrint());
