// The toolkit's own cost of a window: a frame with one text field, built with the same
// libraries and flags as norvik, so norvik's start-up time and memory can be read against it.
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

class BaselineApp : public wxApp
{
public:
    bool OnInit() override
    {
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Baseline");
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(new wxTextCtrl(frame, wxID_ANY), wxSizerFlags().Expand().Border());
        frame->SetSizerAndFit(sizer);
        frame->Show(true);
        SetTopWindow(frame);
        return true;
    }
};

wxIMPLEMENT_APP(BaselineApp);
