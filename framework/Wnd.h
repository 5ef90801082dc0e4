// CWnd: one window of the program, wrapping one QWidget.
//
// Kept from Windows: window styles as bits (WS_VISIBLE, WS_SYSMENU, ...),
// timers by id, messages sent by number (WM_CLOSE, WM_SYSCOMMAND, PBM_SETPOS),
// the handler names (OnTimer, OnPaint, OnEraseBkgnd, ...), message boxes that
// run a nested loop in which timers keep firing, and dragging a captionless
// window through WM_NCLBUTTONDOWN/HTCAPTION.
// Not kept: handles are QWidget pointers, there is no message queue of our
// own (posted messages are queued Qt calls), and a timer whose handler is
// still running is not delivered again until it returns (Qt's rule).
#pragma once

#include "framework/Afx.h"

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>

class CDC;
class CMenu;
class QPainter;
class QTimer;
struct CREATESTRUCT;

class CWnd
{
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The window itself, or null when this object has no window (yet).
    QWidget* GetSafeHwnd() const { return m_widget.data(); }
    static CWnd* FromHandle(const QWidget* widget);

    void SetWindowText(const CString& text);
    CString GetWindowText() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    DWORD GetStyle() const { return m_style; }
    LONG SetWindowLong(int index, LONG value);
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void InvalidateRect(const RECT* rect, BOOL erase = TRUE);
    void Invalidate(BOOL erase = TRUE) { InvalidateRect(nullptr, erase); }
    void GetClientRect(RECT* rect) const;
    void GetWindowRect(RECT* rect) const;
    HICON SetIcon(const HICON& icon, BOOL bigIcon);
    int GetDlgCtrlID() const { return m_nID; }
    CWnd* GetParent() const;
    void SetFocus();
    BOOL DestroyWindow();

    // A modal message box owned by this window. No caption: the application
    // name. Returns IDOK, IDCANCEL, IDYES or IDNO.
    int MessageBox(const CString& text, const CString& caption = CString(), UINT type = MB_OK);
    int MessageBox(const CString& text, std::nullptr_t, UINT type = MB_OK)
    {
        return MessageBox(text, CString(), type);
    }

    // Timers by id, over Qt::PreciseTimer timers; they end with the window.
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, void* unusedTimerProc = nullptr);
    BOOL KillTimer(UINT_PTR id);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Queued: delivered when the event loop runs again, dropped if the window
    // has gone by then.
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    CMenu* GetSystemMenu(BOOL revert);
    // Pops the system menu up at a global position (right-click, Alt+Space)
    // and sends the chosen command as WM_SYSCOMMAND.
    void ShowSystemMenu(const QPoint& globalPos);

    // Handlers (afx_msg in MFC).
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual int OnCreate(CREATESTRUCT* cs);
    virtual void OnTimer(UINT_PTR id);
    virtual void OnPaint();
    virtual BOOL OnEraseBkgnd(CDC* dc);
    virtual void OnLButtonDown(UINT flags, CPoint point);
    virtual void OnSysCommand(UINT id, LPARAM lParam);
    virtual void OnClose();
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    // The painter of the paint in progress (what BeginPaint hands CPaintDC).
    QPainter* CurrentPainter() const { return m_painter; }
    // False for windows whose toolkit widget paints itself (plain buttons).
    virtual bool OwnsPainting() const { return true; }

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default();
    // Makes `widget` this object's window (it becomes its owner's child as Qt
    // parents it), with the given style and control id.
    void Attach(QWidget* widget, DWORD style, int id);
    // Window flags that the style bits of a top-level window stand for.
    virtual void ApplyTopLevelStyle();
    // Child controls: create with parent, rectangle, style, id.
    BOOL CreateChild(QWidget* widget, DWORD style, const RECT& rect, CWnd* parent, UINT id);

private:
    friend class CWndEvents;
    friend class CPaintDC;
    QPointer<QWidget> m_widget;
    DWORD m_style = 0;
    int m_nID = 0;
    std::map<UINT_PTR, QPointer<QTimer>> m_timers;
    std::unique_ptr<CMenu> m_sysMenu;
    QPainter* m_painter = nullptr;
    LRESULT m_lastDefault = 0;
};

// Routes a widget's events to its CWnd's handlers: painting (erase, then
// paint), left presses, the window manager's close, the context menu, and the
// captionless drag. Every widget a CWnd owns installs one.
class CWndEvents : public QObject
{
    Q_OBJECT
public:
    explicit CWndEvents(CWnd* owner, QWidget* widget);
    // True while a drag by hand (no window manager move) is in progress.
    bool Dragging() const { return m_dragging; }
    void BeginManualDrag();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CWnd* m_owner;
    QWidget* m_widget;
    bool m_dragging = false;
    QPoint m_pressGlobal;
    QPoint m_dragStartGlobal;
    QPoint m_dragStartWindow;
};
