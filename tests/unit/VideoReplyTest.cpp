#include "lookup/VideoReply.h"
#include "lookup/LookupFailure.h"

#include <gtest/gtest.h>

TEST(VideoReplyTest, TheMp3EntryFollowsTheLastFlvRecordWhileTheTableHasRoom)
{
    const VideoReply reply = ParseVideoReplyText(
        "status:ok\ntitle:T\nnrecords:3\ntype0:video/x-flv\nquality0:small\nurl0:A\n"
        "type1:video/mp4\nquality1:medium\ntype2:video/flv\nquality2:large\nurl2:C\n");
    ASSERT_TRUE(reply.ok);
    ASSERT_EQ(4u, reply.records.size());
    EXPECT_EQ(2, reply.flvIndex);
    EXPECT_TRUE(IsMp3Entry(reply.records[3]));
    EXPECT_EQ("C", reply.records[3].url);
    EXPECT_EQ(".mp3", reply.records[3].extension);
    EXPECT_EQ(kMp3Line, FormatsLine(reply.records[3]));
    EXPECT_EQ("video/mp4 medium", FormatsLine(reply.records[1]));

    // The service names the sound where it knows it: an FLV stream of AAC sound has no MP3
    // to copy, so the MP3 entry follows the FLV stream of MP3 sound before it.
    const VideoReply aacLast =
        ParseVideoReplyText("status:ok\nnrecords:2\ntype0:video/x-flv\nurl0:A\nsound0:mp3\n"
                            "type1:video/x-flv\nurl1:B\nsound1:AAC\n");
    ASSERT_EQ(3u, aacLast.records.size());
    EXPECT_EQ(0, aacLast.flvIndex);
    EXPECT_EQ("A", aacLast.records[2].url);
    const VideoReply aacOnly =
        ParseVideoReplyText("status:ok\nnrecords:1\ntype0:video/x-flv\nsound0:speex\n");
    EXPECT_EQ(-1, aacOnly.flvIndex);
    EXPECT_EQ(1u, aacOnly.records.size());
    EXPECT_EQ(
        ".ts",
        ParseVideoReplyText("status:ok\nnrecords:1\ntype0:video/mp2t\n").records[0].extension);

    wxString full = "status:ok\nnrecords:32\n";
    for (int i = 0; i < 32; ++i)
        full += wxString::Format("type%d:video/x-flv\n", i);
    EXPECT_EQ(32u, ParseVideoReplyText(full).records.size()) << "no room for the MP3 entry";
}

TEST(VideoReplyTest, AFailedLookupKeepsTheServicesReasonAndNothingElse)
{
    const VideoReply failed =
        ParseVideoReplyText("status:fail\nreason:network\nmessage:ERROR: x\ntitle:T\nnrecords:1\n");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ("network", failed.failureReason);
    EXPECT_EQ("ERROR: x", failed.failureMessage);
    EXPECT_TRUE(failed.records.empty());
    EXPECT_EQ("", failed.title);

    // Every reason has a sentence of its own; an unknown one the general sentence; none
    // (an older service) no sentence at all.
    const char* reasons[] = {"unavailable",       "sign-in",       "network", "rate-limited",
                             "outdated-resolver", "no-js-runtime", "timeout", "no-resolver"};
    const wxString general = LookupFailureText("other");
    for (const char* reason : reasons)
        EXPECT_NE(general, LookupFailureText(reason)) << reason;
    EXPECT_EQ(general, LookupFailureText("something-new"));
    EXPECT_EQ("", LookupFailureText(""));
}
