#include "download/AtomicOutputFile.h"
#include "download/MoveIntoPlace.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The tmpfs of most Linux systems, for a second file system next to /tmp.
const char kOtherFileSystemPattern[] = "/dev/shm/norvik-test-XXXXXX";
// Longest file name common file systems allow.
constexpr size_t kLongestName = 255;

bool Put(AtomicOutputFile& file, const std::string& bytes)
{
    return std::fwrite(bytes.data(), 1, bytes.size(), file.GetFile()) == bytes.size();
}

// Names in folder, hidden ones included, sorted.
wxArrayString Listing(const wxString& folder)
{
    wxArrayString names;
    wxDir dir(folder);
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
         more; more = dir.GetNext(&name))
        names.Add(name);
    names.Sort();
    return names;
}

dev_t DeviceOf(const wxString& path)
{
    struct stat info;
    return stat(path.fn_str(), &info) == 0 ? info.st_dev : dev_t(0);
}

// Restores the process's umask when the test is over.
class UmaskGuard
{
public:
    explicit UmaskGuard(mode_t mask) : old(umask(mask)) {}
    ~UmaskGuard() { umask(old); }

private:
    mode_t old;
};

class AtomicOutputFileTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(temp.Path().empty()); }

    TempDir temp;
    const wxString target = temp.File("video.mp4");
};

using MoveIntoPlaceTest = AtomicOutputFileTest;
} // namespace

TEST_F(AtomicOutputFileTest, CommitPutsTheWholeFileBesideTheOldOneInOneStep)
{
    ASSERT_TRUE(WriteBytes(target, "old"));
    AtomicOutputFile file(target);
    ASSERT_TRUE(file.IsOk()) << file.GetError();
    EXPECT_EQ(temp.Path(), wxFileName(file.GetPartPath()).GetPath());
    EXPECT_TRUE(wxFileName(file.GetPartPath()).GetFullName().StartsWith(".NK-"));
    ASSERT_TRUE(Put(file, "new content"));
    ASSERT_EQ(0, std::fflush(file.GetFile()));
    EXPECT_EQ("old", ReadBytes(target)) << "visible before Commit";

    EXPECT_TRUE(file.Commit()) << file.GetError();
    EXPECT_EQ("old", ReadBytes(target)) << "a file that was there is never replaced";
    EXPECT_EQ(temp.File("video-1.mp4"), file.GetFinalPath());
    EXPECT_EQ("new content", ReadBytes(file.GetFinalPath()));
    EXPECT_FALSE(wxFileName::Exists(file.GetPartPath()));
    const wxArrayString names = Listing(temp.Path());
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ("video-1.mp4", names[0]);
    EXPECT_EQ("video.mp4", names[1]);
}

TEST_F(AtomicOutputFileTest, DestroyedUncommittedLeavesNothing)
{
    wxString partPath;
    {
        AtomicOutputFile file(target);
        ASSERT_TRUE(file.IsOk());
        partPath = file.GetPartPath();
        ASSERT_TRUE(Put(file, "discarded"));
    }
    EXPECT_FALSE(wxFileName::Exists(partPath));
    EXPECT_FALSE(wxFileName::Exists(target));
    EXPECT_TRUE(Listing(temp.Path()).empty());

    ASSERT_TRUE(WriteBytes(target, "kept"));
    {
        AtomicOutputFile file(target);
        ASSERT_TRUE(Put(file, std::string(3u << 20, 'x')));
    }
    EXPECT_EQ("kept", ReadBytes(target));
    EXPECT_EQ(1u, Listing(temp.Path()).size());
}

TEST_F(AtomicOutputFileTest, ModeFollowsUmask)
{
    const struct
    {
        mode_t mask;
        mode_t mode;
    } cases[] = {{022, 0644}, {027, 0640}, {002, 0664}, {077, 0600}, {0, 0666}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mask);
        const UmaskGuard mask(c.mask);
        AtomicOutputFile file(target);
        ASSERT_TRUE(file.Commit()) << file.GetError();
        struct stat info;
        ASSERT_EQ(0, stat(file.GetFinalPath().fn_str(), &info));
        EXPECT_EQ(c.mode, info.st_mode & 0777);
    }
}

