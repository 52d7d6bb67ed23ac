// The resolver's private folder, without running a program.
#include "Resolver.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

namespace
{
// Points TMPDIR somewhere else for as long as it lives.
class TemporaryRootAt
{
public:
    explicit TemporaryRootAt(const std::string& path)
    {
        if (const char* old = std::getenv("TMPDIR"))
            before = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~TemporaryRootAt()
    {
        if (before)
            setenv("TMPDIR", before->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    TemporaryRootAt(const TemporaryRootAt&) = delete;
    TemporaryRootAt& operator=(const TemporaryRootAt&) = delete;

private:
    std::optional<std::string> before;
};

TEST(ResolverTest, FolderThatCannotBeMadeIsReportedWithItsReason)
{
    // A file where the temporary folder should be: no folder can be made under it.
    std::string file =
        (std::filesystem::temp_directory_path() / "norvik-not-a-folder-XXXXXX").string();
    const int fd = mkstemp(file.data());
    ASSERT_GE(fd, 0) << std::strerror(errno);
    close(fd);
    std::string error;
    {
        const TemporaryRootAt root(file);
        Resolver resolver(Resolver::Settings{});
        EXPECT_EQ(nullptr, resolver.NewRunFolder(error));
    }
    std::filesystem::remove(file);
    EXPECT_NE(std::string::npos, error.find("under " + file + ": " + std::strerror(ENOTDIR)))
        << error;
}
} // namespace
