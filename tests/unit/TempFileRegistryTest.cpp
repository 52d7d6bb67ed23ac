#include "download/TempFileRegistry.h"
#include "download/AtomicOutputFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::string Narrow(const wxString& path)
{
    return std::string(path.fn_str());
}

class TempFileRegistryTest : public testing::Test
{
protected:
    void TearDown() override { TempFileRegistry::Close(); }

    // Runs body in a child process that then dies as a killed run would, cleaning nothing.
    void InAKilledRun(const std::function<void()>& body)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            if (!TempFileRegistry::Open(runs.Path()))
                _exit(2);
            body();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    TempDir runs;
    TempDir temp;
    TempDir out;
};
} // namespace

TEST_F(TempFileRegistryTest, StartRemovesWhatAKilledRunMadeAndNothingElse)
{
    const wxString decoy = temp.File("NK-another-program");
    const wxString unlisted = out.File(".NK-abcdef.part");
    ASSERT_TRUE(WriteFileText(decoy, "not ours"));
    ASSERT_TRUE(WriteFileText(unlisted, "not ours either"));
    const wxString linkTarget = out.File("precious");
    ASSERT_TRUE(WriteFileText(linkTarget, "keep"));
    InAKilledRun(
        [&]
        {
            TempFileRegistry::CreateTempFile(temp.File("NK-"));
            TempFileRegistry::CreateTempFile(temp.File("NK"));
            // A partial output, still being written when the run died.
            auto* partial = new AtomicOutputFile(out.File("clip.mp4"));
            fputs("half", partial->GetFile());
            fflush(partial->GetFile());
            // A file made and removed: only its name is left in the list.
            TempFileRegistry::Remove(TempFileRegistry::CreateTempFile(temp.File("NK-")));
            // Names a list can hold that must never be acted on.
            TempFileRegistry::Add(Narrow(out.File("precious")));
            const wxString swapped = temp.File("NK-swapped");
            TempFileRegistry::Add(Narrow(swapped));
        });
    // Another program put a link where the run's file was.
    ASSERT_EQ(0, symlink(Narrow(linkTarget).c_str(), Narrow(temp.File("NK-swapped")).c_str()));
    ASSERT_EQ(4, CountFiles(temp.Path()));
    ASSERT_EQ(3, CountFiles(out.Path()));

    EXPECT_EQ(3, TempFileRegistry::RemoveLeftovers(runs.Path()));
    EXPECT_TRUE(wxFileExists(decoy));
    EXPECT_TRUE(wxFileExists(unlisted));
    EXPECT_EQ("keep", ReadFileText(linkTarget));
    EXPECT_EQ(2, CountFiles(temp.Path())) << "the decoy and the link stay";
    EXPECT_EQ(2, CountFiles(out.Path()));
    EXPECT_EQ(0, CountFiles(runs.Path())) << "the dead run's list goes with its files";
}

TEST_F(TempFileRegistryTest, LiveRunsAreLeftAloneAndQuitRemovesTheirFiles)
{
    ASSERT_TRUE(TempFileRegistry::Open(runs.Path()));
    const wxString mine = TempFileRegistry::CreateTempFile(temp.File("NK-"));
    ASSERT_TRUE(wxFileExists(mine));
    {
        AtomicOutputFile done(out.File("done.mp4"));
        ASSERT_TRUE(done.Commit());
    }
    EXPECT_EQ(0, TempFileRegistry::RemoveLeftovers(runs.Path()));
    EXPECT_TRUE(wxFileExists(mine)) << "a running program's file was taken";
    EXPECT_EQ(1, CountFiles(runs.Path()));

    EXPECT_EQ(1, TempFileRegistry::RemoveAll());
    EXPECT_FALSE(wxFileExists(mine));
    EXPECT_TRUE(wxFileExists(out.File("done.mp4"))) << "a finished output is no longer ours";
    TempFileRegistry::Close();
    EXPECT_EQ(0, CountFiles(runs.Path()));
}

TEST_F(TempFileRegistryTest, NamesWithLineBreaksSurviveTheList)
{
    const wxString odd = temp.File("odd\nfolder\\");
    ASSERT_TRUE(wxMkdir(odd));
    InAKilledRun([&] { TempFileRegistry::CreateTempFile(odd + "/NK-"); });
    ASSERT_EQ(1, CountFiles(odd));
    EXPECT_EQ(1, TempFileRegistry::RemoveLeftovers(runs.Path()));
    EXPECT_EQ(0, CountFiles(odd));
}

TEST_F(TempFileRegistryTest, PartialFilesTheJournalNamesOutliveTheRunUntilAMonthPasses)
{
    wxString folder;
    {
        const wxString cache = temp.Path();
        const ScopedEnv cacheHome("XDG_CACHE_HOME", &cache);
        folder = TempFileRegistry::PartialFolder();
        // A bare prefix: in the partial folder of the cache.
        InAKilledRun(
            []
            {
                TempFileRegistry::CreateTempFile("NK-");
                TempFileRegistry::CreateTempFile("NK-");
            });
    }
    EXPECT_EQ(temp.File("norvik/partial"), folder);
    wxArrayString made;
    ASSERT_EQ(2u, wxDir::GetAllFiles(folder, &made, "NK-*", wxDIR_FILES));
    const wxString named = made[0];
    EXPECT_EQ(1, TempFileRegistry::RemoveLeftovers(runs.Path(), {Narrow(named)}));
    EXPECT_TRUE(wxFileExists(named));
    EXPECT_FALSE(wxFileExists(made[1]));

    constexpr std::time_t kMonth = std::time_t{30} * 24 * 60 * 60;
    const std::time_t now = std::time(nullptr);
    const wxString foreign = folder + "/kept-by-the-user";
    ASSERT_TRUE(WriteFileText(foreign, "not ours"));
    // A file of ours that neither a list nor the journal names: made just before a kill.
    const wxString orphan = folder + "/NK-orphan";
    ASSERT_TRUE(WriteFileText(orphan, "half"));
    const std::set<std::string> keep = {Narrow(wxFileName(named).GetFullName())};
    EXPECT_EQ(1, TempFileRegistry::RemoveStaleFiles(folder, keep, kMonth, now));
    EXPECT_FALSE(wxFileExists(orphan));
    EXPECT_TRUE(wxFileExists(named)) << "written today";
    EXPECT_EQ(1, TempFileRegistry::RemoveStaleFiles(folder, keep, kMonth, now + kMonth + 60));
    EXPECT_FALSE(wxFileExists(named));
    EXPECT_TRUE(wxFileExists(foreign));
}
