#include "app/CorvaneDlg.h"

#include "app/Identity.h"
#include "app/util/ShellUtil.h"
#include "framework/Menu.h"
#include "framework/WinApp.h"

#include <QWidget>
#include <clocale>

CCorvaneDlg::CCorvaneDlg() : CCorvaneDlg(engine::make_session(ClientFingerprint())) {}

CCorvaneDlg::CCorvaneDlg(std::unique_ptr<engine::session> session)
    : CDialog(IDD, nullptr), m_session(std::move(session))
{
    // Template 102: captionless popup with a system menu, centred, a taskbar
    // entry, and exactly the background bitmap's size.
    m_template.style = WS_POPUP | WS_SYSMENU | DS_CENTER | DS_SETFONT;
    m_template.exStyle = WS_EX_APPWINDOW;
    m_template.width = 610;
    m_template.height = 400;
    m_template.caption = CString();
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(200) : HICON();
}

CCorvaneDlg::~CCorvaneDlg()
{
    // The window goes before the members that own its controls.
    DestroyWindow();
}

BOOL CCorvaneDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (((wParam >> 16) & 0xFFFF) == BN_CLICKED) {
        switch (wParam & 0xFFFF) {
        case 101: OnBnClickedShowContainingFolder(); return TRUE;
        case 100: OnBnClickedPauseResume(); return TRUE;
        case 102: OnBnClickedMinimize(); return TRUE;
        case 103: OnBnClickedClose(); return TRUE;
        case 106: OnBnClickedQuestion(); return TRUE;
        default: break;
        }
    }
    return CDialog::OnCommand(wParam, lParam);
}

int CCorvaneDlg::OnCreate(CREATESTRUCT* cs)
{
    if (CDialog::OnCreate(cs) == -1)
        return -1;
    SetWindowLong(GWL_STYLE, LONG(WS_SYSMENU | WS_MINIMIZEBOX));
    return 0;
}

BOOL CCorvaneDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (CMenu* sysMenu = GetSystemMenu(FALSE)) {
        CString about;
        AfxLoadString(101, about);
        if (!about.isEmpty()) {
            sysMenu->AppendMenu(MF_SEPARATOR);
            sysMenu->AppendMenu(MF_STRING, kAboutCommand, about);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    std::setlocale(LC_ALL, "");

    SetWindowText(QStringLiteral("Morlaine Corvane"));
    ShowWindow(SW_SHOWNORMAL);

    CreateControls();
    StartDownload();

    // The value texts and the bar appear once the start routine has
    // returned, also when it has already asked to close.
    ShowStatusControls();

    InvalidateRect(nullptr, TRUE);
    return TRUE;
}

void CCorvaneDlg::ShowStatusControls()
{
    m_progress.ModifyStyle(0, WS_VISIBLE);
    m_txtPercentSuffix.ModifyStyle(0, WS_VISIBLE);
    m_txtPath.ModifyStyle(0, WS_VISIBLE);
    m_txtSize.ModifyStyle(0, WS_VISIBLE);
    m_txtRate.ModifyStyle(0, WS_VISIBLE);
    m_txtPeers.ModifyStyle(0, WS_VISIBLE);
    m_txtPercent.ModifyStyle(0, WS_VISIBLE);
}

void CCorvaneDlg::OnSysCommand(UINT id, LPARAM lParam)
{
    if ((id & 0xFFF0) == kAboutCommand)
        ShowAboutBox();
    else
        CDialog::OnSysCommand(id, lParam);
}

void CCorvaneDlg::OnPaint()
{
    if (IsIconic()) {
        CPaintDC dc(this);
        RECT rect;
        GetClientRect(&rect);
        const int x = (rect.right - rect.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (rect.bottom - rect.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
    } else {
        CDialog::OnPaint();
    }
}

HCURSOR CCorvaneDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

BOOL CCorvaneDlg::OnEraseBkgnd(CDC* dc)
{
    // Loaded once and kept for the life of the process; the DC goes before
    // the bitmap at exit (reverse order of construction).
    static CBitmap background;
    static int width = 0;
    static int height = 0;
    static CDC memDC;
    static bool firstCall = true;

    if (firstCall) {
        background.LoadBitmap(171);
        BITMAP bm;
        background.GetBitmap(&bm);
        width = bm.bmWidth;
        height = bm.bmHeight;
        memDC.CreateCompatibleDC(dc);
        memDC.SelectObject(&background);
        firstCall = false;
    }
    dc->BitBlt(0, 0, width, height, &memDC, 0, 0, SRCCOPY);
    return TRUE;
}

void CCorvaneDlg::OnLButtonDown(UINT flags, CPoint point)
{
    // A press anywhere on the surface drags the window, as on a caption.
    DefWindowProc(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    CDialog::OnLButtonDown(flags, point);
}

void CCorvaneDlg::OnBnClickedMinimize()
{
    ShowWindow(SW_MINIMIZE);
}

void CCorvaneDlg::OnBnClickedShowContainingFolder()
{
    OpenWithExplorer(m_saveFolder);
}

void CCorvaneDlg::OnTimer(UINT_PTR id)
{
    if (id == kRefreshTimer) {
        RefreshProgress();
    } else {
        ReannounceTick();
        PumpAlerts();
    }
    Default();
}

BOOL CCorvaneDlg::PreTranslateMessage(MSG* msg)
{
    // Enter and Esc never end the window, whatever has the focus.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

void CCorvaneDlg::CloseDownloader()
{
    SendMessage(WM_CLOSE, 0, 0);
}
