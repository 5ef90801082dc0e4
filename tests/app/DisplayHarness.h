// The main window on a fake engine, initialised as the program does it but
// without the start routine: the controls are created, the handle names the
// fake's torrent, the test's own first display runs, and the hidden controls
// are shown. A test drives the running window from a timer of its own; a
// watchdog ends a run that would otherwise wait.
#pragma once

#include "app/CorvaneDlg.h"
#include "engine/fake_session.h"
#include "framework/WinApp.h"

#include <QApplication>
#include <QElapsedTimer>

#include <clocale>
#include <functional>
#include <memory>

namespace display_test {

constexpr UINT_PTR kDriveTimer = 5100;
constexpr UINT_PTR kWatchdogTimer = 5101;

class DisplayHarness : public CCorvaneDlg
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
        : CCorvaneDlg(std::move(session)), torrent(std::move(t))
    {
        torrent->size = 3 * (std::int64_t(1) << 29);
        firstDisplay = [this](DisplayHarness& d) { StandardFirstDisplay(d, *torrent); };
    }

    std::shared_ptr<engine::fake_torrent> torrent;
    std::function<void(DisplayHarness&)> firstDisplay;
    std::function<void(DisplayHarness&)> drive;
    bool startRefreshTimer = false;
    // The program asks for the user's locale (""); tests pin "C" unless they
    // are about the locale.
    const char* locale = "C";
    bool watchdogFired = false;

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
        m_progress.ModifyStyle(0, WS_VISIBLE);
        m_txtPercentSuffix.ModifyStyle(0, WS_VISIBLE);
        m_txtPath.ModifyStyle(0, WS_VISIBLE);
        m_txtSize.ModifyStyle(0, WS_VISIBLE);
        m_txtRate.ModifyStyle(0, WS_VISIBLE);
        m_txtPeers.ModifyStyle(0, WS_VISIBLE);
        m_txtPercent.ModifyStyle(0, WS_VISIBLE);
        InvalidateRect(nullptr, TRUE);
        if (startRefreshTimer)
            SetTimer(kRefreshTimer, 500);
        SetTimer(kWatchdogTimer, 20000);
        SetTimer(kDriveTimer, 30);
        return TRUE;
    }

    void OnTimer(UINT_PTR id) override
    {
        if (id == kWatchdogTimer) {
            watchdogFired = true;
            EndDialog(99);
        } else if (id == kDriveTimer) {
            KillTimer(kDriveTimer);
            if (drive)
                drive(*this);
            EndDialog(IDOK);
        } else {
            CCorvaneDlg::OnTimer(id);
        }
    }

    // Runs the window modally as the program's main window.
    INT_PTR Run()
    {
        AfxGetApp()->m_pMainWnd = this;
        const INT_PTR result = DoModal();
        AfxGetApp()->m_pMainWnd = nullptr;
        return result;
    }

    QImage Shot() { return GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// Lets the event loop run until `done` holds or `ms` have passed.
inline bool PumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace display_test
