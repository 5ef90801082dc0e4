// The about box: an ordinary captioned dialog with the maker's picture, a
// rule, the program's name, the BitTorrent engine's and the maker's rights
// notices, and a Close button.
#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"

#include <array>
#include <memory>

class CAboutDlg : public CDialog
{
public:
    static constexpr UINT IDD = 100;
    static constexpr UINT IDC_NAME = 1003;     // "Tarvix  Downloader "
    static constexpr UINT IDC_RIGHTS_1 = 1004; // the maker's notice, first line
    static constexpr UINT IDC_RIGHTS_2 = 1005; // second line
    static constexpr COLORREF kTextColor = RGB(116, 106, 101);

    CAboutDlg();

    BOOL OnInitDialog() override;
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) override;

private:
    // The template's controls, in its order (also the tab order).
    CStatic m_name;
    CButton m_close;
    CStatic m_engineRights1;
    CStatic m_picture;
    CStatic m_rule;
    CStatic m_engineRights2;
    CStatic m_rights1;
    CStatic m_rights2;
    CBitmap m_pictureBitmap;
    CBitmap m_ruleBitmap;
};
