#include "support/ClipboardCheck.h"
#include "support/GuiTestSupport.h"
#include "support/ServiceProcess.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "ui/NorvikFrame.h"

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/file.h>
#include <wx/html/htmlwin.h>
#include <wx/image.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>

namespace
{
const char* const kVideoId = "TestVideo01";
const char* const kTitle = "Test: clip";
// An id as the address gives it: any eleven characters, a blank and a lone percent sign
// among them.
const char* const kAwkwardId = "Ab dEf%GhIj";
const char* const kAwkwardTitle = "Awkward id";

// A catalogue of the test's own: one video with an MP4, a WebM and an FLV stream.
void WriteCatalogue(const TempDir& dir)
{
    WriteFileText(dir.File("a.mp4"), "mp4 bytes");
    WriteFileText(dir.File("b.webm"), "webm bytes");
    WriteFileText(dir.File("c.flv"), "flv bytes");
    WriteFileText(dir.File("t.png"), "not really a picture");
    WriteFileText(dir.File("catalogue.json"),
                  wxString::Format(R"({"videos":[{"id":"%s","title":"%s","thumbnail":"t.png",
                      "streams":[{"itag":18,"type":"video/mp4","quality":"medium","file":"a.mp4"},
                                 {"itag":43,"type":"video/webm","quality":"large","file":"b.webm"},
                                 {"itag":5,"type":"video/x-flv","quality":"small","file":"c.flv"}]},
                                 {"id":"%s","title":"%s","thumbnail":"t.png",
                      "streams":[{"itag":18,"type":"video/mp4","quality":"medium","file":"a.mp4"}]}]})",
                                   kVideoId, kTitle, kAwkwardId, kAwkwardTitle));
}

wxString WatchPage(const wxString& id)
{
    return "https://www.youtube.com/watch?v=" + id;
}

class VideoLookupTest : public testing::Test
{
protected:
    void SetUp() override
    {
        WriteCatalogue(data);
        ASSERT_TRUE(
            service.Start(NORVIK_BUILD_DIR "/norvik-service",
                          {"--catalogue", std::string(data.File("catalogue.json").utf8_str())}))
            << service.Error();
        WriteSettings(service.BaseUrl());
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        frame->tickTimer.Stop();
    }
    void TearDown() override { delete frame; }

    void WriteSettings(const std::string& serviceUrl)
    {
        ASSERT_TRUE(WriteFileText(wxGetHomeDir() + "/.Norvik",
                                  "ServiceUrl=" + wxString(serviceUrl) + "\nVideoPath=" +
                                      videos.Path() + "\nAudioPath=" + audio.Path() + "\n"));
    }

    void Load(const wxString& address)
    {
        frame->urlText->SetValue(address);
        wxCommandEvent click(wxEVT_BUTTON, NorvikFrame::ID_BUTTON2);
        frame->LoadVideo(click);
        EXPECT_TRUE(WaitForLookup(frame));
    }

    TempDir data;
    TempDir videos;
    TempDir audio;
    ServiceProcess service;
    NorvikFrame* frame = nullptr;
};
} // namespace

TEST_F(VideoLookupTest, LoadListsTheFormatsAndAnMp3EntryWithItsOwnTempFile)
{
    Load(WatchPage(kVideoId));
    ASSERT_EQ(4u, frame->formatsList->GetCount());
    EXPECT_EQ("video/mp4 medium", frame->formatsList->GetString(0));
    EXPECT_EQ("video/webm large", frame->formatsList->GetString(1));
    EXPECT_EQ("video/x-flv small", frame->formatsList->GetString(2));
    EXPECT_EQ("audio/mp3 audio/music", frame->formatsList->GetString(3));
    EXPECT_EQ(0, frame->formatsList->GetSelection());
    EXPECT_TRUE(frame->downloadButton->IsEnabled());
    EXPECT_EQ(kTitle, frame->titleText->GetValue());
    EXPECT_TRUE(frame->thumbnailUrl.StartsWith("http://127.0.0.1:"));
    EXPECT_EQ(4, frame->recordCount);
    EXPECT_EQ(2, frame->flvIndex);

    EXPECT_EQ(videos.File("Test: clip.mp4"), frame->records[0].outputPath);
    const StreamRecord& mp3 = frame->records[3];
    EXPECT_EQ("mp3", mp3.type);
    EXPECT_EQ(".mp3", mp3.extension);
    EXPECT_EQ(audio.File("Test: clip.mp3"), mp3.outputPath);
    EXPECT_EQ(frame->records[2].url, mp3.url);
    EXPECT_NE(frame->records[2].tempPath, mp3.tempPath);
    for (int i = 0; i < frame->recordCount; ++i)
    {
        EXPECT_TRUE(wxFileName(frame->records[i].tempPath).GetFullName().StartsWith("NK-"));
        EXPECT_TRUE(wxFileExists(frame->records[i].tempPath));
    }
}

