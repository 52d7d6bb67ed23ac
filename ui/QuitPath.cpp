// How the main window ends the program: at once on screen, with no download's litter left.
#include "ui/NorvikFrame.h"

#include "download/TempFileRegistry.h"
#include "ui/QuitHooks.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/modalhook.h>

#include <unistd.h>

#include <X11/Xlib.h>

namespace
{
// Counts the modal dialogs showing, native message boxes included (they run a loop of the
// toolkit's own, not one of ours).
class ModalCount : public wxModalDialogHook
{
public:
    int Enter(wxDialog*) override
    {
        ++open;
        return wxID_NONE;
    }
    void Exit(wxDialog*) override
    {
        if (open > 0)
            --open;
    }
    int open = 0;
};

ModalCount& Modals()
{
    static ModalCount* count = nullptr;
    if (!count)
    {
        count = new ModalCount;
        count->Register();
    }
    return *count;
}
} // namespace

void NorvikFrame::WatchModalDialogs()
{
    Modals();
}

void NorvikFrame::QuitNow()
{
    if (quitting)
        return;
    quitting = true;
    tickTimer.Stop();
    // Every job starts winding down now, all together; the destructor waits for them.
    for (Downloader& job : downloaders)
        job.RequestStop(StopMode::EndOfRun);
    // Off the screen at once, before any waiting (a hook may wait for a child to end).
    trayIcon.RemoveIcon();
    Hide();
    if (Display* display = wxGetX11Display())
        XFlush(display);
    QuitHooks::RunAll();
    Destroy();
}

void NorvikFrame::QuitOnSignal()
{
    // In a modal dialog or a read that waits inside the toolkit, this window cannot be
    // destroyed under the code that will run on when the wait returns: finish here instead.
    const bool nested = blockingWork || Modals().open > 0 ||
                        wxEventLoopBase::GetActive() != wxTheApp->GetMainLoop();
    QuitNow();
    if (!nested)
        return;
    EndJobsAndRemoveFiles();
    _exit(0);
}

void NorvikFrame::EndJobsAndRemoveFiles()
{
    tickTimer.Stop();
    // A lookup's thread would otherwise queue its answer to a window on its way out.
    EndLookup();
    // Every transfer is told to stop first, so they all wind down together; then each
    // worker is waited for, since the jobs die with this window. A download the journal
    // remembers keeps its partial file for the next run, which offers to go on with it.
    for (Downloader& job : downloaders)
        job.RequestStop(StopMode::EndOfRun);
    for (Downloader& job : downloaders)
        job.Join();
    QuitHooks::RunAll();
    RemoveUnusedTempFiles();
    // Whatever else this run made and still names: the bytes of downloads nobody remembers.
    TempFileRegistry::RemoveAll();
}
