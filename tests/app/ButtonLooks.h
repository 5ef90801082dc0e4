// Which look the Pause/Resume button holds, compared bitmap by bitmap.
#pragma once

#include "framework/Controls.h"
#include "framework/Gdi.h"

#include <initializer_list>

// True when the button holds exactly the four bitmaps of the look (normal,
// selected, focused, disabled).
inline bool HoldsLook(const CBitmapButton& b, std::initializer_list<UINT> ids)
{
    const CBitmap* held[] = {&b.m_bitmap, &b.m_bitmapSel, &b.m_bitmapFocus, &b.m_bitmapDisabled};
    int i = 0;
    for (UINT id : ids) {
        CBitmap want;
        if (!want.LoadBitmap(id) || held[i]->IsNull() || !(held[i]->Image() == want.Image()))
            return false;
        ++i;
    }
    return true;
}
inline bool HoldsRunningLook(const CBitmapButton& b) { return HoldsLook(b, {163, 165, 166, 164}); }
inline bool HoldsPausedLook(const CBitmapButton& b) { return HoldsLook(b, {167, 133, 170, 168}); }
