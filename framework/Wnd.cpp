#include "framework/Wnd.h"

#include "framework/Gdi.h"
#include "framework/Menu.h"
#include "framework/WinApp.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>

namespace {
const char* const kOwnerProperty = "corvane_cwnd";
}

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    DestroyWindow();
}

CWnd* CWnd::FromHandle(const QWidget* widget)
{
    if (!widget)
        return nullptr;
    return reinterpret_cast<CWnd*>(widget->property(kOwnerProperty).value<quintptr>());
}

void CWnd::Attach(QWidget* widget, DWORD style, int id)
{
    m_widget = widget;
    m_style = style;
    m_nID = id;
    widget->setProperty(kOwnerProperty, QVariant::fromValue(quintptr(this)));
    new CWndEvents(this, widget);  // a child of the widget: it goes with it
}

BOOL CWnd::CreateChild(QWidget* widget, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    if (m_widget || !parent || !parent->GetSafeHwnd()) {
        delete widget;
        return FALSE;
    }
    widget->setParent(parent->GetSafeHwnd());
    widget->setGeometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    Attach(widget, style, int(id));
    widget->setEnabled(!(style & WS_DISABLED));
    widget->setVisible(style & WS_VISIBLE);
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    for (auto& [id, timer] : m_timers)
        delete timer.data();
    m_timers.clear();
    QWidget* widget = m_widget.data();
    if (!widget)
        return FALSE;
    m_widget.clear();
    widget->setProperty(kOwnerProperty, QVariant());
    for (CWndEvents* events : widget->findChildren<CWndEvents*>(Qt::FindDirectChildrenOnly))
        delete events;
    delete widget;
    return TRUE;
}

void CWnd::SetWindowText(const CString& text)
{
    if (!m_widget)
        return;
    if (m_widget->isWindow())
        m_widget->setWindowTitle(text);
    m_widget->setProperty("corvane_text", text);
    m_widget->update();
}

CString CWnd::GetWindowText() const
{
    if (!m_widget)
        return CString();
    return m_widget->property("corvane_text").toString();
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    if (!m_widget)
        return FALSE;
    const BOOL wasVisible = m_widget->isVisible();
    switch (nCmdShow) {
    case SW_HIDE:
        m_widget->hide();
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        m_widget->showMinimized();
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
        if (m_widget->isWindow())
            m_widget->showNormal();
        else
            m_widget->show();
        break;
    default:
        m_widget->show();
        break;
    }
    m_style = m_widget->isVisible() || m_widget->isMinimized() ? (m_style | WS_VISIBLE) : (m_style & ~WS_VISIBLE);
    return wasVisible;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT /*flags*/)
{
    const DWORD old = m_style;
    SetWindowLong(GWL_STYLE, LONG((old & ~remove) | add));
    return old != m_style;
}

