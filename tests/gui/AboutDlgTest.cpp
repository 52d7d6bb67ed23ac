#include "support/GuiTestSupport.h"

#include "ui/AboutDlg.h"
#include "ui/NorvikFrame.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <functional>

namespace
{
const wxString kSiteUrl = "https://www.velmorra.example/norvik";
const wxSize kPictureSize(128, 128);
constexpr long kShowWaitMs = 2000;

using AboutDlgThen = ModalThen<AboutDlg>;

} // namespace

TEST(AboutDlgTest, ControlsCarryTheirNamesInCreationOrder)
{
    AboutDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    EXPECT_EQ("id", dlg.GetName());
    EXPECT_EQ("", dlg.GetTitle());
    const char* names[] = {"ID_STATICBITMAP1", "ID_STATICTEXT1", "ID_STATICTEXT2",
                           "ID_HYPERLINKCTRL3", "ID_BUTTON1"};
    const long ids[] = {AboutDlg::ID_STATICBITMAP1, AboutDlg::ID_STATICTEXT1,
                        AboutDlg::ID_STATICTEXT2, AboutDlg::ID_HYPERLINKCTRL3,
                        AboutDlg::ID_BUTTON1};
    const wxWindowList& children = dlg.GetChildren();
    int last = -1;
    for (size_t i = 0; i < WXSIZEOF(names); ++i)
    {
        wxWindow* w = wxWindow::FindWindowByName(names[i], &dlg);
        ASSERT_NE(nullptr, w) << names[i];
        EXPECT_EQ(ids[i], w->GetId()) << names[i];
        const int at = children.IndexOf(w);
        EXPECT_GT(at, last) << names[i];
        last = at;
    }
}

TEST(AboutDlgTest, PictureIsTheProgramIconAtItsFullSize)
{
    AboutDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    auto* picture =
        dynamic_cast<wxStaticBitmap*>(wxWindow::FindWindowByName("ID_STATICBITMAP1", &dlg));
    ASSERT_NE(nullptr, picture);
    const wxBitmap bitmap = picture->GetBitmap();
    ASSERT_TRUE(bitmap.IsOk());
    EXPECT_EQ(kPictureSize, bitmap.GetSize());
    EXPECT_TRUE(picture->HasFlag(wxBORDER_SIMPLE));
    EXPECT_GE(picture->GetSize().x, kPictureSize.x);
    EXPECT_GE(picture->GetSize().y, kPictureSize.y);
    // An image, not a blank square: the pixels are not all alike.
    const wxImage image = bitmap.ConvertToImage();
    bool varied = false;
    for (int y = 0; y < image.GetHeight() && !varied; ++y)
        for (int x = 0; x < image.GetWidth() && !varied; ++x)
            varied = image.GetRed(x, y) != image.GetRed(0, 0) ||
                     image.GetGreen(x, y) != image.GetGreen(0, 0) ||
                     image.GetBlue(x, y) != image.GetBlue(0, 0) ||
                     (image.HasAlpha() && image.GetAlpha(x, y) != image.GetAlpha(0, 0));
    EXPECT_TRUE(varied);
}

TEST(AboutDlgTest, ShowsTheNameMakerAndSiteLink)
{
    AboutDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    EXPECT_EQ("Norvik", dlg.nameText->GetLabel());
    EXPECT_FALSE(dlg.makerText->GetLabel().empty());
    EXPECT_NE(wxNOT_FOUND, dlg.makerText->GetLabel().Find("Velmorra"));
    EXPECT_EQ(kSiteUrl, dlg.siteLink->GetURL());
    EXPECT_EQ(dlg.siteLink->GetURL(), dlg.siteLink->GetLabel());
    EXPECT_TRUE(dlg.siteLink->HasFlag(wxHL_CONTEXTMENU));
    EXPECT_EQ("Ok", dlg.okButton->GetLabel());
    // The picture sits left of the text column.
    EXPECT_LT(dlg.picture->GetPosition().x, dlg.nameText->GetPosition().x);
    EXPECT_LT(dlg.nameText->GetPosition().y, dlg.okButton->GetPosition().y);
    EXPECT_EQ(dlg.GetMinSize(), dlg.GetSize());
}

TEST(AboutDlgTest, OkHasTheFocusOnceShownAndClosesTheDialog)
{
    AboutDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    EXPECT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == dlg.okButton; }, kShowWaitMs));
    wxCommandEvent click(wxEVT_BUTTON, AboutDlg::ID_BUTTON1);
    click.SetEventObject(dlg.okButton);
    dlg.okButton->ProcessWindowEvent(click);
    EXPECT_TRUE(WaitFor([&] { return !dlg.IsShown(); }, kShowWaitMs));
}

TEST(AboutDlgTest, AboutMenuRunsTheDialogModallyOverTheFrame)
{
    auto* frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    bool ran = false;
    wxCommandEvent about(wxEVT_MENU, NorvikFrame::ID_MENU_ABOUT);
    wxTEST_DIALOG(frame->ProcessWindowEvent(about), AboutDlgThen(
                                                        [&](AboutDlg* dlg)
                                                        {
                                                            ran = true;
                                                            EXPECT_EQ(frame, dlg->GetParent());
                                                        }));
    EXPECT_TRUE(ran);
    delete frame;
}
