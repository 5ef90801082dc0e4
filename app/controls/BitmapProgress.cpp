#include "app/controls/BitmapProgress.h"

int CBitmapProgress::FillWidth(int clientWidth, int pos)
{
    // Quotient first, then the product, truncated toward zero.
    return static_cast<int>(clientWidth / 100.0 * pos);
}

void CBitmapProgress::OnPaint()
{
    CPaintDC dc(this);

    // The fill is tiny: loaded for each paint rather than kept.
    CBitmap fill;
    fill.LoadBitmap(kFillBitmap);
    BITMAP bm;
    fill.GetObject(sizeof bm, &bm);

    CDC memDC;
    memDC.CreateCompatibleDC(&dc);
    memDC.SelectObject(&fill);

    RECT client;
    GetClientRect(&client);
    const int width = FillWidth(client.right - client.left, int(SendMessage(PBM_GETPOS, 0, 0)));

    dc.StretchBlt(0, 0, width, bm.bmHeight, &memDC, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);

    memDC.DeleteDC();
    fill.DeleteObject();
}
