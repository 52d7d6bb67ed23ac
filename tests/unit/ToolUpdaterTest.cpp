// Norvik's own yt-dlp and deno, kept current from a release site of the test's own on loopback.
#include "update/ToolUpdater.h"
#include "config/AppConfig.h"
#include "lookup/LocalService.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "update/ToolUpdates.h"
#include "update/UpdateCheck.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace
{
// Both release folders on one site; a file of the resolver's release is served as set.
class ReleaseSiteTest : public testing::Test
{
protected:
    enum class Serve
    {
        Whole,
        WrongDigest,
        CutHalfway,
        Missing
    };

    void SetUp() override
    {
        site.Routes().Get(
            "/yt/SHA2-256SUMS",
            [this](const httplib::Request&, httplib::Response& res)
            {
                Count("sums");
                std::lock_guard<std::mutex> hold(lock);
                const std::string digest =
                    serve == Serve::WrongDigest ? std::string(64, 'a') : DigestOf(resolver);
                // Names that merely start with "yt-dlp" must not be taken for it.
                res.set_content(std::string(64, 'b') + "  yt-dlp_linux\n" + digest + "  yt-dlp\n" +
                                    std::string(64, 'c') + "  yt-dlp.exe\n",
                                "text/plain");
            });
        site.Routes().Get("/yt/yt-dlp",
                          [this](const httplib::Request&, httplib::Response& res)
                          {
                              Count("yt-dlp");
                              std::lock_guard<std::mutex> hold(lock);
                              if (serve == Serve::Missing)
                                  res.status = 404;
                              else if (serve == Serve::CutHalfway)
                                  res.set_content_provider(
                                      resolver.size(), "application/octet-stream",
                                      [body = resolver](size_t, size_t, httplib::DataSink& sink)
                                      {
                                          sink.write(body.data(), body.size() / 2);
                                          return false;
                                      });
                              else
                                  res.set_content(resolver, "application/octet-stream");
                          });
        const std::string archive = "/deno/" + ToolUpdater::JsRuntimeArchive();
        site.Routes().Get(archive,
                          [this](const httplib::Request&, httplib::Response& res)
                          {
                              Count("deno");
                              res.set_content(denoZip, "application/zip");
                          });
        site.Routes().Get(archive + ".sha256sum",
                          [this](const httplib::Request&, httplib::Response& res)
                          { res.set_content(DigestOf(denoZip) + "\n", "text/plain"); });
        ASSERT_TRUE(site.Start());
        SetRelease("2099.01.02");
        denoZip = ZipWithDeno();
        ASSERT_FALSE(denoZip.empty());
        settings.folder = (folder.Path() + "/share/norvik").utf8_string();
        settings.resolverReleaseUrl = site.Url("/yt");
        settings.jsRuntimeReleaseUrl = site.Url("/deno/");
        // A folder with a deno of the system's: the resolver's tests fetch no runtime.
        settings.searchPath = WithDeno();
    }

    void SetRelease(const std::string& version)
    {
        SetReleaseText("#!/bin/sh\necho " + version + "\n");
    }

    void SetReleaseText(const std::string& text)
    {
        std::lock_guard<std::mutex> hold(lock);
        resolver = text;
    }

    ToolUpdater::Outcome Check()
    {
        std::atomic<bool> cancel{false};
        return ToolUpdater::Run(settings, cancel);
    }

    int Requests(const std::string& what)
    {
        std::lock_guard<std::mutex> hold(lock);
        return counts[what];
    }

    std::string Copy(const char* name) const { return ToolUpdater::CopyIn(settings.folder, name); }

    // From the system's sha256sum, not from the code under test.
    std::string DigestOf(const std::string& bytes)
    {
        const wxString file = folder.File("digest-input");
        wxFFile out(file, "wb");
        out.Write(bytes.data(), bytes.size());
        out.Close();
        return FirstWordOf("sha256sum '" + file.utf8_string() + "'");
    }

    std::string ZipWithDeno()
    {
        const wxString zip = folder.File("deno.zip");
        const std::string made =
            FirstWordOf("python3 -c \"import zipfile; z = zipfile.ZipFile('" + zip.utf8_string() +
                        "', 'w'); z.writestr('deno', '#!/bin/sh\\necho deno 9.9.9\\n'); z.close(); "
                        "print('made')\"");
        wxString bytes;
        wxFFile in(zip, "rb");
        std::string data(size_t(in.Length()), '\0');
        if (made != "made" || in.Read(data.data(), data.size()) != data.size())
            return "";
        return data;
    }

    std::string WithDeno()
    {
        const wxString bin = folder.File("system-bin");
        wxMkdir(bin);
        WriteFileText(bin + "/deno", "#!/bin/sh\n");
        chmod((bin + "/deno").utf8_str(), 0755);
        return bin.utf8_string();
    }

    static std::string FirstWordOf(const std::string& command)
    {
        FILE* pipe = popen(command.c_str(), "r");
        char word[128] = {};
        const bool read = pipe && fscanf(pipe, "%127s", word) == 1;
        if (pipe)
            pclose(pipe);
        return read ? word : "";
    }

    void Count(const std::string& what)
    {
        std::lock_guard<std::mutex> hold(lock);
        ++counts[what];
    }

    TempDir folder;
    TestHttpServer site;
    ToolUpdater::Settings settings;
    // Guards what the site serves and counts; the site answers on its own thread.
    std::mutex lock;
    std::string resolver;
    std::string denoZip;
    Serve serve = Serve::Whole;
    std::map<std::string, int> counts;
};
} // namespace

