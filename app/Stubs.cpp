// Members of the main window whose work is not written yet. Each goes from
// here to its own file as it is implemented.
#include "app/CorvaneDlg.h"

void CCorvaneDlg::CreateControls() {}
void CCorvaneDlg::RefreshProgress() {}
void CCorvaneDlg::ReannounceTick() {}
void CCorvaneDlg::PumpAlerts() {}
void CCorvaneDlg::ShowAboutBox() {}
void CCorvaneDlg::ShowPathText(CString, CString) {}
void CCorvaneDlg::ShowSizeText(std::int64_t, std::int64_t) {}
void CCorvaneDlg::ShowRateText(std::int64_t) {}
void CCorvaneDlg::ShowPeersText(std::int32_t) {}
void CCorvaneDlg::ShowPercent(std::int32_t) {}
void CCorvaneDlg::OnBnClickedPauseResume() {}
void CCorvaneDlg::OnBnClickedClose() {}
void CCorvaneDlg::OnBnClickedQuestion() {}
HBRUSH CCorvaneDlg::OnCtlColor(CDC* /*dc*/, CWnd* /*wnd*/, UINT /*ctlColor*/) { return nullptr; }
