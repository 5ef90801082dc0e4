// The status area: path, sizes, rate with the time remaining, peers, the
// percentage and the bar, refreshed every 500 ms from one engine snapshot.
#include "app/CorvaneDlg.h"

#include "app/util/FormatByteSize.h"

#include <QDir>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace {

// printf-style formatting through the C library, so that "%.2f" follows the
// user's locale chosen with setlocale() at start-up (a decimal comma under
// de_DE, as the rest of the desktop shows numbers there).
CString FormatC(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return QString::fromLocal8Bit(buffer);
}

// The done share of the whole torrent, 0..100, truncated: a multi-file
// download reaches 100 only when every file is there. An empty torrent is
// complete once the engine says so.
std::int32_t WholeTorrentPercent(std::int64_t done, std::int64_t total, bool seeding)
{
    if (total <= 0)
        return seeding ? 100 : 0;
    if (done <= 0)
        return 0;
    if (done >= total)
        return 100;
    return static_cast<std::int32_t>(static_cast<__int128>(done) * 100 / total);
}

// The longest estimate shown; slower downloads show this too. A
// four-digit hour count (over a year) still fits the rate text.
constexpr std::int64_t kMaxHours = 9999;

CString RemainingTimeText(std::int64_t remaining, std::int64_t rate)
{
    if (rate <= 0)
        return CString();
    const std::int64_t seconds = std::max<std::int64_t>(remaining, 0) / rate;
    const std::int64_t hours = seconds / 3600;
    const std::int64_t rest = seconds - 3600 * hours;
    const std::int64_t minutes = rest / 60;
    const std::int64_t secs = rest - 60 * minutes;
    if (hours > kMaxHours)
        return FormatC(" - About %dh %dm Remains", int(kMaxHours), 59);
    if (hours > 0)
        return FormatC(" - About %dh %dm Remains", int(hours), int(minutes));
    return FormatC(" - About %dm %ds Remains", int(minutes), int(secs));
}

// " : 1.50 MB/s  - About 2m 5s Remains": a blank stands before the estimate,
// which begins with one too; with no estimate the text ends in that blank.
CString RateText(std::int64_t rate, const CString& estimate)
{
    float value = 0;
    CString unit;
    FormatByteSize(rate, value, unit);
    return FormatC(" : %.2f %s/s ", double(value), unit.toLatin1().constData()) + estimate;
}

// Whole bytes per second, truncated toward zero; a rate below 1 (or not a
// number at all) is 0.
std::int64_t WholeRate(float rate)
{
    if (!(rate >= 1.0f))
        return 0;
    if (rate >= 9.0e18f)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(rate);
}

// The rows whose texts change, drawn again over the background: size, rate,
// peers and the percentage number. The path row never changes.
constexpr RECT kRefreshRects[] = {
    {100, 166, 300, 184},
    {100, 184, 420, 202},
    {80, 202, 300, 220},
    {182, 262, 204, 280},
};

} // namespace

void CCorvaneDlg::RefreshProgress()
{
    if (!m_handle.is_valid())
        return;
    try {
        // One snapshot serves the whole refresh.
        const engine::torrent_status status = m_handle.status();
        const bool complete = status.is_seeding;
        const bool frozen =
            (complete && m_progress.SendMessage(PBM_GETPOS, 0, 0) >= 100) || status.paused;
        if (!frozen) {
            const std::int64_t total = m_handle.total_size();
            ShowSizeText(status.total_done, total);
            ShowRateText(WholeRate(status.download_payload_rate), total - status.total_done);
            ShowPeersText(status.num_peers);
            ShowPercent(WholeTorrentPercent(status.total_done, total, complete));
            for (const RECT& r : kRefreshRects)
                InvalidateRect(&r, TRUE);
        }
        // Complete and seeding: nothing to pause any more.
        if (complete && !status.paused)
            m_btnPauseResume.EnableWindow(FALSE);
    } catch (const engine::invalid_handle&) {
        // The torrent went away in the middle: the display stays as it was.
    }
}

void CCorvaneDlg::ShowPathText(CString folder, CString name)
{
    // The platform's separator ends the folder, once: "/" here, so a root
    // folder "/" stays "/" and "/home/ann/Games" becomes "/home/ann/Games/".
    const QChar separator = QDir::separator();
    if (folder.right(1) != separator)
        folder.append(separator);
    m_txtPath.SetWindowText(QStringLiteral(" : ") + folder + name);
}

void CCorvaneDlg::ShowSizeText(std::int64_t done, std::int64_t total)
{
    float doneValue = 0, totalValue = 0;
    CString doneUnit, totalUnit;
    FormatByteSize(done, doneValue, doneUnit);
    FormatByteSize(total, totalValue, totalUnit);
    m_txtSize.SetWindowText(FormatC(" : %.2f %s / %.2f %s", double(doneValue), doneUnit.toLatin1().constData(),
                                    double(totalValue), totalUnit.toLatin1().constData()));
}

void CCorvaneDlg::ShowRateText(std::int64_t rate)
{
    // Only an estimate needs the bytes still missing.
    if (rate <= 0) {
        m_txtRate.SetWindowText(RateText(rate, CString()));
        return;
    }
    try {
        ShowRateText(rate, m_handle.total_size() - m_handle.status().total_done);
    } catch (const engine::invalid_handle&) {
        m_txtRate.SetWindowText(RateText(rate, CString()));  // no torrent, no estimate
    }
}

void CCorvaneDlg::ShowRateText(std::int64_t rate, std::int64_t remaining)
{
    m_txtRate.SetWindowText(RateText(rate, RemainingTimeText(remaining, rate)));
}

void CCorvaneDlg::ShowPeersText(std::int32_t peers)
{
    m_txtPeers.SetWindowText(FormatC(" : %d peers", int(peers)));
}

void CCorvaneDlg::ShowPercent(std::int32_t percent)
{
    m_txtPercent.SetWindowText(FormatC("%d%%", int(percent)));
    // The bar's position is the display's only memory: the refresh reads it
    // back to know whether 100 has been shown.
    m_progress.SendMessage(PBM_SETPOS, WPARAM(percent), 0);
}