TEST_F(AtomicOutputFileTest, LongestFinalNameFits)
{
    const wxString longName = temp.File(wxString('n', kLongestName));
    AtomicOutputFile file(longName);
    ASSERT_TRUE(file.IsOk()) << file.GetError();
    ASSERT_TRUE(Put(file, "long"));
    EXPECT_TRUE(file.Commit()) << file.GetError();
    EXPECT_EQ("long", ReadBytes(longName));
}

TEST_F(AtomicOutputFileTest, UnusableFolderIsReported)
{
    ASSERT_TRUE(WriteBytes(temp.File("plain-file"), "x"));
    for (const wxString& path : {temp.File("missing/out.mp3"), temp.File("plain-file/out.mp3")})
    {
        SCOPED_TRACE(path.ToStdString());
        AtomicOutputFile file(path);
        EXPECT_FALSE(file.IsOk());
        EXPECT_FALSE(file.GetError().empty());
        EXPECT_FALSE(file.Commit());
        EXPECT_FALSE(wxFileName::Exists(path));
    }
}

TEST_F(AtomicOutputFileTest, FailedCommitRemovesPartFile)
{
    // A name longer than the file system allows makes the final rename fail; the part file's
    // own name is short.
    const wxString tooLong = temp.File(wxString('n', kLongestName + 1));
    AtomicOutputFile file(tooLong);
    ASSERT_TRUE(file.IsOk()) << file.GetError();
    ASSERT_TRUE(Put(file, "data"));
    EXPECT_FALSE(file.Commit());
    EXPECT_FALSE(file.GetError().empty());
    EXPECT_FALSE(wxFileName::Exists(file.GetPartPath()));
    EXPECT_TRUE(Listing(temp.Path()).empty());
}

// Two formats of one video, or one line downloaded twice, are proposed the same name; the
// user's own files may hold it or the next ones too. Every finished file takes a free name.
TEST_F(AtomicOutputFileTest, NoWayIntoPlaceReplacesATakenName)
{
    ASSERT_TRUE(WriteBytes(target, "the user's"));
    ASSERT_TRUE(WriteBytes(temp.File("video-1.mp4"), "an earlier download"));
    // A folder holds a name as well as a file does.
    ASSERT_TRUE(wxFileName::Mkdir(temp.File("video-2.mp4")));
    const OutputNames names(target, "video", ".mp4");
    const wxString from = temp.File("NK-download");
    wxString placed;
    wxString error;

    ASSERT_TRUE(WriteBytes(from, "moved"));
    ASSERT_TRUE(MoveIntoPlace(from, names, error, nullptr, &placed)) << error;
    EXPECT_EQ(temp.File("video-3.mp4"), placed);
    EXPECT_EQ("moved", ReadBytes(placed));

    ASSERT_TRUE(WriteBytes(from, "copied"));
    ASSERT_TRUE(CopyIntoPlace(from, names, error, nullptr, &placed)) << error;
    EXPECT_EQ(temp.File("video-4.mp4"), placed);
    EXPECT_EQ("copied", ReadBytes(placed));

    EXPECT_EQ("the user's", ReadBytes(target));
    EXPECT_EQ("an earlier download", ReadBytes(temp.File("video-1.mp4")));
    EXPECT_TRUE(wxFileName::DirExists(temp.File("video-2.mp4")));
}

