// Labels must show whole in their controls, in English and in German, whose words run
// longest; the browse buttons of the options dialog are checked on screen as well.
#include "support/GermanLocale.h"
#include "support/GuiTestSupport.h"
#include "support/XServerView.h"

#include "ui/AboutDlg.h"
#include "ui/NorvikFrame.h"
#include "ui/OptionsDlg.h"
#include "ui/UpdateDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/control.h>
#include <wx/hyperlink.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <memory>

namespace
{
constexpr long kDrawWaitMs = 3000;
// A label's glyphs are drawn in a colour far darker than the button's face.
constexpr int kInkBrightnessBelow = 128;
// Anti-aliasing leaves the outermost columns of a label's text extent too light to count.
constexpr int kInkShortfall = 4;

int Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    return int((pixel & mask) >> shift);
}

// What the X server shows of a control's label: how many pixels are dark enough to be ink,
// and how wide a band of columns they span.
struct Ink
{
    int pixels = -1; // -1 when the window could not be read
    int width = 0;
    // Until the window is first drawn the server holds black; a drawn button is mostly face.
    bool Drawn(const wxSize& size) const { return pixels >= 0 && pixels * 2 < size.x * size.y; }
};

Ink ReadInk(wxWindow* control)
{
    Display* display = TestDisplayConnection();
    if (!display)
        return Ink();
    wxWindow* top = wxGetTopLevelParent(control);
    const Window window = FindTopLevel(display, top->GetScreenRect());
    Ink ink;
    // The X window spans the whole top-level window, menu bar included.
    const wxRect area(control->GetScreenPosition() - top->GetScreenRect().GetPosition(),
                      control->GetSize());
    XImage* image = window ? XGetImage(display, window, area.x, area.y, unsigned(area.width),
                                       unsigned(area.height), AllPlanes, ZPixmap)
                           : nullptr;
    if (image)
    {
        ink.pixels = 0;
        int left = area.width;
        int right = -1;
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x)
            {
                const unsigned long pixel = XGetPixel(image, x, y);
                const int brightness =
                    (Channel(pixel, image->red_mask) + Channel(pixel, image->green_mask) +
                     Channel(pixel, image->blue_mask)) /
                    3;
                if (brightness < kInkBrightnessBelow)
                {
                    ++ink.pixels;
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        ink.width = right >= left ? right - left + 1 : 0;
        XDestroyImage(image);
    }
    return ink;
}

// Every labelled control of a shown top-level window. A button must show its label whole on
// the screen: ink as wide as the label's text, not cut by the button's edges. The others
// must have been given the size the toolkit says their label needs.
void ExpectEveryLabelFits(wxWindow* top, const wxString& where)
{
    int checked = 0;
    for (wxWindow* child : top->GetChildren())
    {
        const wxString label = wxControl::RemoveMnemonics(child->GetLabel());
        if (label.empty())
            continue;
        if (dynamic_cast<wxButton*>(child))
        {
            ++checked;
            const int textWidth = child->GetTextExtent(label).x;
            Ink ink;
            WaitFor(
                [&]
                {
                    ink = ReadInk(child);
                    return ink.Drawn(child->GetSize());
                },
                kDrawWaitMs);
            EXPECT_TRUE(ink.Drawn(child->GetSize())) << where << ": never drawn";
            EXPECT_GE(ink.width, textWidth - kInkShortfall)
                << where << ": \"" << label << "\" is not shown whole (" << ink.pixels
                << " dark pixels)";
            EXPECT_LT(ink.width, child->GetSize().x)
                << where << ": \"" << label << "\" runs into the button's edges";
        }
        else if (dynamic_cast<wxCheckBox*>(child) || dynamic_cast<wxStaticText*>(child) ||
                 dynamic_cast<wxStaticBox*>(child) || dynamic_cast<wxHyperlinkCtrl*>(child))
        {
            ++checked;
            const wxSize given = child->GetSize();
            const wxSize needed = child->GetBestSize();
            EXPECT_GE(given.x, needed.x) << where << ": \"" << label << "\" is cut off";
            EXPECT_GE(given.y, needed.y) << where << ": \"" << label << "\" is cut off";
        }
    }
    EXPECT_GT(checked, 0) << where;
}

// Shows the window alone on the screen while its labels are checked: the X server keeps
// no pixels of what another window covers.
void ExpectEveryLabelFitsOnScreen(wxTopLevelWindow* top, const wxString& where)
{
    top->Show();
    ExpectEveryLabelFits(top, where);
    top->Hide();
}

class LabelFitTest : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        if (GetParam())
        {
            german = std::make_unique<GermanLocale>();
            ASSERT_TRUE(german->Ready());
        }
    }
    std::unique_ptr<GermanLocale> german;
};
} // namespace

TEST_P(LabelFitTest, MainWindowLabelsFitAndTheDownloadButtonWidensOnlyForALongerLabel)
{
    auto* frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    ExpectEveryLabelFitsOnScreen(frame, "main window");
    const wxSize fixed(85, 33);
    if (GetParam())
    {
        EXPECT_EQ("Herunterladen", frame->downloadButton->GetLabel());
        EXPECT_GT(frame->downloadButton->GetSize().x, fixed.x);
        EXPECT_EQ(fixed.y, frame->downloadButton->GetSize().y);
    }
    else
    {
        EXPECT_EQ(fixed, frame->downloadButton->GetSize());
    }
    delete frame;
}

TEST_P(LabelFitTest, DialogLabelsFit)
{
    OptionsDlg options(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    ExpectEveryLabelFitsOnScreen(&options, "options dialog");
    UpdateDlg update(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    ExpectEveryLabelFitsOnScreen(&update, "update dialog");
    AboutDlg about(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    ExpectEveryLabelFitsOnScreen(&about, "about dialog");
}

TEST_P(LabelFitTest, BrowseButtonsStaySmall)
{
    OptionsDlg options(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    for (wxButton* browse : {options.audioBrowseButton, options.videoBrowseButton})
    {
        EXPECT_EQ(GetParam() ? wxString::FromUTF8("…") : wxString("..."), browse->GetLabel());
        // A small button beside the path, narrower than any labelled button of the dialog.
        EXPECT_LT(browse->GetSize().x, options.cancelButton->GetSize().x);
        EXPECT_GE(browse->GetSize().y, 24);
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, LabelFitTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info)
                         { return std::string(info.param ? "German" : "English"); });