TEST_F(ReleaseSiteTest, FirstCheckInstallsTheReleaseTheNextFetchesNothingAndANewOneIsTaken)
{
    const ToolUpdater::Outcome first = Check();
    ASSERT_EQ(ToolUpdater::Outcome::Result::Updated, first.result) << first.error;
    EXPECT_EQ("2099.01.02", first.version);
    struct stat info
    {
    };
    ASSERT_EQ(0, stat(Copy("yt-dlp").c_str(), &info));
    EXPECT_EQ(0755u, info.st_mode & 07777);
    EXPECT_EQ(1, CountFiles(wxString::FromUTF8(settings.folder)));

    EXPECT_EQ(ToolUpdater::Outcome::Result::UpToDate, Check().result);
    EXPECT_EQ(1, Requests("yt-dlp"));
    EXPECT_EQ(2, Requests("sums"));

    SetRelease("2099.02.03");
    const ToolUpdater::Outcome changed = Check();
    EXPECT_EQ(ToolUpdater::Outcome::Result::Updated, changed.result) << changed.error;
    EXPECT_EQ("2099.02.03", changed.version);
}

TEST_F(ReleaseSiteTest, AFailedDownloadLeavesTheOldCopyAndNoFileBehind)
{
    ASSERT_EQ(ToolUpdater::Outcome::Result::Updated, Check().result);
    const wxString installed = ReadFileText(Copy("yt-dlp"));
    SetRelease("2099.09.09");
    for (const Serve failure : {Serve::WrongDigest, Serve::CutHalfway, Serve::Missing})
    {
        serve = failure;
        const ToolUpdater::Outcome outcome = Check();
        EXPECT_EQ(ToolUpdater::Outcome::Result::Failed, outcome.result) << int(failure);
        EXPECT_FALSE(outcome.error.empty()) << int(failure);
        EXPECT_EQ(installed, ReadFileText(Copy("yt-dlp"))) << int(failure);
        EXPECT_EQ(1, CountFiles(wxString::FromUTF8(settings.folder))) << int(failure);
    }
}

