#include "app/AboutDlg.h"

#include "app/CorvaneDlg.h"

#include <QPushButton>
#include <QWidget>

namespace {

// The template is laid out in dialog units; this dialog's font makes one
// unit two pixels each way.
constexpr int kPixelsPerUnit = 2;

RECT Units(int x, int y, int width, int height)
{
    return RECT{x * kPixelsPerUnit, y * kPixelsPerUnit, (x + width) * kPixelsPerUnit,
                (y + height) * kPixelsPerUnit};
}

} // namespace

CAboutDlg::CAboutDlg() : CDialog(IDD, nullptr)
{
    m_template.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    m_template.exStyle = 0;
    m_template.width = 235 * kPixelsPerUnit;
    m_template.height = 106 * kPixelsPerUnit;
    m_template.caption = QStringLiteral("Tarvix Downloader Information");
}

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The template's font: 9 points of "굴림" for every control.
    CFont font;
    font.CreateFont(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 129, 0, 0, 0, 0, QStringLiteral(u"굴림"));
    GetSafeHwnd()->setFont(font.Font());

    const DWORD text = WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP;
    m_name.Create(QStringLiteral("Tarvix  Downloader "), text | SS_NOPREFIX, Units(10, 43, 158, 13), this,
                  IDC_NAME);
    m_close.Create(QStringLiteral("Close"), WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP,
                   Units(89, 83, 50, 16), this, IDOK);
    if (auto* button = qobject_cast<QPushButton*>(m_close.GetSafeHwnd()))
        button->setDefault(true);
    m_engineRights1.Create(QStringLiteral("libtorrent (c) Arvid Norberg and contributors"), text,
                           Units(10, 11, 151, 18), this);
    m_picture.Create(CString(), WS_CHILD | WS_VISIBLE | SS_BITMAP, Units(165, 6, 63, 71), this);
    m_rule.Create(CString(), WS_CHILD | WS_VISIBLE | SS_BITMAP, Units(7, 36, 157, 1), this);
    m_engineRights2.Create(QStringLiteral("BSD license"), text, Units(10, 23, 151, 10), this);
    m_rights1.Create(QStringLiteral("Copyright (C) Tarvix."), text | SS_NOPREFIX, Units(10, 54, 148, 14), this,
                     IDC_RIGHTS_1);
    m_rights2.Create(QStringLiteral("All rights reserved."), text | SS_NOPREFIX, Units(10, 66, 148, 9), this,
                     IDC_RIGHTS_2);

    // The bitmap statics take their pictures' sizes.
    m_pictureBitmap.LoadBitmap(216);
    m_picture.SetBitmap(&m_pictureBitmap);
    m_ruleBitmap.LoadBitmap(217);
    m_rule.SetBitmap(&m_ruleBitmap);

    // TRUE: the focus goes to the first control that takes it, Close.
    return TRUE;
}

HBRUSH CAboutDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, wnd, ctlColor);
    switch (wnd ? wnd->GetDlgCtrlID() : 0) {
    case IDC_NAME:
    case IDC_RIGHTS_1:
    case IDC_RIGHTS_2:
        dc->SetBkMode(TRANSPARENT);
        dc->SetTextColor(kTextColor);
        dc->SelectStockObject(NULL_BRUSH);
        return nullptr;
    default:
        return brush;
    }
}

// Both ways in (the question button and the system menu's about item) show
// the same box; opening it changes nothing. Its loop keeps the main window's
// timers running while the window itself takes no input.
void CCorvaneDlg::ShowAboutBox()
{
    CAboutDlg dlg;
    dlg.DoModal();
}

void CCorvaneDlg::OnBnClickedQuestion()
{
    ShowAboutBox();
}
