// Members of the main window whose work is not written yet. Each goes from
// here to its own file as it is implemented.
#include "app/CorvaneDlg.h"

void CCorvaneDlg::CreateControls() {}
void CCorvaneDlg::StartDownload() {}
void CCorvaneDlg::RefreshProgress() {}
void CCorvaneDlg::ReannounceTick() {}
void CCorvaneDlg::PumpAlerts() {}
void CCorvaneDlg::ShowAboutBox() {}
void CCorvaneDlg::OnBnClickedPauseResume() {}
void CCorvaneDlg::OnBnClickedClose() {}
void CCorvaneDlg::OnBnClickedQuestion() {}
HBRUSH CCorvaneDlg::OnCtlColor(CDC* /*dc*/, CWnd* /*wnd*/, UINT /*ctlColor*/) { return nullptr; }
