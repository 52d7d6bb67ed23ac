#include "config/AppConfig.h"
#include "config/AutostartEntry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <wx/stdpaths.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Every test gets its own home, so the settings file and the autostart folder are fresh.
class SettingsTest : public testing::Test
{
protected:
    TempDir home;
    wxString homePath = home.Path();
    ScopedEnv homeEnv{"HOME", &homePath};
    ScopedEnv xdgConfig{"XDG_CONFIG_HOME", nullptr};

    wxString SettingsFile() const { return home.File(".Norvik"); }
    void WriteSettings(const wxString& text) { ASSERT_TRUE(WriteFileText(SettingsFile(), text)); }
};
} // namespace

TEST_F(SettingsTest, DefaultsWithoutAFileAndNoFileIsCreated)
{
    {
        AppConfig config;
        const wxString documents = wxStandardPaths::Get().GetDocumentsDir();
        EXPECT_EQ(documents, config.GetVideoPath());
        EXPECT_EQ(documents, config.GetAudioPath());
        EXPECT_TRUE(config.GetAutorun());
        EXPECT_EQ("http://127.0.0.1:8731", config.GetServiceUrl());
    }
    EXPECT_FALSE(wxFileExists(SettingsFile()));
}

TEST_F(SettingsTest, OnlyAnExactZeroTurnsAutorunOff)
{
    const struct
    {
        const char* stored;
        bool expected;
    } cases[] = {{"0", false},    {"1", true},  {"", true},
                 {"false", true}, {"no", true}, {"00", true}};
    for (const auto& c : cases)
    {
        WriteSettings(wxString("Autorun=") + c.stored + "\n");
        AppConfig config;
        EXPECT_EQ(c.expected, config.GetAutorun()) << "stored \"" << c.stored << "\"";
    }
}

TEST_F(SettingsTest, EmptyStoredPathIsReturnedNotTheDefault)
{
    WriteSettings("VideoPath=\nServiceUrl=http://127.0.0.1:9\n");
    AppConfig config;
    EXPECT_EQ("", config.GetVideoPath());
    EXPECT_EQ("http://127.0.0.1:9", config.GetServiceUrl());
}

TEST_F(SettingsTest, ValuesSurviveARoundTripBackslashesIncluded)
{
    const wxString odd = "C:\\Users\\me\\Videos and \\\\ more";
    {
        AppConfig config;
        config.SetVideoPath(odd);
        config.SetAudioPath("/music/ü");
        config.SetAutorun(false);
    }
    AppConfig config;
    EXPECT_EQ(odd, config.GetVideoPath());
    EXPECT_EQ("/music/ü", config.GetAudioPath());
    EXPECT_FALSE(config.GetAutorun());
    EXPECT_TRUE(ReadFileText(SettingsFile()).Contains("Autorun=0"));
}

TEST_F(SettingsTest, AChangeIsUnseenByAnotherStoreUntilWritten)
{
    auto writer = std::make_unique<AppConfig>();
    writer->SetVideoPath("/first");
    {
        AppConfig reader;
        EXPECT_NE("/first", reader.GetVideoPath());
    }
    writer.reset();
    AppConfig reader;
    EXPECT_EQ("/first", reader.GetVideoPath());
}

TEST_F(SettingsTest, AutostartEntryFollowsTheFlagAndItsFolderIsCreated)
{
    const wxString entry = home.File(".config/autostart/Norvik.desktop");
    ASSERT_EQ(entry, AutostartEntry::GetFilePath());
    ASSERT_FALSE(wxDirExists(home.File(".config")));
    {
        AppConfig config;
        config.UpdateAutorunEntry();
    }
    const wxString text = ReadFileText(entry);
    EXPECT_TRUE(text.StartsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.Contains("\nType=Application\n"));
    EXPECT_TRUE(text.Contains("\nName=Norvik\n"));
    EXPECT_TRUE(
        text.Contains("\nExec=" + wxStandardPaths::Get().GetExecutablePath() + " startup\n"));

    WriteSettings("Autorun=0\n");
    AppConfig config;
    config.UpdateAutorunEntry();
    EXPECT_FALSE(wxFileExists(entry));
    // Removing what is not there is no error and creates nothing.
    config.UpdateAutorunEntry();
    EXPECT_FALSE(wxFileExists(entry));
}