namespace
{
// A stand-in resolver the service finds as Norvik's copy: any id is a video titled with the
// release's version; its stream writes the first half of the clip, then waits for the test
// before it writes the rest. The shell reads a script as it runs it, so the rest comes from
// the file as it was at the start only if the update left that file alone; the padding puts
// the rest beyond what the shell read before it waited. Each release streams its own clip.
constexpr const char* kWatchPrefix = "stand-in:";
constexpr std::size_t kClipBytes = 300000;
constexpr std::size_t kScriptPadding = 20000;
constexpr std::size_t kPaddingLineBytes = 60;
constexpr long kStreamLimitMs = 20000;
constexpr time_t kClientSeconds = 30;

std::string StandInResolver(const std::string& version, const std::string& folder)
{
    const std::string half = std::to_string(kClipBytes / 2);
    std::string script = "#!/bin/sh\ncase \" $* \" in\n*\" --version \"*) echo " + version +
                         "; exit 0 ;;\n*\" --dump-single-json \"*)\n  for last; do :; done\n"
                         "  printf '{\"id\":\"%s\",\"title\":\"" +
                         version +
                         "\",\"formats\":[{\"format_id\":\"18\",\"ext\":\"mp4\","
                         "\"vcodec\":\"avc1\",\"acodec\":\"mp4a\",\"height\":360}]}\\n' "
                         "\"${last#" +
                         kWatchPrefix + "}\"\n  exit 0 ;;\nesac\nhead -c " + half + " '" + folder +
                         "/clip-" + version + "'\ntouch '" + folder +
                         "/streaming'\ni=0\nwhile [ ! -e '" + folder +
                         "/go' ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done\n";
    const std::string paddingLine = "# " + std::string(kPaddingLineBytes, '-') + "\n";
    for (std::size_t bytes = 0; bytes < kScriptPadding; bytes += paddingLine.size())
        script += paddingLine;
    return script + "tail -c +" + std::to_string(kClipBytes / 2 + 1) + " '" + folder + "/clip-" +
           version + "'\n";
}

// The body of a GET of this full address ("http://127.0.0.1:PORT/PATH"), or empty.
std::string Fetch(const std::string& url)
{
    const std::size_t pathAt = url.find('/', std::strlen("http://"));
    httplib::Client client(url.substr(0, pathAt));
    client.set_read_timeout(kClientSeconds, 0);
    const httplib::Result result = client.Get(url.substr(pathAt));
    return result && result->status == 200 ? result->body : "";
}

std::map<std::string, std::string> ReplyValues(const std::string& body)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);)
        if (line.find(':') != std::string::npos)
            values[line.substr(0, line.find(':'))] = line.substr(line.find(':') + 1);
    return values;
}
} // namespace

TEST_F(ReleaseSiteTest, ACopyReplacedWhileItStreamsFinishesTheStreamAndTheNextLookupRunsTheNew)
{
    const std::string work = folder.Path().utf8_string();
    std::string clip(kClipBytes, '\0');
    for (std::size_t i = 0; i < clip.size(); ++i)
        clip[i] = char('a' + i * 7 % 26);
    // The new release would stream a clip there is none of: only the old one can finish.
    ASSERT_TRUE(WriteFileText(folder.File("clip-2099.01.02"), clip));
    SetReleaseText(StandInResolver("2099.01.02", work));
    ASSERT_EQ(ToolUpdater::Outcome::Result::Updated, Check().result);

    // The program's own arguments: the folder first on the resolver's PATH.
    LocalService service(NORVIK_SERVICE_EXE, {"--tools-dir", settings.folder, "--watch-url",
                                              std::string(kWatchPrefix) + "%s"});
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    auto values = ReplyValues(Fetch(service.GetUrl() + "/api/?videoid=Replaced001"));
    ASSERT_EQ("2099.01.02", values["title"]);
    std::string streamed;
    std::thread stream([&streamed, url = values["url0"]] { streamed = Fetch(url); });
    const bool running =
        PollUntil([&] { return wxFileExists(folder.File("streaming")); }, kStreamLimitMs);

    SetReleaseText(StandInResolver("2099.02.03", work));
    const ToolUpdater::Outcome replaced = Check();
    WriteFileText(folder.File("go"), "");
    stream.join();
    ASSERT_TRUE(running);
    ASSERT_EQ(ToolUpdater::Outcome::Result::Updated, replaced.result) << replaced.error;
    EXPECT_EQ(clip.size(), streamed.size());
    EXPECT_TRUE(clip == streamed);
    values = ReplyValues(Fetch(service.GetUrl() + "/api/?videoid=Replaced002"));
    EXPECT_EQ("2099.02.03", values["title"]);
}