LONG CWnd::SetWindowLong(int index, LONG value)
{
    if (index != GWL_STYLE)
        return 0;
    const DWORD old = m_style;
    m_style = DWORD(value);
    if (!m_widget)
        return LONG(old);
    const DWORD frameBits = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_POPUP;
    if (m_widget->isWindow() && (old & frameBits) != (m_style & frameBits))
        ApplyTopLevelStyle();
    if ((old ^ m_style) & WS_DISABLED)
        m_widget->setEnabled(!(m_style & WS_DISABLED));
    // Setting WS_VISIBLE directly shows without moving or activating.
    if (bool(m_style & WS_VISIBLE) != m_widget->isVisible()) {
        if (m_widget->isWindow() && (m_style & WS_VISIBLE))
            m_widget->setAttribute(Qt::WA_ShowWithoutActivating, true);
        m_widget->setVisible(m_style & WS_VISIBLE);
        m_widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    return LONG(old);
}

void CWnd::ApplyTopLevelStyle()
{
    if (!m_widget || !m_widget->isWindow())
        return;
    Qt::WindowFlags flags = m_widget->parentWidget() ? Qt::Dialog : Qt::Window;
    if (m_style & WS_CAPTION)
        flags |= Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    else
        flags |= Qt::FramelessWindowHint;
    if (m_style & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint;
        if (m_style & WS_CAPTION)
            flags |= Qt::WindowCloseButtonHint;
    }
    if (m_style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (m_widget->windowFlags() == flags)
        return;
    const bool visible = m_widget->isVisible();
    m_widget->setWindowFlags(flags);  // hides the window
    if (visible)
        m_widget->show();
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    if (!m_widget)
        return FALSE;
    const BOOL wasDisabled = !m_widget->isEnabled();
    m_widget->setEnabled(enable);
    m_style = enable ? (m_style & ~WS_DISABLED) : (m_style | WS_DISABLED);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const
{
    return m_widget && m_widget->isEnabled();
}

BOOL CWnd::IsWindowVisible() const
{
    return m_widget && m_widget->isVisible();
}

BOOL CWnd::IsIconic() const
{
    return m_widget && m_widget->isMinimized();
}

void CWnd::InvalidateRect(const RECT* rect, BOOL /*erase: every paint erases here*/)
{
    if (!m_widget)
        return;
    if (rect)
        m_widget->update(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    else
        m_widget->update();
}

void CWnd::GetClientRect(RECT* rect) const
{
    if (!rect)
        return;
    *rect = RECT{};
    if (m_widget) {
        rect->right = m_widget->width();
        rect->bottom = m_widget->height();
    }
}

void CWnd::GetWindowRect(RECT* rect) const
{
    if (!rect)
        return;
    *rect = RECT{};
    if (m_widget) {
        const QRect r = m_widget->isWindow() ? m_widget->frameGeometry()
                                             : QRect(m_widget->mapToGlobal(QPoint(0, 0)), m_widget->size());
        *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
}

HICON CWnd::SetIcon(const HICON& icon, BOOL /*bigIcon: Qt keeps all sizes in one icon*/)
{
    if (!m_widget)
        return HICON();
    HICON previous = m_widget->windowIcon();
    m_widget->setWindowIcon(icon);
    return previous;
}

CWnd* CWnd::GetParent() const
{
    return m_widget ? FromHandle(m_widget->parentWidget()) : nullptr;
}

void CWnd::SetFocus()
{
    if (m_widget)
        m_widget->setFocus(Qt::OtherFocusReason);
}

int CWnd::MessageBox(const CString& text, const CString& caption, UINT type)
{
    QWidget* owner = m_widget ? m_widget->window() : nullptr;
    return AfxShowMessageBox(owner, text, caption.isNull() ? AfxGetAppName() : caption, type);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, void* /*unusedTimerProc*/)
{
    if (!m_widget)
        return 0;
    // As Win32: setting an existing id again replaces its interval.
    auto it = m_timers.find(id);
    QTimer* timer = it != m_timers.end() ? it->second.data() : nullptr;
    if (!timer) {
        timer = new QTimer(m_widget);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [this, id] { OnTimer(id); });
        m_timers[id] = timer;
    }
    timer->start(int(std::max<UINT>(elapseMs, 10)));
    return id == 0 ? 1 : id;
}

BOOL CWnd::KillTimer(UINT_PTR id)
{
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return FALSE;
    if (QTimer* timer = it->second.data()) {
        timer->stop();
        timer->deleteLater();  // it may be the timer whose handler is running
    }
    m_timers.erase(it);
    return TRUE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_widget)
        return FALSE;
    // The widget is the context: a message posted to a window that has gone
    // is dropped with it.
    QMetaObject::invokeMethod(
        m_widget, [this, message, wParam, lParam] { SendMessage(message, wParam, lParam); },
        Qt::QueuedConnection);
    return TRUE;
}

CMenu* CWnd::GetSystemMenu(BOOL revert)
{
    if (!m_widget || !m_widget->isWindow() || !(m_style & WS_SYSMENU))
        return nullptr;
    if (revert || !m_sysMenu) {
        m_sysMenu = std::make_unique<CMenu>();
        m_sysMenu->AppendMenu(MF_STRING, SC_RESTORE, QStringLiteral("&Restore"));
        m_sysMenu->AppendMenu(MF_STRING, SC_MOVE, QStringLiteral("&Move"));
        m_sysMenu->AppendMenu(MF_STRING, SC_MINIMIZE, QStringLiteral("Mi&nimize"));
        m_sysMenu->AppendMenu(MF_SEPARATOR);
        m_sysMenu->AppendMenu(MF_STRING, SC_CLOSE, QStringLiteral("&Close\tAlt+F4"));
    }
    return revert ? nullptr : m_sysMenu.get();
}

void CWnd::ShowSystemMenu(const QPoint& globalPos)
{
    CMenu* sysMenu = GetSystemMenu(FALSE);
    if (!sysMenu)
        return;
    QMenu menu(m_widget);
    for (const CMenu::Item& item : sysMenu->Items()) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(item.text.section(u'\t', 0, 0));
        action->setData(QVariant::fromValue(quintptr(item.id)));
        const bool minimized = m_widget->isMinimized();
        if ((item.flags & MF_GRAYED) || (item.id == SC_RESTORE && !minimized) ||
            (item.id == SC_MINIMIZE && (minimized || !(m_style & WS_MINIMIZEBOX))))
            action->setEnabled(false);
        if (item.id == SC_CLOSE)
            action->setShortcut(QKeySequence(QStringLiteral("Alt+F4")));
    }
    QPointer<QWidget> alive = m_widget;
    QAction* chosen = menu.exec(globalPos);
    if (chosen && alive)
        SendMessage(WM_SYSCOMMAND, WPARAM(chosen->data().value<quintptr>()),
                    MAKELPARAM(globalPos.x(), globalPos.y()));
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_SYSCOMMAND:
        OnSysCommand(UINT(wParam), lParam);
        return 0;
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_SETICON:
        return 0;
    default:
        return DefWindowProc(message, wParam, lParam);
    }
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    if (!m_widget)
        return 0;
    switch (message) {
    case WM_CLOSE:
        // A plain window goes away; dialogs handle WM_CLOSE themselves.
        if (CWndEvents* events = m_widget->findChild<CWndEvents*>(QString(), Qt::FindDirectChildrenOnly))
            QMetaObject::invokeMethod(events, [this] { DestroyWindow(); }, Qt::QueuedConnection);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            ShowWindow(SW_MINIMIZE);
            break;
        case SC_RESTORE:
            ShowWindow(SW_RESTORE);
            break;
        case SC_CLOSE:
            SendMessage(WM_CLOSE);
            break;
        case SC_MOVE:
            if (QWindow* window = m_widget->window()->windowHandle())
                window->startSystemMove();
            break;
        default:
            break;
        }
        return 0;
    case WM_NCLBUTTONDOWN:
        if (wParam == HTCAPTION) {
            // The window manager moves the window with the mouse; without one
            // (or where it refuses), follow the mouse ourselves.
            QWidget* top = m_widget->window();
            QWindow* window = top->windowHandle();
            if (window && window->startSystemMove())
                return 0;
            if (CWnd* topWnd = FromHandle(top))
                if (QWidget* w = topWnd->GetSafeHwnd())
                    if (CWndEvents* events = w->findChild<CWndEvents*>(QString(), Qt::FindDirectChildrenOnly))
                        events->BeginManualDrag();
        }
        return 0;
    default:
        return 0;
    }
}