// The download waits in the shared temporary folder, and a copy grows in the target folder:
// neither is for other accounts to read before the user has the file.
TEST_F(AtomicOutputFileTest, FilesStayOwnerOnlyUntilInPlace)
{
    const UmaskGuard mask(022);
    struct stat info;
    {
        AtomicOutputFile file(target);
        ASSERT_TRUE(file.IsOk()) << file.GetError();
        ASSERT_EQ(0, stat(file.GetPartPath().fn_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777) << "the copy while it grows";
        ASSERT_TRUE(file.Commit()) << file.GetError();
        ASSERT_EQ(0, stat(target.fn_str(), &info));
        EXPECT_EQ(0644u, info.st_mode & 0777) << "the final file";
    }

    std::string name = temp.File("NKXXXXXX").ToStdString();
    const int fd = mkstemp(&name[0]);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, close(fd));
    wxString error;
    EXPECT_FALSE(MoveIntoPlace(name, temp.File("missing/video.mp4"), error));
    EXPECT_FALSE(CopyIntoPlace(name, temp.File("missing/video.mp4"), error));
    ASSERT_EQ(0, stat(name.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777) << "the download after a failed move or copy";
}

TEST_F(MoveIntoPlaceTest, SameFileSystemKeepsDestinationAndTakesTheNextName)
{
    const wxString from = temp.File("download.part");
    ASSERT_TRUE(WriteBytes(from, "fresh"));
    ASSERT_TRUE(WriteBytes(target, "stale"));
    wxString error;
    wxString placed;
    EXPECT_TRUE(MoveIntoPlace(from, target, error, nullptr, &placed)) << error;
    EXPECT_EQ("stale", ReadBytes(target));
    EXPECT_EQ(temp.File("video-1.mp4"), placed);
    EXPECT_EQ("fresh", ReadBytes(placed));
    EXPECT_FALSE(wxFileName::Exists(from));
}

// The job's temporary file is made by mkstemp, readable by its owner only; the saved video
// must be readable as any new file is, or a media server cannot show it.
TEST_F(MoveIntoPlaceTest, MovedFileGetsTheModeOfANewFile)
{
    const struct
    {
        mode_t mask;
        mode_t mode;
    } cases[] = {{022, 0644}, {027, 0640}, {077, 0600}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mask);
        const UmaskGuard mask(c.mask);
        std::string name = temp.File("NKXXXXXX").ToStdString();
        const int fd = mkstemp(&name[0]);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, close(fd));
        wxString error;
        wxString placed;
        ASSERT_TRUE(MoveIntoPlace(name, target, error, nullptr, &placed)) << error;
        struct stat info;
        ASSERT_EQ(0, stat(placed.fn_str(), &info));
        EXPECT_EQ(c.mode, info.st_mode & 0777);
    }
}

TEST_F(MoveIntoPlaceTest, FailureLeavesBothFiles)
{
    const wxString from = temp.File("download.part");
    ASSERT_TRUE(WriteBytes(from, "fresh"));
    ASSERT_TRUE(WriteBytes(target, "stale"));
    wxString error;
    EXPECT_FALSE(MoveIntoPlace(from, temp.File("missing/video.mp4"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ("fresh", ReadBytes(from));

    error.clear();
    EXPECT_FALSE(MoveIntoPlace(temp.File("absent.part"), target, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ("stale", ReadBytes(target));
}

TEST_F(MoveIntoPlaceTest, CopiesAcrossFileSystems)
{
    char pattern[sizeof(kOtherFileSystemPattern)];
    std::copy(std::begin(kOtherFileSystemPattern), std::end(kOtherFileSystemPattern), pattern);
    if (!mkdtemp(pattern))
        GTEST_SKIP() << "no folder in /dev/shm";
    const wxString otherFolder(pattern);
    struct Cleanup
    {
        wxString path;
        ~Cleanup() { wxFileName::Rmdir(path, wxPATH_RMDIR_RECURSIVE); }
    } cleanup{otherFolder};
    if (DeviceOf(otherFolder) == DeviceOf(temp.Path()))
        GTEST_SKIP() << "/dev/shm and /tmp are one file system";

    // Bigger than one copy block, and not a multiple of it.
    std::string content(5u << 20, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = char(i * 7 % 251);
    const wxString from = otherFolder + "/download.part";
    ASSERT_TRUE(WriteBytes(from, content));
    ASSERT_TRUE(WriteBytes(target, "stale"));

    wxString error;
    wxString placed;
    EXPECT_TRUE(MoveIntoPlace(from, target, error, nullptr, &placed)) << error;
    EXPECT_EQ("stale", ReadBytes(target));
    EXPECT_EQ(temp.File("video-1.mp4"), placed);
    EXPECT_TRUE(ReadBytes(placed) == content);
    EXPECT_FALSE(wxFileName::Exists(from));
    EXPECT_EQ(2u, Listing(temp.Path()).size());

    // The copy fails at the final rename, with a name longer than the file system allows.
    ASSERT_TRUE(WriteBytes(from, "fresh"));
    ASSERT_EQ(0, chmod(from.fn_str(), 0600));
    error.clear();
    EXPECT_FALSE(MoveIntoPlace(from, temp.File(wxString('n', kLongestName + 1)), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ("fresh", ReadBytes(from));
    struct stat info;
    ASSERT_EQ(0, stat(from.fn_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777) << "the download in the shared folder";
    EXPECT_EQ(2u, Listing(temp.Path()).size()) << "a part file was left behind";
}
