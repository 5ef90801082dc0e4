// The status texts, the percentage, the bar's position and the Pause/Resume
// button for given engine states (fake engine), and the byte-size formatter.
#include "app/util/FormatByteSize.h"
#include "tests/app/DisplayHarness.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <limits>

namespace {

using display_test::DisplayHarness;
constexpr std::int64_t KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024;

std::string Printed(std::int64_t bytes)
{
    float value = -1;
    QString unit = QStringLiteral("unset");
    FormatByteSize(bytes, value, unit);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f %s", double(value), unit.toLatin1().constData());
    return buffer;
}

TEST(FormatByteSize, UnitBoundariesFollowTheExactCountAndValuesTheRoundedFloat)
{
    std::setlocale(LC_ALL, "C");
    struct Case { std::int64_t bytes; const char* text; };
    const Case cases[] = {
        {0, "0.00 Bytes"},
        {1, "1.00 Bytes"},
        {1023, "1023.00 Bytes"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {MiB - 1, "1024.00 KB"},
        {MiB, "1.00 MB"},
        {GiB - 1, "1024.00 MB"},  // the float rounds the count up to 2^30 first
        {GiB, "1.00 GB"},
        {5 * GiB, "5.00 GB"},
        {(std::int64_t(1) << 62), "4294967296.00 GB"},
        {-5, "-5.00 Bytes"},
        {-3 * GiB, "-3221225472.00 Bytes"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Printed(c.bytes), c.text) << c.bytes;

    float value = 0;
    QString unit;
    FormatByteSize(GiB - 1, value, unit);
    EXPECT_EQ(value, 1024.0f) << "exactly 1024";
}

// Runs `check` on a displayed window whose handle names the fake torrent.
void WithWindow(const std::function<void(DisplayHarness&, engine::fake_torrent&)>& check,
                const std::function<void(DisplayHarness&)>& setup = {})
{
    auto dlg = DisplayHarness::Make();
    if (setup)
        setup(*dlg);
    bool ran = false;
    dlg->drive = [&](DisplayHarness& d) {
        check(d, *d.torrent);
        ran = true;
    };
    EXPECT_EQ(dlg->Run(), IDOK);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(dlg->watchdogFired);
}

TEST(DisplayTexts, FirstDisplayShowsPathSizesZeroRateAndPeersAndPercentZero)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent&) {
        EXPECT_EQ(d.m_txtPath.GetWindowText(), QStringLiteral(" : /home/ann/Games/payload"));
        EXPECT_EQ(d.m_txtSize.GetWindowText(), QStringLiteral(" : 0.00 Bytes / 1.50 GB"));
        EXPECT_EQ(d.m_txtRate.GetWindowText(), QStringLiteral(" : 0.00 Bytes/s ")) << "ends in a blank";
        EXPECT_EQ(d.m_txtPeers.GetWindowText(), QStringLiteral(" : 0 peers"));
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("0%"));
        EXPECT_EQ(d.m_progress.GetPos(), 0);
        EXPECT_EQ(d.m_txtPercentSuffix.GetWindowText(), QStringLiteral("/100%"));
    });
}

TEST(DisplayTexts, PathGetsOneTrailingSeparator)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent&) {
        struct Case { const char16_t* folder; const char16_t* name; const char16_t* text; };
        const Case cases[] = {
            {u"/home/ann/Games", u"Game", u" : /home/ann/Games/Game"},
            {u"/home/ann/Games/", u"Game", u" : /home/ann/Games/Game"},
            {u"/", u"Game", u" : /Game"},
            {u"", u"Game", u" : /Game"},
            {u"/srv/게임 폴더", u"한글 이름", u" : /srv/게임 폴더/한글 이름"},
        };
        for (const Case& c : cases) {
            const QString folder = QString::fromUtf16(c.folder);
            d.ShowPathText(folder, QString::fromUtf16(c.name));
            EXPECT_EQ(d.m_txtPath.GetWindowText(), QString::fromUtf16(c.text));
            EXPECT_EQ(folder, QString::fromUtf16(c.folder)) << "the caller's folder is not changed";
        }
    });
}

