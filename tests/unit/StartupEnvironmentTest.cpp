#include "app/StartupEnvironment.h"
#include "support/CountingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/snglinst.h>

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
    wxSingleInstanceChecker first;
    EXPECT_FALSE(AnotherInstanceRuns(first, kLockName));
    EXPECT_TRUE(wxFileExists(runtime.File(kLockName)));

    const wxString relative = "run/user";
    ScopedEnv relativeEnv("XDG_RUNTIME_DIR", &relative);
    EXPECT_EQ("", InstanceLockFolder()) << "a relative folder is ignored";
    ScopedEnv unset("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ("", InstanceLockFolder());
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
        wxSingleInstanceChecker checker;
        EXPECT_FALSE(AnotherInstanceRuns(checker, kLockName));
        EXPECT_EQ(0, log.Count());
    }
}