TEST_F(ReleaseSiteTest, NothingAtTheAddressIsAFailureWithItsReason)
{
    settings.resolverReleaseUrl = "http://127.0.0.1:1/";
    const ToolUpdater::Outcome outcome = Check();
    EXPECT_EQ(ToolUpdater::Outcome::Result::Failed, outcome.result);
    EXPECT_NE(std::string::npos, outcome.error.find("127.0.0.1:1")) << outcome.error;
    EXPECT_EQ(0, CountFiles(wxString::FromUTF8(settings.folder)));
}

TEST_F(ReleaseSiteTest, DenoIsFetchedOnlyWhenNoneIsOnThePath)
{
    ASSERT_EQ(ToolUpdater::Outcome::Result::Updated, Check().result);
    EXPECT_EQ(0, Requests("deno"));
    EXPECT_FALSE(wxFileExists(wxString::FromUTF8(Copy("deno"))));

    settings.searchPath = folder.File("nothing-here").utf8_string() + ":" + settings.folder;
    const ToolUpdater::Outcome fetched = Check();
    EXPECT_EQ(ToolUpdater::Outcome::Result::UpToDate, fetched.result) << fetched.error;
    EXPECT_TRUE(fetched.changed);
    std::string error;
    EXPECT_EQ("deno 9.9.9", ToolUpdater::VersionOf(Copy("deno"), error)) << error;
    // Norvik's own copy on the path does not count as the system's, yet is not fetched twice.
    Check();
    EXPECT_EQ(1, Requests("deno"));
}

TEST(UpdateScheduleTest, DueAtFirstThenOnceADay)
{
    const std::time_t now = 1800000000;
    EXPECT_TRUE(UpdateCheck::IsDue(0, now));
    EXPECT_FALSE(UpdateCheck::IsDue(now - UpdateCheck::kInterval + 60, now));
    EXPECT_TRUE(UpdateCheck::IsDue(now - UpdateCheck::kInterval, now));
    EXPECT_TRUE(UpdateCheck::IsDue(now + 3600, now));
}

TEST(ToolUpdatesTest, ServiceGetsTheToolsFolderAndTheSignInUnlessTurnedOff)
{
    TempDir home;
    const wxString homePath = home.Path();
    const ScopedEnv homeEnv{"HOME", &homePath};
    const ScopedEnv xdgConfig{"XDG_CONFIG_HOME", nullptr};
    const ScopedEnv xdgData{"XDG_DATA_HOME", nullptr};
    const std::string folder = homePath.utf8_string() + "/.local/share/norvik";
    {
        AppConfig settings;
        settings.SetBrowserSignIn("firefox");
        EXPECT_EQ(
            (std::vector<std::string>{"--tools-dir", folder, "--cookies-from-browser", "firefox"}),
            ToolUpdates::ServiceArguments(settings));
        settings.SetBrowserSignIn("rm -rf");
        EXPECT_EQ(std::vector<std::string>({"--tools-dir", folder}),
                  ToolUpdates::ServiceArguments(settings));
    }
    ASSERT_TRUE(WriteFileText(home.File(".Norvik"), "ResolverUpdates=0\n"));
    EXPECT_FALSE(ToolUpdates::Enabled(AppConfig()));
    EXPECT_TRUE(ToolUpdates::ServiceArguments(AppConfig()).empty());
    ASSERT_TRUE(WriteFileText(home.File(".Norvik"), "ServiceUrl=http://127.0.0.1:9\n"));
    EXPECT_FALSE(ToolUpdates::Enabled(AppConfig()));
}
