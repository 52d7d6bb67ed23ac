#include "app/StartupEnvironment.h"
#include "app/InstanceLock.h"
#include "support/CountingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{
const wxString kLockName = "norvik-lock-test";
} // namespace

TEST(DisplayBackendTest, X11IsForcedOnlyWhereThereIsOneAndOnlyUntilTheToolkitRuns)
{
    const wxString wayland = "wayland-0";
    const wxString x11 = ":5";
    const wxString empty;
    const wxString chosen = "wayland";
    const struct
    {
        const char* name;
        const wxString* waylandDisplay;
        const wxString* display;
        const wxString* backend;
        bool forced;
    } cases[] = {
        {"Wayland with XWayland", &wayland, &x11, nullptr, true},
        {"Wayland without XWayland", &wayland, nullptr, nullptr, false},
        {"Wayland with an empty DISPLAY", &wayland, &empty, nullptr, false},
        {"X11 alone", nullptr, &x11, nullptr, false},
        {"the user's own choice", &wayland, &x11, &chosen, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ScopedEnv waylandEnv("WAYLAND_DISPLAY", c.waylandDisplay);
        ScopedEnv displayEnv("DISPLAY", c.display);
        ScopedEnv backendEnv("GDK_BACKEND", c.backend);
        const bool forced = ForceX11Backend();
        EXPECT_EQ(c.forced, forced);
        wxString backend;
        const bool backendSet = wxGetEnv("GDK_BACKEND", &backend);
        EXPECT_EQ(c.forced || c.backend, backendSet);
        if (c.forced)
        {
            EXPECT_EQ("x11", backend);
        }

        ReleaseForcedBackend(forced);
        EXPECT_EQ(c.backend != nullptr, wxGetEnv("GDK_BACKEND", &backend))
            << "programs started later get the user's environment";
    }
}

TEST(InstanceLockTest, LockLivesInTheRuntimeFolderWhenThereIsOne)
{
    TempDir runtime;
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", &runtime.Path());
    EXPECT_EQ(runtime.Path(), InstanceLockFolder());
    {
        InstanceLock first;
        EXPECT_FALSE(AnotherInstanceRuns(first, kLockName));
        EXPECT_TRUE(wxFileExists(runtime.File(kLockName)));
        struct stat info;
        ASSERT_EQ(0, stat(runtime.File(kLockName).fn_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777u) << "the lock file is the user's alone";
        InstanceLock second;
        EXPECT_TRUE(AnotherInstanceRuns(second, kLockName));
    }
    InstanceLock afterTheFirstWent;
    EXPECT_FALSE(AnotherInstanceRuns(afterTheFirstWent, kLockName))
        << "the lock goes with its holder, though its file stays";

    // Without a usable runtime folder the lock is kept in the home folder, the user's own.
    const wxString relative = "run/user";
    ScopedEnv relativeEnv("XDG_RUNTIME_DIR", &relative);
    EXPECT_EQ(wxGetHomeDir(), InstanceLockFolder()) << "a relative folder is ignored";
    ScopedEnv unset("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(wxGetHomeDir(), InstanceLockFolder());
}

TEST(InstanceLockTest, LockThatCannotBeMadeIsNeitherReportedNorABar)
{
    TempDir dir;
    ASSERT_TRUE(WriteFileText(dir.File("plain-file"), "x"));
    // A folder below a plain file cannot exist, whoever runs the test, root included.
    const wxString unusable = dir.File("plain-file/run");
    ScopedEnv homeEnv("HOME", &unusable);
    for (const wxString* runtime : {&unusable, static_cast<const wxString*>(nullptr)})
    {
        SCOPED_TRACE(runtime ? "unusable runtime folder" : "unusable home");
        ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtime);
        CountingLog log;
        InstanceLock lock;
        EXPECT_FALSE(AnotherInstanceRuns(lock, kLockName));
        EXPECT_EQ(0, log.Count());
    }
}
