#include "lookup/UrlFetcher.h"
#include "lookup/HttpFsHandler.h"
#include "lookup/PictureFsHandler.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/time.h>

#include <atomic>
#include <fstream>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
class UrlFetcherTest : public testing::Test
{
protected:
    void SetUp() override
    {
        HttpFsHandler::Install();
        server.Routes().Get("/api/",
                            [](const httplib::Request& req, httplib::Response& res)
                            {
                                res.set_content("status:ok\ntitle:Grüße " +
                                                    req.get_param_value("videoid") + "\n",
                                                "text/plain");
                            });
        server.Routes().Get("/empty", [](const httplib::Request&, httplib::Response& res)
                            { res.set_content("", "text/plain"); });
        server.Routes().Get("/gone", [](const httplib::Request&, httplib::Response& res)
                            { res.status = 404; });
        server.Routes().Get("/stuck",
                            [this](const httplib::Request&, httplib::Response& res)
                            {
                                for (int i = 0; i < 500 && !stopping.load(); ++i)
                                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                res.set_content("late", "text/plain");
                            });
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override
    {
        stopping.store(true);
        server.Stop();
    }
    std::atomic<bool> stopping{false};
    TestHttpServer server;
};
} // namespace

TEST_F(UrlFetcherTest, ReadsTheWholeDocumentAsUtf8)
{
    wxString text;
    ASSERT_EQ(FetchOutcome::Read, FetchUrlText(server.Url("/api/?videoid=AbCdEfGhIjK"), text));
    EXPECT_EQ(wxString::FromUTF8("status:ok\ntitle:Grüße AbCdEfGhIjK\n"), text);
    ASSERT_EQ(FetchOutcome::Read, FetchUrlText(server.Url("/empty"), text));
    EXPECT_EQ("", text);
}

TEST_F(UrlFetcherTest, ErrorRepliesAndRefusedConnectionsAreNotOpened)
{
    wxString text;
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText(server.Url("/gone"), text));
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText("http://127.0.0.1:1/api/", text));
}

TEST_F(UrlFetcherTest, AStuckServiceIsGivenUpAfterTheTimeout)
{
    const long saved = HttpFsHandler::GetTimeoutSeconds();
    HttpFsHandler::SetTimeoutSeconds(1);
    wxString text;
    const wxLongLong started = wxGetLocalTimeMillis();
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText(server.Url("/stuck"), text));
    const long elapsed = (wxGetLocalTimeMillis() - started).ToLong();
    HttpFsHandler::SetTimeoutSeconds(saved);
    EXPECT_LT(elapsed, 3000) << "a failed request must not be made again by another handler";
}

namespace
{
// Peak resident memory of this process, in kB, or -1.
long PeakMemoryKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
} // namespace

TEST_F(UrlFetcherTest, AnEndlessReplyIsCutAtTheLimitAndFailsAsNotOpened)
{
    // Sent at a pace a client can keep up with, so that a client without the limit reads far
    // more than it in the time the test allows.
    constexpr size_t kChunk = 64 * 1024;
    constexpr auto kPace = std::chrono::milliseconds(5);
    std::atomic<size_t> sent{0};
    server.Routes().Get("/endless",
                        [&](const httplib::Request&, httplib::Response& res)
                        {
                            res.set_chunked_content_provider(
                                "text/plain",
                                [&](size_t, httplib::DataSink& sink)
                                {
                                    const std::string chunk(kChunk, 'x');
                                    while (!stopping.load() && sink.is_writable())
                                    {
                                        if (!sink.write(chunk.data(), chunk.size()))
                                            return false;
                                        sent += chunk.size();
                                        std::this_thread::sleep_for(kPace);
                                    }
                                    return false;
                                });
                        });
    const long saved = HttpFsHandler::GetTimeoutSeconds();
    HttpFsHandler::SetTimeoutSeconds(4);
    const long peakBefore = PeakMemoryKb();
    wxString text;
    const wxLongLong started = wxGetLocalTimeMillis();
    const FetchOutcome outcome = FetchUrlText(server.Url("/endless"), text);
    const long elapsed = (wxGetLocalTimeMillis() - started).ToLong();
    HttpFsHandler::SetTimeoutSeconds(saved);
    EXPECT_EQ(FetchOutcome::NotOpened, outcome) << "the lookup says the service failed";
    EXPECT_TRUE(text.empty());
    EXPECT_LT(elapsed, 2000) << "the limit ends the read, not the time-out";
    // The server is a few socket buffers ahead of what was read.
    EXPECT_LT(sent.load(), size_t(8 * HttpFsHandler::kMaxDocumentBytes));
    EXPECT_LT(PeakMemoryKb() - peakBefore, 32 * 1024L);

    // Just within the limit is a document like any other.
    const std::string whole(HttpFsHandler::kMaxDocumentBytes, 'y');
    server.Routes().Get("/whole", [&](const httplib::Request&, httplib::Response& res)
                        { res.set_content(whole, "text/plain"); });
    ASSERT_EQ(FetchOutcome::Read, FetchUrlText(server.Url("/whole"), text));
    EXPECT_EQ(whole.size(), text.length());
}

