#pragma once

#include <wx/dialog.h>

class wxButton;
class wxCheckBox;
class wxTextCtrl;

// The settings window: where audio and video files are saved and whether Norvik starts at
// log-on. Nothing reaches the settings file until Save.
class OptionsDlg : public wxDialog
{
public:
    static const long ID_TEXTCTRL2;
    static const long ID_BUTTON2;
    static const long ID_TEXTCTRL1;
    static const long ID_BUTTON1;
    static const long ID_CHECKBOX1;
    static const long ID_BUTTON3;
    static const long ID_BUTTON4;

    OptionsDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~OptionsDlg() override;

    wxTextCtrl* audioPathText = nullptr;
    wxButton* audioBrowseButton = nullptr;
    wxTextCtrl* videoPathText = nullptr;
    wxButton* videoBrowseButton = nullptr;
    wxCheckBox* autorunCheck = nullptr;
    wxButton* cancelButton = nullptr;
    wxButton* saveButton = nullptr;

private:
    void BuildLayout();
    wxButton* MakeBrowseButton(long id, const wxString& name);
    void LoadSettings();
    // Replaces the field's text only when the user confirms a folder.
    void PickFolderInto(wxTextCtrl* field, const wxString& message);

    void OnBrowseAudio(wxCommandEvent& event);
    void OnBrowseVideo(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnSave(wxCommandEvent& event);
};
