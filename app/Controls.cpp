// The skinned window's controls: five bitmap buttons, the bitmap progress
// bar and eleven static texts at fixed places on the background bitmap, and
// the colours and fonts of the texts.
#include "app/CorvaneDlg.h"

namespace {

struct ButtonSpec
{
    CBitmapButton CCorvaneDlg::*member;
    UINT id;
    const char* caption;
    int left, top;
    UINT up, down, focus, disabled;
};

struct StaticSpec
{
    CStatic CCorvaneDlg::*member;
    UINT id;
    const char16_t* text;
    DWORD style;
    RECT rect;
};

// The three small buttons stand in one row at the top right: Question,
// Minimize, Close. Pause/Resume starts in its running look.
const ButtonSpec kButtons[] = {
    {&CCorvaneDlg::m_btnPauseResume, 100, "Pause/Resume", 109, 292, 163, 165, 166, 164},
    {&CCorvaneDlg::m_btnShowFolder, 101, "ShowContainingFolder", 203, 292, 159, 161, 162, 132},
    {&CCorvaneDlg::m_btnMinimize, 102, "Minimize", 570, 7, 172, 174, 175, 173},
    {&CCorvaneDlg::m_btnClose, 103, "Close", 587, 7, 131, 157, 158, 156},
    {&CCorvaneDlg::m_btnQuestion, 106, "Question", 553, 7, 194, 196, 193, 195},
};

// Labels run to x = 500 and overlap their values; neither draws a
// background, so both show. The values and the percentage start hidden.
// The percentage number ends at x = 204, right-aligned, against "/100%" at
// x = 205, so the two read as one text ("42/100%").
const StaticSpec kStatics[] = {
    {&CCorvaneDlg::m_lblPath, 104, u"File path", WS_CHILD | WS_VISIBLE | SS_LEFT, {50, 148, 500, 166}},
    {&CCorvaneDlg::m_lblSize, 104, u"File size", WS_CHILD | WS_VISIBLE | SS_LEFT, {50, 166, 500, 184}},
    {&CCorvaneDlg::m_lblRate, 104, u"Down rate", WS_CHILD | WS_VISIBLE | SS_LEFT, {50, 184, 500, 202}},
    {&CCorvaneDlg::m_lblPeers, 104, u"Peer", WS_CHILD | WS_VISIBLE | SS_LEFT, {50, 202, 500, 220}},
    {&CCorvaneDlg::m_txtPercentSuffix, 105, u"/100%", WS_CHILD | SS_LEFT, {205, 262, 500, 520}},
    {&CCorvaneDlg::m_txtPath, 105, u"", WS_CHILD | SS_ENDELLIPSIS, {115, 148, 415, 166}},
    {&CCorvaneDlg::m_txtSize, 105, u"", WS_CHILD | SS_ENDELLIPSIS, {115, 166, 415, 184}},
    {&CCorvaneDlg::m_txtRate, 105, u"", WS_CHILD | SS_ENDELLIPSIS, {115, 184, 415, 202}},
    {&CCorvaneDlg::m_txtPeers, 105, u"", WS_CHILD | SS_ENDELLIPSIS, {80, 202, 400, 220}},
    {&CCorvaneDlg::m_txtPercent, 104, u"", WS_CHILD | SS_RIGHT, {178, 262, 204, 520}},
    {&CCorvaneDlg::m_txtCaption, 108, u"Corvane", WS_CHILD | WS_VISIBLE | SS_LEFT, {30, 30, 300, 80}},
};

constexpr RECT kProgressRect{41, 232, 427, 245};  // 386 x 13

// CreateFontW's remaining attributes: not italic, underlined or struck out,
// DEFAULT_CHARSET, default precisions and quality, FF_SWISS | DEFAULT_PITCH.
void MakeFont(CFont& font, int height, int weight, const CString& face)
{
    font.CreateFont(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, 1, 0, 0, 0, 0x20, face);
}

} // namespace

void CCorvaneDlg::CreateControls()
{
    for (const ButtonSpec& b : kButtons) {
        CBitmapButton& button = this->*b.member;
        button.Create(QString::fromLatin1(b.caption), WS_CHILD | WS_VISIBLE | BS_OWNERDRAW,
                      RECT{b.left, b.top, 0, 0}, this, b.id);
    }
    for (const ButtonSpec& b : kButtons)
        (this->*b.member).LoadBitmaps(b.up, b.down, b.focus, b.disabled);
    for (const ButtonSpec& b : kButtons)
        (this->*b.member).SizeToContent();
    for (const ButtonSpec& b : kButtons)
        (this->*b.member).InvalidateRect(nullptr, TRUE);

    m_progress.Create(WS_CHILD, kProgressRect, this, 100);
    m_progress.SendMessage(PBM_SETPOS, 50, 0);

    // The fonts live as long as the dialog: a static draws with the one its
    // colour request selects, so it must outlast every paint.
    MakeFont(m_fontLabel, 12, 700, QStringLiteral(u"굴림체"));
    MakeFont(m_fontValue, 12, 400, QStringLiteral(u"굴림체"));
    // Qt weighs fonts on Windows' 1..1000 scale, so 956 is passed as it is;
    // the nearest face of the stand-in family is its bold one.
    MakeFont(m_fontCaption, 26, 956, QStringLiteral("Berlin Sans FB Demi"));

    for (const StaticSpec& s : kStatics)
        (this->*s.member).Create(QString::fromUtf16(s.text), s.style, s.rect, this, s.id);
}

HBRUSH CCorvaneDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT /*ctlColor*/)
{
    // Every control draws without a background of its own: the dialog's
    // bitmap shows behind each text. The id alone decides colour and font.
    dc->SetBkMode(TRANSPARENT);
    dc->SelectStockObject(NULL_BRUSH);
    switch (wnd ? wnd->GetDlgCtrlID() : 0) {
    case 104:
        dc->SetTextColor(RGB(255, 204, 0));
        dc->SelectObject(&m_fontLabel);
        break;
    case 105:
        dc->SetTextColor(RGB(255, 255, 255));
        dc->SelectObject(&m_fontValue);
        break;
    case 108:
        dc->SetTextColor(RGB(255, 255, 255));
        dc->SelectObject(&m_fontCaption);
        break;
    default:
        break;
    }
    return nullptr;
}