// The desktop's startup settings turn the entry off in this same file; a rewrite at the
// next start must not turn it on again.
TEST_F(SettingsTest, AutostartRewriteKeepsTheUsersDisable)
{
    const wxString entry = home.File(".config/autostart/Norvik.desktop");
    const struct
    {
        const char* userLine;
        const char* kept;
    } cases[] = {
        {"X-GNOME-Autostart-enabled=false", "\nX-GNOME-Autostart-enabled=false\n"},
        {"X-GNOME-Autostart-enabled = false", "\nX-GNOME-Autostart-enabled=false\n"},
        {"Hidden=true", "\nHidden=true\n"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.userLine);
        // Another program than this one, so the rewrite has a path to bring up to date.
        ASSERT_TRUE(AutostartEntry::Write("/bin/sh"));
        wxString text = ReadFileText(entry);
        EXPECT_TRUE(text.Contains("\nX-GNOME-Autostart-enabled=true\n"));
        EXPECT_FALSE(text.Contains("Hidden"));
        text.Replace("X-GNOME-Autostart-enabled=true", c.userLine);
        ASSERT_TRUE(WriteFileText(entry, text));

        AppConfig().UpdateAutorunEntry();
        const wxString rewritten = ReadFileText(entry);
        EXPECT_TRUE(rewritten.Contains(c.kept)) << rewritten;
        wxString switches(rewritten);
        EXPECT_EQ(1u, switches.Replace("X-GNOME-Autostart-enabled=", ""))
            << "one switch, not both values: " << rewritten;
        EXPECT_TRUE(rewritten.Contains(wxStandardPaths::Get().GetExecutablePath()))
            << "the program's path is brought up to date all the same";
        ASSERT_TRUE(wxRemoveFile(entry));
    }

    // The same keys in another group are not the desktop's switch.
    ASSERT_TRUE(WriteFileText(entry, "[Desktop Entry]\nExec=x\n[Desktop Action Off]\n"
                                     "Hidden=true\nX-GNOME-Autostart-enabled=false\n"));
    AppConfig().UpdateAutorunEntry();
    const wxString fresh = ReadFileText(entry);
    EXPECT_TRUE(fresh.Contains("\nX-GNOME-Autostart-enabled=true\n")) << fresh;
    EXPECT_FALSE(fresh.Contains("Hidden")) << fresh;
}

TEST_F(SettingsTest, TheUsersExplicitChoiceTurnsTheEntryOnOverTheDesktopsSwitch)
{
    const wxString entry = home.File(".config/autostart/Norvik.desktop");
    for (const char* userLine : {"X-GNOME-Autostart-enabled=false", "Hidden=true"})
    {
        SCOPED_TRACE(userLine);
        ASSERT_TRUE(AutostartEntry::Write("/bin/sh"));
        ASSERT_TRUE(WriteFileText(entry, ReadFileText(entry) + userLine + "\n"));
        EXPECT_TRUE(AppConfig().UpdateAutorunEntry());
        ASSERT_TRUE(ReadFileText(entry).Contains(userLine)) << "the start keeps the switch";

        EXPECT_TRUE(AppConfig().UpdateAutorunEntry(AutostartEntry::Switch::TurnOn));
        const wxString text = ReadFileText(entry);
        EXPECT_TRUE(text.Contains("\nX-GNOME-Autostart-enabled=true\n")) << text;
        EXPECT_FALSE(text.Contains("false")) << text;
        EXPECT_FALSE(text.Contains("Hidden")) << text;
    }
}

