// The main window's progress bar: a progress control (position 0..100)
// painted as bitmap 152 stretched over the done part of its width.
#pragma once

#include "framework/Controls.h"

class CBitmapProgress : public CProgressCtrl
{
public:
    static constexpr UINT kFillBitmap = 152;  // 5 x 13, a vertical colour profile

    // Fill width for a client width and a position: width / 100.0 * pos,
    // truncated (so 386 px at 33 give 127, and 29 px at 100 give 28).
    static int FillWidth(int clientWidth, int pos);

    // Draws the fill from the left edge at the bitmap's own height; nothing
    // else (the window's background shows the empty track).
    void OnPaint() override;
};
