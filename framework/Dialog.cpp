#include "framework/Dialog.h"

#include "framework/WinApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScreen>

// Sees key presses bound for the dialog's window before they are dispatched,
// as the modal loop's PreTranslateMessage does: first the control that has
// the focus, then its parents up to the dialog. Alt+Space opens the system
// menu.
class CDialog::KeyFilter : public QObject
{
public:
    explicit KeyFilter(CDialog* dialog) : m_dialog(dialog) { qApp->installEventFilter(this); }
    ~KeyFilter() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        QWidget* top = m_dialog->GetSafeHwnd();
        if (!top || widget->window() != top)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && (key->modifiers() & Qt::AltModifier)) {
            m_dialog->ShowSystemMenu(top->mapToGlobal(QPoint(0, 0)));
            return true;
        }
        MSG msg;
        msg.message = (key->modifiers() & Qt::AltModifier) ? WM_SYSKEYDOWN : WM_KEYDOWN;
        msg.wParam = VirtualKey(key);
        for (QWidget* w = widget; w; w = w->parentWidget()) {
            if (CWnd* wnd = CWnd::FromHandle(w))
                if (wnd->PreTranslateMessage(&msg))
                    return true;
            if (w == top)
                break;
        }
        return false;
    }

private:
    static WPARAM VirtualKey(const QKeyEvent* key)
    {
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return VK_RETURN;
        case Qt::Key_Escape: return VK_ESCAPE;
        case Qt::Key_Space: return VK_SPACE;
        default:
            // Letters and digits have their ASCII codes as virtual keys.
            if ((key->key() >= Qt::Key_0 && key->key() <= Qt::Key_9) ||
                (key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z))
                return WPARAM(key->key());
            return WPARAM(key->nativeVirtualKey());
        }
    }

    CDialog* m_dialog;
};

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog()
{
    DestroyWindow();
}

INT_PTR CDialog::DoModal()
{
    if (GetSafeHwnd() || m_inModal)
        return -1;

    // The owner: the given parent, else the application's main window (when
    // that is another, visible window).
    CWnd* owner = m_pParentWnd;
    if (!owner && AfxGetApp() && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd;
    QWidget* ownerWidget = owner ? owner->GetSafeHwnd() : nullptr;
    if (ownerWidget && !ownerWidget->isVisible())
        ownerWidget = nullptr;

    auto* widget = new QWidget(ownerWidget ? ownerWidget->window() : nullptr,
                               ownerWidget ? Qt::Dialog : Qt::Window);
    widget->setAttribute(Qt::WA_DeleteOnClose, false);
    if (ownerWidget)
        widget->setWindowModality(Qt::ApplicationModal);
    const DWORD style = m_template.style & ~WS_VISIBLE;
    Attach(widget, style, 0);
    if (m_template.width > 0 && m_template.height > 0)
        widget->setFixedSize(m_template.width, m_template.height);
    widget->setWindowTitle(m_template.caption);
    widget->setProperty("corvane_text", m_template.caption);
    ApplyTopLevelStyle();

    m_ending = false;
    m_nModalResult = -1;
    m_inModal = true;

    CREATESTRUCT cs{style, m_template.exStyle, m_template.width, m_template.height};
    if (OnCreate(&cs) == -1) {
        m_inModal = false;
        DestroyWindow();
        return -1;
    }

    // Centred on the screen (DS_CENTER) or over the owner.
    const QRect area = ownerWidget ? ownerWidget->window()->frameGeometry()
                       : widget->screen() ? widget->screen()->availableGeometry()
                                          : QRect();
    if (area.isValid())
        widget->move(area.center() - QPoint(widget->width() / 2, widget->height() / 2));

    {
        KeyFilter keys(this);
        // TRUE: the focus goes to the first control reached by Tab.
        if (OnInitDialog() && GetSafeHwnd() && !m_ending) {
            for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                CWnd* control = CWnd::FromHandle(child);
                if (control && (control->GetStyle() & WS_TABSTOP) && child->isVisible() && child->isEnabled()) {
                    child->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        // A close asked for during initialisation ends the run here, before
        // the loop could wait for anything.
        if (!m_ending && GetSafeHwnd()) {
            if (!widget->isVisible())
                ShowWindow(SW_SHOWNORMAL);
            widget->activateWindow();
            QEventLoop loop;
            m_loop = &loop;
            loop.exec(QEventLoop::DialogExec);
            m_loop = nullptr;
        }
    }

    m_inModal = false;
    DestroyWindow();  // the timers go with the window
    if (ownerWidget)
        ownerWidget->window()->activateWindow();
    return m_nModalResult;
}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result)
{
    // A second request while the first is pending changes nothing.
    if (m_ending || !m_inModal)
        return;
    m_ending = true;
    m_nModalResult = result;
    if (m_loop)
        m_loop->exit(result);
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CWnd::WindowProc(message, wParam, lParam);
}

void CDialog::OnClose()
{
    // A dialog's default WM_CLOSE: queue the Cancel command.
    PostMessage(WM_COMMAND, IDCANCEL, 0);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM /*lParam*/)
{
    switch (wParam & 0xFFFF) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CDialog::PreTranslateMessage(MSG* msg)
{
    // The dialog manager's keys: Enter clicks the focused push button or
    // means OK, Esc means Cancel.
    if (msg->message != WM_KEYDOWN)
        return FALSE;
    if (msg->wParam == VK_ESCAPE) {
        SendMessage(WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    if (msg->wParam == VK_RETURN) {
        QWidget* focus = QApplication::focusWidget();
        if (auto* button = qobject_cast<QAbstractButton*>(focus);
            button && GetSafeHwnd() && button->window() == GetSafeHwnd()) {
            button->click();
            return TRUE;
        }
        SendMessage(WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    return FALSE;
}