// The entry starts whatever the named path holds at log-on: only a program that no other
// user can replace is entered, and the desktop skips the entry once the program is gone.
TEST_F(SettingsTest, AutostartEntryNamesItsProgramAndIsNeverWrittenForOneOthersCanReplace)
{
    const wxString entry = home.File(".config/autostart/Norvik.desktop");
    const wxString self = wxStandardPaths::Get().GetExecutablePath();
    ASSERT_TRUE(AppConfig().UpdateAutorunEntry());
    EXPECT_TRUE(ReadFileText(entry).Contains("\nTryExec=" + self + "\n")) << ReadFileText(entry);
    ASSERT_TRUE(wxRemoveFile(entry));

    // Folders beside the build, under folders that only their owner writes.
    const wxString root =
        wxString(NORVIK_BUILD_DIR) + "/autostart-folders-" + wxString::Format("%d", int(getpid()));
    ASSERT_TRUE(wxMkdir(root, 0755));
    struct FolderCase
    {
        const char* name;
        mode_t mode;
        // Another user owns it, where the test may hand it over (it runs as root).
        bool foreignOwner;
        bool written;
    };
    const FolderCase cases[] = {
        {"own", 0755, false, true},
        {"world-writable", 0777, false, false},
        {"sticky-shared", 01777, false, false},
        {"group-writable-own", 0775, false, true},
        {"group-writable-foreign", 0775, true, false},
    };
    for (const FolderCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        if (c.foreignOwner && geteuid() != 0)
            continue;
        const wxString folder = root + "/" + c.name;
        const wxString program = folder + "/norvik";
        ASSERT_TRUE(wxMkdir(folder, 0755));
        ASSERT_TRUE(WriteFileText(program, "#!/bin/sh\n"));
        ASSERT_EQ(0, chmod(program.fn_str(), 0755));
        ASSERT_EQ(0, chmod(folder.fn_str(), c.mode));
        constexpr uid_t kNobody = 65534;
        if (c.foreignOwner)
        {
            ASSERT_EQ(0, chown(folder.fn_str(), kNobody, gid_t(-1)));
        }
        EXPECT_EQ(c.written, AutostartEntry::Write(program));
        EXPECT_EQ(c.written, wxFileExists(entry));
        wxRemoveFile(entry);
    }
    wxFileName::Rmdir(root, wxPATH_RMDIR_RECURSIVE);

    // A build in a folder of the user's inside the shared temporary folder: the sticky folder
    // lets nobody else rename or remove that folder, so the entry is written; a program right
    // in the shared folder, or one that is not there, gets none.
    TempDir build;
    const wxString program = build.File("norvik");
    ASSERT_TRUE(WriteFileText(program, "#!/bin/sh\n"));
    ASSERT_EQ(0, chmod(program.fn_str(), 0755));
    EXPECT_TRUE(AutostartEntry::Write(program));
    wxRemoveFile(entry);
    const wxString shared = wxFileName(build.Path()).GetPath();
    struct stat sharedInfo;
    ASSERT_EQ(0, stat(shared.fn_str(), &sharedInfo));
    if (sharedInfo.st_mode & S_ISVTX)
    {
        const wxString loose = shared + wxString::Format("/norvik-loose-%d", int(getpid()));
        ASSERT_TRUE(WriteFileText(loose, "#!/bin/sh\n"));
        ASSERT_EQ(0, chmod(loose.fn_str(), 0755));
        EXPECT_FALSE(AutostartEntry::Write(loose));
        wxRemoveFile(loose);
    }
    EXPECT_FALSE(AutostartEntry::Write(build.File("missing")));
    EXPECT_FALSE(wxFileExists(entry));
}

TEST_F(SettingsTest, AutostartEntryHonoursAnAbsoluteXdgConfigHome)
{
    const wxString custom = home.File("cfg");
    ScopedEnv xdg("XDG_CONFIG_HOME", &custom);
    EXPECT_EQ(custom + "/autostart/Norvik.desktop", AutostartEntry::GetFilePath());
    const wxString relative = "relative/cfg";
    ScopedEnv xdgRelative("XDG_CONFIG_HOME", &relative);
    EXPECT_EQ(home.File(".config/autostart/Norvik.desktop"), AutostartEntry::GetFilePath());
}

TEST(AutostartExec, AwkwardPathsAreQuotedAndEscaped)
{
    // Expected values are the Exec line as it stands in the file: quoting first, then the
    // doubling of percent signs, then the file format's own backslash escapes.
    const struct
    {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/norvik", "/usr/bin/norvik startup"},
        {"/opt/my apps/norvik", "\"/opt/my apps/norvik\" startup"},
        {"/opt/a\"b/norvik", "\"/opt/a\\\\\"b/norvik\" startup"},
        {"/opt/$HOME/norvik", "\"/opt/\\\\$HOME/norvik\" startup"},
        {"/opt/back\\slash/norvik", "\"/opt/back\\\\\\\\slash/norvik\" startup"},
        {"/opt/100%/norvik", "/opt/100%%/norvik startup"},
        {"/opt/it's/norvik", "\"/opt/it's/norvik\" startup"},
        {"/opt/tick`/norvik", "\"/opt/tick\\\\`/norvik\" startup"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wxString(c.exec), AutostartEntry::MakeExecValue(c.path, "startup")) << c.path;
}

TEST_F(SettingsTest, ClipboardWatchSpeedLimitAndResumeDefaultsAndUnreadableLimits)
{
    {
        AppConfig config;
        EXPECT_TRUE(config.GetWatchClipboard());
        EXPECT_EQ(0, config.GetSpeedLimitKiB());
        EXPECT_FALSE(config.GetResumeAtStart());
    }
    for (const char* stored : {"-5", "fast", ""})
    {
        WriteSettings(wxString("SpeedLimitKiB=") + stored + "\nWatchClipboard=0\n");
        AppConfig config;
        EXPECT_EQ(0, config.GetSpeedLimitKiB()) << stored;
        EXPECT_FALSE(config.GetWatchClipboard());
    }
    {
        AppConfig config;
        config.SetSpeedLimitKiB(1024);
        config.SetResumeAtStart(true);
    }
    AppConfig config;
    EXPECT_EQ(1024, config.GetSpeedLimitKiB());
    EXPECT_TRUE(config.GetResumeAtStart());
}