TEST_F(VideoLookupTest, SecondLoadEmptiesTheFirstAndRemovesItsUnusedTempFiles)
{
    Load(WatchPage(kVideoId));
    ASSERT_EQ(4, frame->recordCount);
    const wxString earlierTemp = frame->records[0].tempPath;
    Load(WatchPage("UnknownId00"));
    EXPECT_EQ(0u, frame->formatsList->GetCount());
    EXPECT_EQ(0, frame->recordCount);
    EXPECT_EQ("", frame->titleText->GetValue());
    EXPECT_FALSE(frame->downloadButton->IsEnabled());
    EXPECT_FALSE(wxFileExists(earlierTemp));
}

TEST_F(VideoLookupTest, RefusedAddressSaysSoInTheTitleField)
{
    for (const char* address : {"", " https://www.youtube.com/watch?v=TestVideo01",
                                "https://www.youtube.com/watch?V=TestVideo01"})
    {
        Load(address);
        EXPECT_EQ("Not a valid URL", frame->titleText->GetValue()) << address;
        EXPECT_EQ(0u, frame->formatsList->GetCount());
        EXPECT_FALSE(frame->downloadButton->IsEnabled());
    }
}

TEST_F(VideoLookupTest, ServiceDownShowsTheMessageAndLeavesThePanelEmpty)
{
    service.Stop();
    WriteSettings("http://127.0.0.1:1");
    class ExpectMessage : public wxExpectModal<wxMessageDialog>
    {
    public:
        ExpectMessage() : wxExpectModal<wxMessageDialog>(wxID_OK) {}

    protected:
        int OnInvoked(wxMessageDialog* dlg) const override
        {
            EXPECT_EQ("API Server is not responding - Please retry later 2.", dlg->GetMessage());
            return wxID_OK;
        }
    };
    wxTEST_DIALOG(Load(WatchPage(kVideoId)), ExpectMessage());
    EXPECT_EQ(0u, frame->formatsList->GetCount());
    EXPECT_FALSE(frame->downloadButton->IsEnabled());
}

TEST_F(VideoLookupTest, AnEndlessReplyEndsSoonWithTheMessageOfAServiceThatFailed)
{
    TestHttpServer endless;
    endless.Routes().Get("/api/",
                         [&](const httplib::Request&, httplib::Response& res)
                         {
                             res.set_chunked_content_provider(
                                 "text/plain",
                                 [&](size_t, httplib::DataSink& sink)
                                 {
                                     const std::string line = "status:ok\n";
                                     std::string chunk;
                                     while (chunk.size() < 64 * 1024)
                                         chunk += line;
                                     while (!endless.Stopping() && sink.is_writable())
                                         if (!sink.write(chunk.data(), chunk.size()))
                                             return false;
                                     return false;
                                 });
                         });
    ASSERT_TRUE(endless.Start());
    WriteSettings(endless.Url(""));
    class ExpectMessage : public wxExpectModal<wxMessageDialog>
    {
    public:
        ExpectMessage() : wxExpectModal<wxMessageDialog>(wxID_OK) {}

    protected:
        int OnInvoked(wxMessageDialog* dlg) const override
        {
            EXPECT_EQ("API Server is not responding - Please retry later 2.", dlg->GetMessage());
            return wxID_OK;
        }
    };
    const wxLongLong started = wxGetLocalTimeMillis();
    wxTEST_DIALOG(Load(WatchPage(kVideoId)), ExpectMessage());
    EXPECT_LT((wxGetLocalTimeMillis() - started).ToLong(), 5000);
    EXPECT_EQ(0u, frame->formatsList->GetCount());
}

TEST_F(VideoLookupTest, AMalformedPictureNeverReachesADecoder)
{
    // A PNM picture whose maximum is 0, 14 bytes: the toolkit's PNM decoder divides by it.
    const char pnm[] = "P6\n2 2\n0\n\x01\x02\x03\x04\x05";
    wxFile picture(data.File("t.png"), wxFile::write);
    ASSERT_TRUE(picture.Write(pnm, sizeof pnm - 1));
    picture.Close();
    Load(WatchPage(kVideoId));
    EXPECT_EQ(kTitle, frame->titleText->GetValue());
    EXPECT_EQ(4, frame->recordCount);
    EXPECT_TRUE(frame->ShowVideoPreview()) << "shown again, the picture still does no harm";
    EXPECT_FALSE(wxImage::FindHandler(wxBITMAP_TYPE_PNM)) << "only the decoders a picture needs";
    EXPECT_TRUE(wxImage::FindHandler(wxBITMAP_TYPE_PNG));
}

