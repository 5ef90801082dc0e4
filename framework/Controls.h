// Child controls: push buttons (owner-drawn bitmap buttons among them),
// static texts and the progress bar.
//
// Kept from Windows: creation with style bits, rectangle, parent and id;
// BN_CLICKED reaching the parent as WM_COMMAND; owner-drawn buttons painted
// by DrawItem with the item state (pressed, focused, disabled); statics that
// paint no background and ask their parent's OnCtlColor for colour and font
// before drawing, and that let mouse presses through to the dialog beneath;
// a progress control holding a position in 0..100 and repainting on
// PBM_SETPOS. Not kept: the system's own look (a plain button paints as a Qt
// push button, a progress bar as a plain bar), notifications other than
// BN_CLICKED, and prefix characters: statics show '&' as it is.
#pragma once

#include "framework/Gdi.h"
#include "framework/Wnd.h"

struct DRAWITEMSTRUCT
{
    UINT CtlID = 0;
    UINT itemState = 0;
    RECT rcItem;
    CDC* pDC = nullptr;
};

class CButton : public CWnd
{
public:
    BOOL Create(const CString& caption, DWORD style, const RECT& rect, CWnd* parent, UINT id);
    bool OwnsPainting() const override;
    void OnPaint() override;
    virtual void DrawItem(DRAWITEMSTRUCT* item);
    // What BN_CLICKED does: tells the parent (also usable by tests).
    void Click();
};

class CBitmapButton : public CButton
{
public:
    // Up, down, focus, disabled; 0 leaves a state without a bitmap. Deletes
    // the bitmaps held before and does not repaint. FALSE when `up` fails.
    BOOL LoadBitmaps(UINT up, UINT down = 0, UINT focus = 0, UINT disabled = 0);
    // Takes the size of the up bitmap, keeping the position.
    void SizeToContent();
    void DrawItem(DRAWITEMSTRUCT* item) override;

    CBitmap m_bitmap;          // up
    CBitmap m_bitmapSel;       // down
    CBitmap m_bitmapFocus;     // focus
    CBitmap m_bitmapDisabled;  // disabled
};

class CStatic : public CWnd
{
public:
    BOOL Create(const CString& text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF);
    // For SS_BITMAP statics: the picture shown, unscaled; the static takes
    // its size. The image is copied.
    void SetBitmap(const CBitmap* bitmap);
    void OnPaint() override;

private:
    QImage m_bitmap;
};

class CProgressCtrl : public CWnd
{
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    int SetPos(int pos);  // returns the previous position
    int GetPos() const { return m_pos; }
    void SetRange(int lower, int upper);
    void GetRange(int& lower, int& upper) const
    {
        lower = m_lower;
        upper = m_upper;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnPaint() override;

private:
    int m_pos = 0;
    int m_lower = 0;
    int m_upper = 100;
};
