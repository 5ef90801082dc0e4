#include "framework/Gdi.h"

#include "framework/Wnd.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QtDebug>

BOOL CBitmap::LoadBitmap(UINT id)
{
    QImage image(QStringLiteral(":/bitmaps/%1.bmp").arg(id));
    if (image.isNull()) {
        qWarning("CBitmap::LoadBitmap: bitmap resource %u is missing or unreadable", id);
        return FALSE;
    }
    m_image = std::move(image);
    return TRUE;
}

BOOL CBitmap::DeleteObject()
{
    const bool had = !m_image.isNull();
    m_image = QImage();
    return had;
}

int CBitmap::GetBitmap(BITMAP* bm) const
{
    if (!bm)
        return 0;
    *bm = BITMAP{};
    if (m_image.isNull())
        return 0;
    bm->bmWidth = m_image.width();
    bm->bmHeight = m_image.height();
    bm->bmPlanes = 1;
    bm->bmBitsPixel = WORD(m_image.depth());
    bm->bmWidthBytes = LONG(m_image.bytesPerLine());
    return int(sizeof(BITMAP));
}

int CBitmap::GetObject(int size, void* out) const
{
    if (size < int(sizeof(BITMAP)) || !out)
        return 0;
    return GetBitmap(static_cast<BITMAP*>(out));
}

QStringList CFont::FamiliesFor(const CString& face)
{
    // The Windows faces this program names, and what this system has for
    // them (the font mapper's job on Windows).
    static const QHash<QString, QStringList> substitutes = {
        {QStringLiteral(u"굴림체"), {QStringLiteral("NanumGothicCoding"), QStringLiteral("DejaVu Sans Mono")}},
        {QStringLiteral(u"굴림"), {QStringLiteral("NanumGothic"), QStringLiteral("DejaVu Sans")}},
        {QStringLiteral(u"MS 셸 대화 상자"), {QStringLiteral("NanumGothic"), QStringLiteral("DejaVu Sans")}},
        {QStringLiteral("Berlin Sans FB Demi"),
         {QStringLiteral("NanumSquareRound"), QStringLiteral("Quicksand"), QStringLiteral("DejaVu Sans")}},
    };
    QStringList families{face};
    families += substitutes.value(face);
    return families;
}

BOOL CFont::CreateFont(int height, int /*width*/, int /*escapement*/, int /*orientation*/, int weight,
                       BYTE italic, BYTE underline, BYTE strikeOut, BYTE /*charSet*/, BYTE /*outPrecision*/,
                       BYTE /*clipPrecision*/, BYTE /*quality*/, BYTE /*pitchAndFamily*/, const CString& face)
{
    QFont font;
    font.setFamilies(FamiliesFor(face));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Weight(weight <= 0 ? FW_NORMAL : std::clamp(weight, 1, 1000)));
    font.setItalic(italic != 0);
    font.setUnderline(underline != 0);
    font.setStrikeOut(strikeOut != 0);
    if (height < 0) {
        font.setPixelSize(-height);
    } else if (height > 0) {
        // A cell height includes the leading above the letters: find the
        // pixel size whose line height is the asked height.
        font.setPixelSize(height);
        const int cell = QFontMetrics(font).height();
        if (cell > height)
            font.setPixelSize(std::max(1, int(double(height) * height / cell + 0.5)));
    }
    m_font = font;
    m_created = true;
    return TRUE;
}

BOOL CFont::DeleteObject()
{
    const bool had = m_created;
    m_font = QFont();
    m_created = false;
    return had;
}

BOOL CDC::CreateCompatibleDC(CDC* /*dc*/)
{
    m_painter = nullptr;
    m_memory = true;
    m_bitmap = nullptr;
    return TRUE;
}

BOOL CDC::DeleteDC()
{
    m_memory = false;
    m_bitmap = nullptr;
    m_font = nullptr;
    return TRUE;
}

CBitmap* CDC::SelectObject(CBitmap* bitmap)
{
    CBitmap* previous = m_bitmap;
    m_bitmap = bitmap;
    return previous;
}

CFont* CDC::SelectObject(CFont* font)
{
    CFont* previous = m_font;
    m_font = font;
    if (m_painter && font && !font->IsNull())
        m_painter->setFont(font->Font());
    return previous;
}

CGdiObject* CDC::SelectStockObject(int index)
{
    if (index == NULL_BRUSH)
        m_hollowBrush = true;
    return nullptr;
}

int CDC::SetBkMode(int mode)
{
    const int previous = m_bkMode;
    m_bkMode = mode;
    return previous;
}

COLORREF CDC::SetTextColor(COLORREF color)
{
    const COLORREF previous = m_textColor;
    m_textColor = color;
    if (m_painter)
        m_painter->setPen(QColor(GetRValue(color), GetGValue(color), GetBValue(color)));
    return previous;
}

template <typename F> bool CDC::Paint(F draw)
{
    if (m_painter) {
        draw(*m_painter);
        return true;
    }
    if (m_memory && m_bitmap && !m_bitmap->IsNull()) {
        QPainter painter(&m_bitmap->Image());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        draw(painter);
        return true;
    }
    return false;
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, DWORD rop)
{
    return StretchBlt(x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

BOOL CDC::StretchBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, int srcWidth,
                     int srcHeight, DWORD rop)
{
    if (rop != SRCCOPY || !src || !src->m_bitmap || src->m_bitmap->IsNull())
        return FALSE;
    if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0)
        return TRUE;  // nothing to draw
    const QImage source = src->m_bitmap->Image();  // shared copy: safe when src == this
    return Paint([&](QPainter& p) {
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(QRect(x, y, width, height), source, QRect(xSrc, ySrc, srcWidth, srcHeight));
        p.restore();
    });
}

BOOL CDC::DrawIcon(int x, int y, const HICON& icon)
{
    if (icon.isNull())
        return FALSE;
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    return Paint([&](QPainter& p) { icon.paint(&p, QRect(x, y, cx, cy)); });
}

CPaintDC::CPaintDC(CWnd* wnd) : CDC(wnd ? wnd->CurrentPainter() : nullptr) {}

int GetSystemMetrics(int index)
{
    switch (index) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}