TEST(DisplayTexts, RefreshShowsSizesRatePeersAndTheWholeTorrentsPercentage)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent& t) {
        t.size = 3 * (std::int64_t(1) << 29);
        t.done = std::int64_t(1) << 29;
        t.rate = 1.5f * MiB;
        t.peers = 1;
        t.progress = {1.0f, 0.0f, 0.0f};  // the first file is done, the torrent is not
        t.calls.clear();
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtSize.GetWindowText(), QStringLiteral(" : 512.00 MB / 1.50 GB"));
        // 1 GiB left at 1.5 MiB/s: 682 s.
        EXPECT_EQ(d.m_txtRate.GetWindowText(), QStringLiteral(" : 1.50 MB/s  - About 11m 22s Remains"));
        EXPECT_EQ(d.m_txtPeers.GetWindowText(), QStringLiteral(" : 1 peers"));
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("33%"));
        EXPECT_EQ(d.m_progress.GetPos(), 33);
        EXPECT_TRUE(d.m_btnPauseResume.IsWindowEnabled());
        EXPECT_EQ(std::count(t.calls.begin(), t.calls.end(), "status"), 1) << "one snapshot per refresh";

        struct Case { std::int64_t done, total; const char* percent; };
        for (const Case c : {Case{9999, 10000, "99"}, Case{10000, 10000, "100"}, Case{0, 10000, "0"},
                             Case{1, 3, "33"}, Case{GiB * 1000 - 1, GiB * 1000, "99"},
                             Case{0, 0, "0"} /* empty and not complete */}) {
            t.done = c.done;
            t.size = c.total;
            d.RefreshProgress();
            EXPECT_EQ(d.m_txtPercent.GetWindowText(), QString::fromLatin1(c.percent) + u'%') << c.done << "/" << c.total;
            EXPECT_EQ(d.m_progress.GetPos(), QString::fromLatin1(c.percent).toInt());
        }
    });
}

TEST(DisplayTexts, RemainingTimeForms)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent& t) {
        struct Case { std::int64_t remaining; float rate; const char* text; };
        const Case cases[] = {
            {3599, 1, " : 1.00 Bytes/s  - About 59m 59s Remains"},
            {3600, 1, " : 1.00 Bytes/s  - About 1h 0m Remains"},
            {7199, 1, " : 1.00 Bytes/s  - About 1h 59m Remains"},  // seconds dropped, not rounded
            {7199 * 2048, 2048, " : 2.00 KB/s  - About 1h 59m Remains"},
            {0, 100, " : 100.00 Bytes/s  - About 0m 0s Remains"},
            {1000, 0.75f, " : 0.00 Bytes/s "},  // below 1 byte/s: truncated to 0, no estimate
            {1000, 0, " : 0.00 Bytes/s "},
            {1000, -4, " : 0.00 Bytes/s "},
            {1000, std::numeric_limits<float>::quiet_NaN(), " : 0.00 Bytes/s "},
            {-50, 10, " : 10.00 Bytes/s  - About 0m 0s Remains"},  // more done than the total
            // Beyond the 32-bit range of seconds: the longest estimate shown.
            {std::int64_t(1) << 50, 3, " : 3.00 Bytes/s  - About 9999h 59m Remains"},
            {9999 * 3600 + 3599, 1, " : 1.00 Bytes/s  - About 9999h 59m Remains"},
            {10000 * std::int64_t(3600), 1, " : 1.00 Bytes/s  - About 9999h 59m Remains"},
            // Rates of 2^31 bytes per second and more divide as they are.
            {6 * GiB * 2, 3 * float(GiB), " : 3.00 GB/s  - About 0m 4s Remains"},
        };
        for (const Case& c : cases) {
            t.size = 100 * GiB;
            t.done = t.size - c.remaining;
            t.rate = c.rate;
            d.RefreshProgress();
            EXPECT_EQ(d.m_txtRate.GetWindowText(), QString::fromLatin1(c.text)) << c.remaining << " at " << c.rate;
        }
        // The overload that asks the engine itself gives the same text.
        t.size = 10000;
        t.done = 10000 - 3599;
        d.ShowRateText(1);
        EXPECT_EQ(d.m_txtRate.GetWindowText(), QStringLiteral(" : 1.00 Bytes/s  - About 59m 59s Remains"));
        t.calls.clear();
        d.ShowRateText(0);
        EXPECT_TRUE(t.calls.empty()) << "no estimate, no engine call";
        EXPECT_EQ(d.m_txtRate.GetWindowText(), QStringLiteral(" : 0.00 Bytes/s "));
    });
}