TEST_F(VideoLookupTest, IdIsEscapedInTheRequestAndTheServiceAddressMayEndInASlash)
{
    Load(WatchPage(kAwkwardId));
    EXPECT_EQ(kAwkwardTitle, frame->titleText->GetValue());
    EXPECT_EQ(1, frame->recordCount);

    WriteSettings(service.BaseUrl() + "/");
    Load(WatchPage(kVideoId));
    EXPECT_EQ(kTitle, frame->titleText->GetValue());
    EXPECT_EQ(4, frame->recordCount);
}

TEST_F(VideoLookupTest, PreviewPageEscapesTheThumbnailAddress)
{
    Load(WatchPage(kVideoId));
    EXPECT_FALSE(frame->thumbnailUrl.empty());
    frame->thumbnailUrl = "http://x/\"><b>bold</b>";
    EXPECT_TRUE(frame->ShowVideoPreview());
    EXPECT_EQ(wxString::npos, frame->previewHtml->ToText().find("bold"));
}

TEST_F(VideoLookupTest, ClipboardTakesUpEachNewAddressOnce)
{
    const wxString a = WatchPage(kVideoId);
    const wxString b = WatchPage("UnknownId00");
    NorvikFrame::lastClipboardUrl.clear();

    CopyAndCheck(frame, a);
    EXPECT_EQ(a, frame->urlText->GetValue());
    EXPECT_EQ(4, frame->recordCount);

    // The same text again, or other text and then the same again: nothing is loaded.
    frame->urlText->Clear();
    constexpr int kQuietTicks = 5;
    for (int i = 0; i < kQuietTicks; ++i)
    {
        frame->CheckClipboard();
        RunEventsFor(50);
    }
    CopyAndCheck(frame, "just some words");
    CopyAndCheck(frame, a);
    EXPECT_EQ("", frame->urlText->GetValue());

    // A different address and then the first: both are loaded.
    CopyAndCheck(frame, b);
    EXPECT_EQ(b, frame->urlText->GetValue());
    CopyAndCheck(frame, a);
    EXPECT_EQ(a, frame->urlText->GetValue());

    // Other letter case is other text; a blank before the scheme is no address.
    const wxString upper = "HTTPS://WWW.YOUTUBE.COM/watch?v=" + wxString(kVideoId);
    CopyAndCheck(frame, upper);
    EXPECT_EQ(upper, frame->urlText->GetValue());
    CopyAndCheck(frame, " " + a);
    EXPECT_EQ(upper, frame->urlText->GetValue());

    // A capital V passes the pattern but has no id: taken up, then refused by the Load.
    const wxString capital = "https://www.youtube.com/watch?V=" + wxString(kVideoId);
    CopyAndCheck(frame, capital);
    EXPECT_EQ(capital, frame->urlText->GetValue());
    EXPECT_EQ("Not a valid URL", frame->titleText->GetValue());

    // Owning the clipboard at exit makes the toolkit wait to hand it over: give it up.
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTheClipboard->Clear();
    wxTheClipboard->Close();
}

TEST_F(VideoLookupTest, RecordCountTakesLeadingDigitsAndStaysInsideTheTable)
{
    const struct
    {
        const char* nrecords;
        int expected;
    } cases[] = {
        {"3", 3},   {"12abc", 12}, {"40", kMaxRecords}, {"99999999999", kMaxRecords}, {"-5", 0},
        {"abc", 0}, {"", 0}};
    for (const auto& c : cases)
    {
        frame->ClearVideoPanel();
        ASSERT_TRUE(frame->ParseVideoReply(wxString("status:ok\ntitle:t\nnrecords:") + c.nrecords +
                                           "\ntype0:video/mp4\n"));
        EXPECT_EQ(c.expected, frame->recordCount) << "nrecords:" << c.nrecords;
        if (c.expected > 0)
        {
            EXPECT_EQ("video/mp4", frame->records[0].type);
        }
    }
    frame->ClearVideoPanel();
    EXPECT_FALSE(frame->ParseVideoReply("Status:ok\nnrecords:2\n"));
    EXPECT_EQ(0, frame->recordCount);
}
