// The main window: a skinned, captionless 610 x 400 dialog that owns all the
// program's run-time state.
#pragma once

#include "app/controls/BitmapProgress.h"
#include "engine/session.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class CCorvaneDlg : public CDialog
{
public:
    static constexpr UINT IDD = 102;
    static constexpr UINT_PTR kRefreshTimer = 107;   // display refresh, 500 ms
    static constexpr UINT_PTR kReannounceTimer = 108; // re-announce and alerts, 1 s
    static constexpr UINT kAboutCommand = 0x10;      // system-menu about item
    static constexpr std::size_t kSaveFolderChars = 2048;
    static constexpr std::size_t kBufferBytes = 512000;

    // The real BitTorrent engine, started (not listening) with the dialog.
    CCorvaneDlg();
    // A given engine (tests pass a fake or a session of their own).
    explicit CCorvaneDlg(std::unique_ptr<engine::session> session);
    ~CCorvaneDlg() override;

    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

    int OnCreate(CREATESTRUCT* cs) override;
    void OnSysCommand(UINT id, LPARAM lParam) override;
    void OnPaint() override;
    HCURSOR OnQueryDragIcon();
    BOOL OnEraseBkgnd(CDC* dc) override;
    void OnLButtonDown(UINT flags, CPoint point) override;
    void OnTimer(UINT_PTR id) override;
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) override;

    void OnBnClickedShowContainingFolder();
    void OnBnClickedPauseResume();
    void OnBnClickedMinimize();
    void OnBnClickedClose();
    void OnBnClickedQuestion();

    // The one close routine: asks the dialog to close (WM_CLOSE) and returns;
    // the dialog ends when its loop next runs.
    void CloseDownloader();

    // ---- Start routine and BitTorrent set-up ----
    void StartDownload();

private:
    // The second half of the start routine: the engine's set-up, the torrent
    // from m_buffer (torrentBytes long) into m_saveFolder, the first display
    // and the timers.
    void StartTorrent(std::uint32_t torrentBytes, const std::string& webSeed);

public:

    // ---- Display and controls ----
    void CreateControls();
protected:
    // Shows the bar and the value texts, which are created hidden.
    void ShowStatusControls();
public:
    void RefreshProgress();
    void ShowPathText(CString folder, CString name);
    void ShowSizeText(std::int64_t done, std::int64_t total);
    void ShowRateText(std::int64_t rate);
    // The same with the bytes still missing already known (one engine
    // snapshot serves a whole refresh).
    void ShowRateText(std::int64_t rate, std::int64_t remaining);
    void ShowPeersText(std::int32_t peers);
    void ShowPercent(std::int32_t percent);
    void ShowAboutBox();
    // The texts' fonts, made once by CreateControls and kept: labels and the
    // percentage (id 104), values (105), the caption (108).
    CFont m_fontLabel;
    CFont m_fontValue;
    CFont m_fontCaption;

    // ---- Alerts, pause and close ----
    void ReannounceTick();
    void PumpAlerts();
    void OnTrackerAlert();
    void OnFileError();
    // Set once the tracker watchdog has stopped the download: the program is
    // closing, and later tracker failures or disk errors change nothing.
    bool m_watchdogFired = false;
    // Set from the first disk error until the user resumes the torrent: one
    // message per incident, however many failed writes the engine reports.
    bool m_diskErrorShown = false;
    // Alerts taken from the engine and not handled yet, oldest first. A call
    // of PumpAlerts nested in a message box of an outer one goes on with the
    // same queue, so alerts are handled once and in order.
    std::deque<engine::alert_kind> m_pendingAlerts;

    // ---- Members ----
    // The engine, its one torrent (names none until the start routine adds
    // it). Declared before the handle and the controls, so the session goes
    // after them; destroying it stops the engine and waits for its threads.
    std::unique_ptr<engine::session> m_session;
    engine::torrent_handle m_handle;
    char16_t m_saveFolder[kSaveFolderChars];
    char m_buffer[kBufferBytes];

    CBitmapButton m_btnPauseResume;
    CBitmapButton m_btnShowFolder;
    CBitmapButton m_btnMinimize;
    CBitmapButton m_btnClose;
    CBitmapButton m_btnQuestion;
    CBitmapProgress m_progress;
    CStatic m_lblPath;
    CStatic m_lblSize;
    CStatic m_lblRate;
    CStatic m_lblPeers;
    CStatic m_txtPercentSuffix;
    CStatic m_txtPath;
    CStatic m_txtSize;
    CStatic m_txtRate;
    CStatic m_txtPeers;
    CStatic m_txtPercent;
    CStatic m_txtCaption;

    HICON m_hIcon;
    std::int32_t m_trackerFailures;
    CCorvaneDlg* m_self;
    std::uint32_t m_reannounceTicks;
};