TEST(DisplayTexts, FreezesOnceCompleteAt100AndWhilePausedAndDisablesPauseResumeWhenSeeding)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent& t) {
        t.size = 1000;
        t.done = 900;
        t.rate = 100;
        t.peers = 3;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("90%"));

        // Paused: nothing changes, the button stays enabled, even when complete.
        t.paused = true;
        t.done = 950;
        t.peers = 0;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("90%"));
        EXPECT_EQ(d.m_txtPeers.GetWindowText(), QStringLiteral(" : 3 peers"));
        t.seeding = true;
        t.done = 1000;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("90%"));
        EXPECT_TRUE(d.m_btnPauseResume.IsWindowEnabled());

        // Resumed and complete: one more refresh brings 100, the button is disabled.
        t.paused = false;
        t.peers = 2;
        t.rate = 0;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("100%"));
        EXPECT_EQ(d.m_progress.GetPos(), 100);
        EXPECT_EQ(d.m_txtSize.GetWindowText(), QStringLiteral(" : 1000.00 Bytes / 1000.00 Bytes"));
        EXPECT_EQ(d.m_txtPeers.GetWindowText(), QStringLiteral(" : 2 peers"));
        EXPECT_FALSE(d.m_btnPauseResume.IsWindowEnabled());

        // From then on the texts stay; the button is disabled again on every tick.
        t.peers = 9;
        d.m_btnPauseResume.EnableWindow(TRUE);
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtPeers.GetWindowText(), QStringLiteral(" : 2 peers"));
        EXPECT_FALSE(d.m_btnPauseResume.IsWindowEnabled());

        // Paused while complete: the button is left alone.
        t.paused = true;
        d.m_btnPauseResume.EnableWindow(TRUE);
        d.RefreshProgress();
        EXPECT_TRUE(d.m_btnPauseResume.IsWindowEnabled());
    });
}

TEST(DisplayTexts, MultiFileTorrentEndsWithTheTotalSizeShown)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent& t) {
        // Three files of 400 MiB; the engine finishes the first early.
        t.size = 1200 * MiB;
        struct Step { std::int64_t done; std::vector<float> files; bool seeding; };
        const Step steps[] = {
            {100 * MiB, {0.25f, 0, 0}, false},
            {400 * MiB, {1.0f, 0, 0}, false},
            {900 * MiB, {1.0f, 1.0f, 0.25f}, false},
            {1200 * MiB - 1, {1.0f, 1.0f, 1.0f}, false},
            {1200 * MiB, {1.0f, 1.0f, 1.0f}, true},
        };
        int lastPercent = -1;
        for (const Step& s : steps) {
            t.done = s.done;
            t.progress = s.files;
            t.seeding = s.seeding;
            d.RefreshProgress();
            QString text = d.m_txtPercent.GetWindowText();
            ASSERT_TRUE(text.endsWith(u'%'));
            text.chop(1);
            const int percent = text.toInt();
            EXPECT_EQ(d.m_progress.GetPos(), percent);
            EXPECT_GE(percent, lastPercent);
            lastPercent = percent;
            if (!s.seeding) {
                EXPECT_LT(percent, 100) << "not complete, so not 100: " << s.done;
            }
        }
        EXPECT_EQ(d.m_txtSize.GetWindowText(), QStringLiteral(" : 1.17 GB / 1.17 GB"));
        EXPECT_EQ(d.m_progress.GetPos(), 100);
        // Frozen now, with the total shown.
        t.done = 0;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtSize.GetWindowText(), QStringLiteral(" : 1.17 GB / 1.17 GB"));
    });
}

