// The process runner on its own: pipelines, deadlines, failures and the end of a group.
#include "ProcessRunner.h"
#include "ProcessEnd.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
using Clock = ProcessRunner::Clock;
constexpr auto kLimit = std::chrono::seconds(10);

// Everything the runner's output gives before it ends or the deadline passes.
std::string ReadAll(ProcessRunner& run, Clock::time_point deadline, ProcessRunner::ReadResult& last)
{
    std::string text;
    char block[4096];
    std::size_t got = 0;
    while ((last = run.Read(block, sizeof block, got, deadline)) == ProcessRunner::ReadResult::Data)
        text.append(block, got);
    return text;
}

TEST(ProcessRunnerTest, PipelinePassesEachOutputToTheNextProgram)
{
    ProcessRunner run;
    std::string error;
    ASSERT_TRUE(run.StartPipeline({{"printf", "a b;c$HOME"}, {"tr", "a-z", "A-Z"}}, error))
        << error;
    ProcessRunner::ReadResult last;
    // No shell: the arguments arrive as they are, "$HOME" and ";" included.
    EXPECT_EQ("A B;C$HOME", ReadAll(run, Clock::now() + kLimit, last));
    EXPECT_EQ(ProcessRunner::ReadResult::End, last);
    EXPECT_TRUE(run.Finish(Clock::now() + kLimit, error)) << error;
}

TEST(ProcessRunnerTest, AFailingProgramAnywhereInThePipelineIsReportedWithItsLastWords)
{
    ProcessRunner run;
    std::string error;
    ASSERT_TRUE(run.StartPipeline(
        {{"sh", "-c", "echo first >&2; echo 'ERROR: gone' >&2; exit 3"}, {"cat"}}, error));
    ProcessRunner::ReadResult last;
    EXPECT_EQ("", ReadAll(run, Clock::now() + kLimit, last));
    EXPECT_FALSE(run.Finish(Clock::now() + kLimit, error));
    EXPECT_EQ("exited with status 3", error);
    EXPECT_EQ("ERROR: gone", run.LastErrorLine());
}

TEST(ProcessRunnerTest, AMissingProgramDoesNotStart)
{
    ProcessRunner run;
    std::string error;
    EXPECT_FALSE(run.Start({"/nonexistent/norvik-no-such-program"}, error));
    EXPECT_NE(std::string::npos, error.find("cannot run")) << error;
}

TEST(ProcessRunnerTest, ReadEndsAtItsDeadlineAndKillEndsTheWholeGroup)
{
    ProcessRunner run;
    std::string error;
    // The shell's child, a sleep, is in the group too and must end with it.
    ASSERT_TRUE(run.Start({"sh", "-c", "sleep 60 & echo $!; wait"}, error)) << error;
    char block[64];
    std::size_t got = 0;
    ASSERT_EQ(ProcessRunner::ReadResult::Data,
              run.Read(block, sizeof block, got, Clock::now() + kLimit));
    const pid_t sleeper = pid_t(std::stol(std::string(block, got)));
    const auto start = Clock::now();
    EXPECT_EQ(ProcessRunner::ReadResult::TimedOut,
              run.Read(block, sizeof block, got, Clock::now() + std::chrono::milliseconds(200)));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    run.Kill();
    EXPECT_TRUE(ProcessEndsWithin(sleeper, kLimit));
}
} // namespace
