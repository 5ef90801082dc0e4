// Painting: device contexts, bitmaps and fonts over QPainter and QImage.
//
// Kept from GDI: a memory DC with a bitmap selected into it as the source of
// BitBlt/StretchBlt (SRCCOPY, unscaled or stretched without smoothing), the
// text colour, background mode and font that a control's parent chooses in
// OnCtlColor, bitmaps loaded by resource id, fonts chosen by face name with
// the system's substitutes. Not kept: other raster operations, brushes other
// than the hollow one, object handles (objects are C++ objects, selecting
// one never deletes it).
#pragma once

#include "framework/Afx.h"

#include <QFont>
#include <QImage>

class QPainter;
class CWnd;

class CGdiObject
{
public:
    virtual ~CGdiObject() = default;
};

class CBitmap : public CGdiObject
{
public:
    // Loads bitmap resource `id` (compiled-in ":/bitmaps/<id>.bmp"). FALSE,
    // with a warning, when it is missing or unreadable.
    BOOL LoadBitmap(UINT id);
    BOOL DeleteObject();
    int GetBitmap(BITMAP* bm) const;
    int GetObject(int size, void* out) const;
    bool IsNull() const { return m_image.isNull(); }
    const QImage& Image() const { return m_image; }
    QImage& Image() { return m_image; }

private:
    QImage m_image;
};

class CFont : public CGdiObject
{
public:
    // CreateFontW's parameters. A positive height is the character-cell
    // height in pixels, a negative one the character height. The face is
    // looked up with the substitutes this system has for it.
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                    BYTE underline, BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision,
                    BYTE quality, BYTE pitchAndFamily, const CString& face);
    BOOL DeleteObject();
    bool IsNull() const { return !m_created; }
    const QFont& Font() const { return m_font; }

    // Families to ask for, in order, for a Windows face name.
    static QStringList FamiliesFor(const CString& face);

private:
    QFont m_font;
    bool m_created = false;
};

class CDC
{
public:
    CDC() = default;
    explicit CDC(QPainter* painter) : m_painter(painter) {}
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // A memory DC: painting goes to the bitmap selected into it.
    BOOL CreateCompatibleDC(CDC* dc);
    BOOL DeleteDC();

    CBitmap* SelectObject(CBitmap* bitmap);
    CFont* SelectObject(CFont* font);
    CGdiObject* SelectStockObject(int index);
    int SetBkMode(int mode);
    int GetBkMode() const { return m_bkMode; }
    COLORREF SetTextColor(COLORREF color);
    COLORREF GetTextColor() const { return m_textColor; }
    CFont* GetCurrentFont() const { return m_font; }
    bool HollowBrush() const { return m_hollowBrush; }

    BOOL BitBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, DWORD rop);
    BOOL StretchBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, int srcWidth,
                    int srcHeight, DWORD rop);
    BOOL DrawIcon(int x, int y, const HICON& icon);

    QPainter* Painter() const { return m_painter; }

private:
    // Runs `draw` on a painter for this DC's surface; false when it has none.
    template <typename F> bool Paint(F draw);

    QPainter* m_painter = nullptr;
    bool m_memory = false;
    CBitmap* m_bitmap = nullptr;
    CFont* m_font = nullptr;
    COLORREF m_textColor = RGB(0, 0, 0);
    int m_bkMode = OPAQUE;
    bool m_hollowBrush = false;
};

// The DC of the paint in progress on a window (BeginPaint/EndPaint). Outside
// a paint it draws nothing.
class CPaintDC : public CDC
{
public:
    explicit CPaintDC(CWnd* wnd);
};
