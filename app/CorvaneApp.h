// The application object: single instance, then the main dialog's modal run.
#pragma once

#include "framework/WinApp.h"

class CCorvaneApp : public CWinApp
{
public:
    CCorvaneApp();
    BOOL InitInstance() override;
};

// The name of the single-instance mutex, also the main window's title.
inline constexpr char16_t kCorvaneMutexName[] = u"Morlaine Corvane";