// A loopback port that counts what is written to it, standing in for a service that a
// foreign protocol would speak to.
class ListeningPort
{
public:
    ListeningPort()
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(fd, 4) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return;
        port = ntohs(addr.sin_port);
    }
    ~ListeningPort()
    {
        if (fd >= 0)
            close(fd);
    }
    // Bytes that reached the port, over the connections waiting on it, within a short look.
    size_t BytesReceived()
    {
        size_t total = 0;
        timeval wait{0, 200 * 1000};
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd, &ready);
        while (select(fd + 1, &ready, nullptr, nullptr, &wait) > 0)
        {
            const int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0)
                break;
            char buffer[4096];
            ssize_t n = 0;
            while ((n = read(client, buffer, sizeof buffer)) > 0)
                total += size_t(n);
            close(client);
            FD_ZERO(&ready);
            FD_SET(fd, &ready);
            wait = {0, 200 * 1000};
        }
        return total;
    }
    int port = 0;

private:
    int fd = -1;
};

TEST_F(UrlFetcherTest, OnlyHttpAndHttpsAreSpokenEvenOnARedirect)
{
    ListeningPort target;
    ASSERT_GT(target.port, 0);
    const std::string gopher =
        "gopher://127.0.0.1:" + std::to_string(target.port) + "/_SET%20key%20value%0D%0A";
    server.Routes().Get("/moved", [&](const httplib::Request&, httplib::Response& res)
                        { res.set_redirect(gopher); });
    // The handler itself, not only the file system's choice of handler by protocol.
    HttpFsHandler handler;
    wxFileSystem fs;
    std::unique_ptr<wxFSFile> file(handler.OpenFile(fs, gopher));
    EXPECT_FALSE(file);
    // Whether or not a redirect is followed, it never leads to another protocol.
    file.reset(handler.OpenFile(fs, server.Url("/moved")));
    wxString text;
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText(gopher, text));
    EXPECT_EQ(0u, target.BytesReceived()) << "nothing may reach the port";
}

TEST(PictureFsHandlerTest, OnlyPngJpegAndGifSignaturesAreTakenForPictures)
{
    const struct
    {
        const char* name;
        std::string bytes;
        const char* type;
    } cases[] = {
        {"PNG", std::string("\x89PNG\r\n\x1a\n\0\0", 10), "image/png"},
        {"JPEG", "\xff\xd8\xff\xe0rest", "image/jpeg"},
        {"GIF87a", "GIF87a..", "image/gif"},
        {"GIF89a", "GIF89a..", "image/gif"},
        {"PNM with a maximum of 0", "P6\n2 2\n0\n\x01\x02\x03\x04\x05", ""},
        {"WebP, which the toolkit cannot decode", "RIFF\x10\0\0\0WEBPVP8 ", ""},
        {"BMP", "BM\x36\0\0\0", ""},
        {"PNG cut short", "\x89PNG\r\n", ""},
        {"nothing", "", ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.type,
                  PictureFsHandler::TypeBySignature(
                      reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()));
    }
}

TEST_F(UrlFetcherTest, ThePreviewsPictureIsHandedOnOnlyWhenItsBytesSayPngJpegOrGif)
{
    server.Routes().Get("/p.png",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content(std::string("\x89PNG\r\n\x1a\nIHDR", 12), "image/png");
                        });
    server.Routes().Get("/p.pnm", [](const httplib::Request&, httplib::Response& res)
                        { res.set_content("P6\n2 2\n0\n\x01\x02\x03\x04\x05", "image/png"); });
    wxFileSystem fs;
    std::unique_ptr<wxFSFile> png(fs.OpenFile(PictureFsHandler::kPrefix + server.Url("/p.png")));
    ASSERT_TRUE(png);
    EXPECT_EQ("image/png", png->GetMimeType());
    std::unique_ptr<wxFSFile> pnm(fs.OpenFile(PictureFsHandler::kPrefix + server.Url("/p.pnm")));
    EXPECT_FALSE(pnm) << "its content type claims PNG; its bytes say otherwise";
}
