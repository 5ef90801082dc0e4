#include "framework/Controls.h"

#include <QPainter>
#include <QPushButton>

BOOL CButton::Create(const CString& caption, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    auto* button = new QPushButton(caption);
    // Without WS_TABSTOP a button is not reached by Tab, but a click still
    // gives it the focus.
    button->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    button->setAutoDefault(false);
    if (!CreateChild(button, style, rect, parent, id))
        return FALSE;
    SetWindowText(caption);
    QObject::connect(button, &QPushButton::clicked, button, [this] { Click(); });
    // Pressed and released looks are repainted from DrawItem.
    QObject::connect(button, &QPushButton::pressed, button, [button] { button->update(); });
    QObject::connect(button, &QPushButton::released, button, [button] { button->update(); });
    return TRUE;
}

bool CButton::OwnsPainting() const
{
    return (GetStyle() & 0xF) == BS_OWNERDRAW;
}

void CButton::Click()
{
    if (CWnd* parent = GetParent())
        parent->SendMessage(WM_COMMAND, WPARAM(UINT(GetDlgCtrlID()) | (BN_CLICKED << 16)),
                            LPARAM(reinterpret_cast<std::intptr_t>(this)));
}

void CButton::OnPaint()
{
    auto* button = qobject_cast<QPushButton*>(GetSafeHwnd());
    if (!button)
        return;
    CPaintDC dc(this);
    DRAWITEMSTRUCT item;
    item.CtlID = UINT(GetDlgCtrlID());
    if (button->isDown())
        item.itemState |= ODS_SELECTED;
    if (button->hasFocus())
        item.itemState |= ODS_FOCUS;
    if (!button->isEnabled())
        item.itemState |= ODS_DISABLED;
    GetClientRect(&item.rcItem);
    item.pDC = &dc;
    DrawItem(&item);
}

void CButton::DrawItem(DRAWITEMSTRUCT* /*item*/) {}

BOOL CBitmapButton::LoadBitmaps(UINT up, UINT down, UINT focus, UINT disabled)
{
    m_bitmap.DeleteObject();
    m_bitmapSel.DeleteObject();
    m_bitmapFocus.DeleteObject();
    m_bitmapDisabled.DeleteObject();
    BOOL ok = m_bitmap.LoadBitmap(up);
    if (down)
        ok = m_bitmapSel.LoadBitmap(down) && ok;
    if (focus)
        ok = m_bitmapFocus.LoadBitmap(focus) && ok;
    if (disabled)
        ok = m_bitmapDisabled.LoadBitmap(disabled) && ok;
    return ok;
}

void CBitmapButton::SizeToContent()
{
    if (QWidget* w = GetSafeHwnd(); w && !m_bitmap.IsNull())
        w->resize(m_bitmap.Image().size());
}

void CBitmapButton::DrawItem(DRAWITEMSTRUCT* item)
{
    // Pressed, else focused, else disabled, else up; a state without its
    // bitmap falls through to the next test.
    CBitmap* bitmap = &m_bitmap;
    const UINT state = item->itemState;
    if ((state & ODS_SELECTED) && !m_bitmapSel.IsNull())
        bitmap = &m_bitmapSel;
    else if ((state & ODS_FOCUS) && !m_bitmapFocus.IsNull())
        bitmap = &m_bitmapFocus;
    else if ((state & ODS_DISABLED) && !m_bitmapDisabled.IsNull())
        bitmap = &m_bitmapDisabled;
    if (bitmap->IsNull())
        return;
    CDC memDC;
    memDC.CreateCompatibleDC(item->pDC);
    memDC.SelectObject(bitmap);
    const RECT& r = item->rcItem;
    item->pDC->BitBlt(r.left, r.top, r.right - r.left, r.bottom - r.top, &memDC, 0, 0, SRCCOPY);
}

void CStatic::SetBitmap(const CBitmap* bitmap)
{
    m_bitmap = bitmap ? bitmap->Image() : QImage();
    if (QWidget* w = GetSafeHwnd(); w && (GetStyle() & 0x1F) == SS_BITMAP && !m_bitmap.isNull())
        w->resize(m_bitmap.size());  // bitmap statics take their bitmap's size
    InvalidateRect(nullptr, TRUE);
}

BOOL CStatic::Create(const CString& text, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    auto* widget = new QWidget;
    // Statics take no clicks: presses go to the dialog beneath (and drag it).
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (!CreateChild(widget, style, rect, parent, id))
        return FALSE;
    SetWindowText(text);
    return TRUE;
}

void CStatic::OnPaint()
{
    QWidget* widget = GetSafeHwnd();
    CPaintDC dc(this);
    QPainter* painter = dc.Painter();
    if (!widget || !painter)
        return;
    // The parent picks mode, colour and font (WM_CTLCOLORSTATIC); no
    // background is drawn either way.
    painter->setFont(widget->font());
    painter->setPen(Qt::black);
    if (CWnd* parent = GetParent())
        parent->OnCtlColor(&dc, this, CTLCOLOR_STATIC);
    if (CFont* font = dc.GetCurrentFont(); font && !font->IsNull())
        painter->setFont(font->Font());
    const COLORREF c = dc.GetTextColor();
    painter->setPen(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));

    const DWORD style = GetStyle();
    const int kind = style & 0x1F;
    int align = kind == SS_RIGHT ? Qt::AlignRight : kind == SS_CENTER ? Qt::AlignHCenter
                                                                                      : Qt::AlignLeft;
    align |= Qt::AlignTop;
    const QRect r = widget->rect();
    if ((style & 0x1F) == SS_BITMAP) {
        if (!m_bitmap.isNull())
            painter->drawImage(QPoint(0, 0), m_bitmap);
        return;
    }
    const QString text = GetWindowText();
    if (style & SS_ENDELLIPSIS) {
        const QString shown = painter->fontMetrics().elidedText(text, Qt::ElideRight, r.width());
        painter->drawText(r, align | Qt::TextSingleLine, shown);
    } else {
        painter->drawText(r, align | Qt::TextWordWrap, text);
    }
}

BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateChild(new QWidget, style, rect, parent, id);
}

int CProgressCtrl::SetPos(int pos)
{
    const int previous = m_pos;
    m_pos = std::clamp(pos, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
    InvalidateRect(nullptr, TRUE);
    return previous;
}

void CProgressCtrl::SetRange(int lower, int upper)
{
    m_lower = lower;
    m_upper = upper;
    m_pos = std::clamp(m_pos, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
    InvalidateRect(nullptr, TRUE);
}

LRESULT CProgressCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case PBM_SETPOS:
        return SetPos(int(wParam));
    case PBM_GETPOS:
        return GetPos();
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}

void CProgressCtrl::OnPaint()
{
    CPaintDC dc(this);
    QWidget* widget = GetSafeHwnd();
    if (!dc.Painter() || !widget || m_upper == m_lower)
        return;
    const double fraction = double(m_pos - m_lower) / double(m_upper - m_lower);
    QRect done = widget->rect();
    done.setWidth(int(done.width() * fraction));
    dc.Painter()->fillRect(done, widget->palette().highlight());
}
