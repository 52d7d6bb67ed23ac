#include "download/SystemErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

TEST(SystemErrorTextTest, NamesTheErrorOnEveryThreadAtOnce)
{
    EXPECT_EQ("No such file or directory", SystemErrorText(ENOENT));
    // Unknown values are the ones std::strerror writes into its one shared buffer: threads
    // asking at once read each other's numbers there.
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    constexpr int kFirstUnknown = 100000;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [t, &mismatches]
            {
                const int code = kFirstUnknown + t;
                const wxString expected = wxString::Format("Unknown error %d", code);
                for (int i = 0; i < kRounds; ++i)
                    if (SystemErrorText(code) != expected)
                        ++mismatches[size_t(t)];
            });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(0, mismatches[size_t(t)]) << "thread " << t;
}
