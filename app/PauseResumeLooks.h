// The two looks of the Pause/Resume button. The running look (it offers to
// pause) is the one the button is created with; the paused look offers to
// resume. Loading a look does not repaint the button.
#pragma once

#include "framework/Controls.h"
#include "res/ResourceIds.h"

inline void LoadRunningLook(CBitmapButton& button)
{
    button.LoadBitmaps(res::IDB_PAUSE_UP, res::IDB_PAUSE_DOWN, res::IDB_PAUSE_FOCUS, res::IDB_PAUSE_DISABLED);
}

inline void LoadPausedLook(CBitmapButton& button)
{
    button.LoadBitmaps(res::IDB_RESUME_UP, res::IDB_RESUME_DOWN, res::IDB_RESUME_FOCUS, res::IDB_RESUME_DISABLED);
}