LRESULT CWnd::Default()
{
    // The default course of the handled messages (WM_TIMER, WM_PAINT, ...)
    // has nothing left to do here.
    return 0;
}

BOOL CWnd::PreTranslateMessage(MSG* /*msg*/)
{
    return FALSE;
}

int CWnd::OnCreate(CREATESTRUCT* /*cs*/)
{
    return 0;
}

void CWnd::OnTimer(UINT_PTR /*id*/) {}

void CWnd::OnPaint() {}

BOOL CWnd::OnEraseBkgnd(CDC* dc)
{
    // Top-level windows erase with their background colour; child controls
    // leave what lies beneath them.
    if (m_widget && m_widget->isWindow() && dc && dc->Painter())
        dc->Painter()->fillRect(m_widget->rect(), m_widget->palette().window());
    return TRUE;
}

void CWnd::OnLButtonDown(UINT /*flags*/, CPoint /*point*/) {}

void CWnd::OnSysCommand(UINT id, LPARAM lParam)
{
    DefWindowProc(WM_SYSCOMMAND, id, lParam);
}

void CWnd::OnClose()
{
    DefWindowProc(WM_CLOSE, 0, 0);
}

BOOL CWnd::OnCommand(WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    return FALSE;
}

HBRUSH CWnd::OnCtlColor(CDC* /*dc*/, CWnd* /*wnd*/, UINT /*ctlColor*/)
{
    return nullptr;
}

// ---------------------------------------------------------------------------

CWndEvents::CWndEvents(CWnd* owner, QWidget* widget) : QObject(widget), m_owner(owner), m_widget(widget)
{
    widget->installEventFilter(this);
}

void CWndEvents::BeginManualDrag()
{
    m_dragging = true;
    m_dragStartGlobal = m_pressGlobal;
    m_dragStartWindow = m_widget->window()->pos();
}

bool CWndEvents::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_widget || CWnd::FromHandle(m_widget) != m_owner)
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        if (!m_owner->OwnsPainting())
            return false;
        QPainter painter(m_widget);
        CDC dc(&painter);
        m_owner->m_painter = &painter;
        m_owner->OnEraseBkgnd(&dc);
        m_owner->OnPaint();
        m_owner->m_painter = nullptr;
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_pressGlobal = mouse->globalPosition().toPoint();
        const QPoint p = mouse->position().toPoint();
        m_owner->OnLButtonDown(0x0001 /* MK_LBUTTON */, CPoint(p.x(), p.y()));
        return false;
    }
    case QEvent::MouseMove:
        if (m_dragging) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            m_widget->window()->move(m_dragStartWindow + (mouse->globalPosition().toPoint() - m_dragStartGlobal));
            return true;
        }
        return false;
    case QEvent::MouseButtonRelease:
        if (m_dragging && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_dragging = false;
            return true;
        }
        return false;
    case QEvent::Close:
        if (!m_widget->isWindow())
            return false;
        // The window manager's close (Alt+F4, the taskbar) is WM_CLOSE.
        event->ignore();
        m_owner->SendMessage(WM_CLOSE);
        return true;
    case QEvent::ContextMenu:
        if (m_widget->isWindow() && (m_owner->GetStyle() & WS_SYSMENU)) {
            m_owner->ShowSystemMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        return false;
    default:
        return false;
    }
}
