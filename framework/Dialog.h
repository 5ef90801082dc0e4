// CDialog: a dialog run modally on an event loop of its own.
//
// Kept from Windows: DoModal returns only when EndDialog has been called and
// the handler that called it has returned (EndDialog sets a flag and stops
// the loop); a close asked for while OnInitDialog runs ends the run without
// the dialog ever waiting; WM_CLOSE (also Alt+F4 and the taskbar) queues the
// Cancel command; Enter and Esc reach PreTranslateMessage first and otherwise
// mean OK and Cancel. A dialog with an owner disables it (application modal);
// one without an owner is an ordinary top-level window with a taskbar entry.
// Not kept: dialog templates with controls (the program creates its controls
// itself) and dialog units (sizes are given in pixels).
#pragma once

#include "framework/Wnd.h"

class QEventLoop;

struct CREATESTRUCT
{
    DWORD style = 0;
    DWORD exStyle = 0;
    int cx = 0, cy = 0;
};

class CDialog : public CWnd
{
public:
    // What the dialog template gives the window: style, size in pixels, caption.
    struct Template
    {
        DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
        DWORD exStyle = 0;
        int width = 0, height = 0;
        CString caption;
    };

    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int result);

    UINT GetTemplateId() const { return m_templateId; }
    // True from EndDialog until the modal run is over.
    bool IsEnding() const { return m_ending; }
    // True while DoModal runs.
    bool InModalLoop() const { return m_inModal; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnClose() override;

protected:
    Template m_template;

private:
    class KeyFilter;
    UINT m_templateId;
    CWnd* m_pParentWnd;
    QEventLoop* m_loop = nullptr;
    bool m_inModal = false;
    bool m_ending = false;
    int m_nModalResult = -1;
};
