#pragma once

// Shared pieces of the window tests: a dialog hook that fails a test instead of letting an
// unexpected dialog hang it, and bounded waits that keep the event loop running.

#include <gtest/gtest.h>

#include <wx/modalhook.h>

class FailingDialogHook;
#define wxTEST_DIALOG_HOOK_CLASS FailingDialogHook
#include <wx/testing.h>

#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <functional>

// Counts the hooks of wxTEST_DIALOG that are active, so the catch-all guard steps aside.
inline int& ActiveTestHooks()
{
    static int count = 0;
    return count;
}

class FailingDialogHook : public wxTestingModalHook
{
public:
    FailingDialogHook(const char* file, int line, const char* func)
        : wxTestingModalHook(file, line, func)
    {
        ++ActiveTestHooks();
    }
    ~FailingDialogHook() override { --ActiveTestHooks(); }

protected:
    int Enter(wxDialog* dialog) override
    {
        const int result = wxTestingModalHook::Enter(dialog);
        // Not expected: the failure is recorded; close it rather than show it and hang.
        return result == wxID_NONE ? wxID_CANCEL : result;
    }
    void ReportFailure(const wxString& message) override { ADD_FAILURE() << message; }
};

// Registered for the whole run: any modal dialog outside wxTEST_DIALOG fails the test.
class UnexpectedDialogGuard : public wxModalDialogHook
{
protected:
    int Enter(wxDialog* dialog) override
    {
        if (ActiveTestHooks() > 0)
            return wxID_NONE;
        wxString what = dialog->GetTitle();
        if (auto* message = dynamic_cast<wxMessageDialog*>(dialog))
            what += ": " + message->GetMessage();
        ADD_FAILURE() << "unexpected dialog \"" << what << "\" of class "
                      << dialog->GetClassInfo()->GetClassName();
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

// Runs a test body inside the modal run of a dialog of class T, then cancels the dialog.
template <class T> class ModalThen : public wxExpectModalBase<T, ModalThen<T>>
{
public:
    explicit ModalThen(std::function<void(T*)> body) : body(std::move(body)) {}

protected:
    int OnInvoked(T* dialog) const override
    {
        body(dialog);
        return wxID_CANCEL;
    }

private:
    std::function<void(T*)> body;
};

// Runs the event loop until the condition holds or the time is up; true when it held.
inline bool WaitFor(const std::function<bool()>& condition, long timeoutMs)
{
    constexpr long kStepMs = 10;
    const wxLongLong deadline = wxGetLocalTimeMillis() + timeoutMs;
    while (!condition())
    {
        if (wxGetLocalTimeMillis() > deadline)
            return false;
        wxTheApp->Yield(true);
        wxMilliSleep(kStepMs);
    }
    return true;
}

// Lets the event loop run for a while, for waits on something that must not happen.
inline void RunEventsFor(long durationMs)
{
    WaitFor([] { return false; }, durationMs);
}

// Puts text on the clipboard as a program the user copied from would.
inline void CopyToClipboard(const wxString& text)
{
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTheClipboard->SetData(new wxTextDataObject(text));
    wxTheClipboard->Close();
}

// Owning the clipboard at exit makes the toolkit wait to hand it over: give it up.
inline void GiveUpClipboard()
{
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTheClipboard->Clear();
    wxTheClipboard->Close();
}
