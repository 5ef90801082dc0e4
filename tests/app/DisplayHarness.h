// The main window on a fake engine, initialised as the program does it but
// without the start routine: the controls are created, the handle names the
// fake's torrent, the test's own first display runs, and the hidden controls
// are shown. A test drives the running window from a timer of its own; a
// watchdog ends a run that would otherwise wait.
#pragma once

#include "app/CorvaneDlg.h"
#include "engine/fake_session.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"

#include <clocale>
#include <functional>
#include <memory>

namespace display_test {

class DisplayHarness : public DrivenDialog<DisplayHarness>
{
public:
    // What the start routine's first display shows for a fresh torrent.
    static void StandardFirstDisplay(CCorvaneDlg& d, const engine::fake_torrent& t)
    {
        d.ShowSizeText(t.payload_download, t.size);
        d.ShowPathText(QStringLiteral("/home/ann/Games"), QString::fromStdString(t.torrent_name));
        d.ShowRateText(0);
        d.ShowPeersText(0);
        d.ShowPercent(0);
    }

    static std::unique_ptr<DisplayHarness> Make()
    {
        auto session = std::make_unique<engine::fake_session>();
        std::shared_ptr<engine::fake_torrent> torrent = session->torrent;
        return std::make_unique<DisplayHarness>(std::move(session), std::move(torrent));
    }

    DisplayHarness(std::unique_ptr<engine::fake_session> session, std::shared_ptr<engine::fake_torrent> t)
        : DrivenDialog(std::move(session)), torrent(std::move(t))
    {
        endAfterDrive = true;
        torrent->size = 3 * (std::int64_t(1) << 29);
        firstDisplay = [this](DisplayHarness& d) { StandardFirstDisplay(d, *torrent); };
    }

    std::shared_ptr<engine::fake_torrent> torrent;
    std::function<void(DisplayHarness&)> firstDisplay;
    bool startRefreshTimer = false;
    // The program asks for the user's locale (""); tests pin "C" unless they
    // are about the locale.
    const char* locale = "C";

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        std::setlocale(LC_ALL, locale);
        SetWindowText(QStringLiteral("Morlaine Corvane"));
        ShowWindow(SW_SHOWNORMAL);
        CreateControls();
        m_handle = torrent->handle();
        if (firstDisplay)
            firstDisplay(*this);
        ShowStatusControls();
        InvalidateRect(nullptr, TRUE);
        if (startRefreshTimer)
            SetTimer(kRefreshTimer, 500);
        StartTestTimers();
        return TRUE;
    }

    QImage Shot() { return GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace display_test
