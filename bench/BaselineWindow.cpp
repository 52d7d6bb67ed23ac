// The toolkit's own cost of a window: a frame with one text field, built with the same
// libraries and flags as norvik, so norvik's start-up time and memory can be read against it.
// Built a second time with BASELINE_WITH_CURL, when it also loads and initialises libcurl the
// way norvik's start-up does: the share of the download library in norvik's figures.
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#ifdef BASELINE_WITH_CURL
#include <curl/curl.h>
#endif

class BaselineApp : public wxApp
{
public:
    bool OnInit() override
    {
#ifdef BASELINE_WITH_CURL
        curl_global_init(CURL_GLOBAL_ALL);
#endif
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