TEST(DisplayTexts, InvalidHandleOrTorrentGoneMidRefreshIsASilentNoOp)
{
    WithWindow([](DisplayHarness& d, engine::fake_torrent& t) {
        const QString size = d.m_txtSize.GetWindowText();
        t.size = 1000;
        t.done = 1000;
        t.seeding = true;
        t.removed = true;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtSize.GetWindowText(), size);
        EXPECT_EQ(d.m_progress.GetPos(), 0);
        EXPECT_TRUE(d.m_btnPauseResume.IsWindowEnabled());
        d.ShowRateText(500);  // asks the engine for the bytes missing: none to be had
        EXPECT_EQ(d.m_txtRate.GetWindowText(), QStringLiteral(" : 500.00 Bytes/s "));

        // Gone after the validity check or after the snapshot: the texts
        // keep what they had, nothing throws.
        t.seeding = false;
        for (int calls = 1; calls <= 2; ++calls) {
            t.removed = false;
            t.remove_after_calls(calls);
            t.done = 100 * calls;
            d.RefreshProgress();
            EXPECT_EQ(d.m_txtSize.GetWindowText(), size) << calls;
        }
        t.removed = false;
        t.remove_after_calls(-1);

        engine::torrent_handle none;
        std::swap(d.m_handle, none);
        d.RefreshProgress();
        EXPECT_TRUE(d.m_btnPauseResume.IsWindowEnabled());
    });
}

TEST(DisplayTexts, NumbersFollowTheUsersLocale)
{
    // A German locale, compiled here when the system has none installed, in
    // a folder of this run's own (a copy half written by another run would
    // not load).
    QTemporaryDir localeDir;
    ASSERT_TRUE(localeDir.isValid());
    const QString dir = localeDir.path();
    const QString path = dir + QStringLiteral("/de_DE.UTF-8");
    const int rc = QProcess::execute(QStringLiteral("localedef"),
                                     {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                                      QStringLiteral("UTF-8"), path});
    if (rc != 0 && rc != 1)  // 1: written with warnings
        GTEST_SKIP() << "localedef could not build de_DE.UTF-8";
    qputenv("LOCPATH", dir.toLocal8Bit());
    qputenv("LC_ALL", "de_DE.UTF-8");
    if (!std::setlocale(LC_ALL, "")) {
        qunsetenv("LC_ALL");
        qunsetenv("LOCPATH");
        GTEST_SKIP() << "de_DE.UTF-8 is not usable";
    }
    std::setlocale(LC_ALL, "C");
    WithWindow(
        [](DisplayHarness& d, engine::fake_torrent& t) {
            t.size = 3 * (std::int64_t(1) << 29);
            t.done = std::int64_t(1) << 29;
            t.rate = 1536;
            d.RefreshProgress();
            EXPECT_EQ(d.m_txtSize.GetWindowText(), QStringLiteral(" : 512,00 MB / 1,50 GB"));
            EXPECT_TRUE(d.m_txtRate.GetWindowText().startsWith(QStringLiteral(" : 1,50 KB/s  - About ")));
        },
        [](DisplayHarness& d) { d.locale = ""; });
    qunsetenv("LC_ALL");
    qunsetenv("LOCPATH");
    std::setlocale(LC_ALL, "C");
}

} // namespace
