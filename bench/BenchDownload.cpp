// One timed download through the program's own main window and engine set-up:
// the real CCorvaneDlg with the real engine, offscreen, fetching the
// configuration text and the .torrent from the compiled-in configuration
// server, with the folder picker answered by DEST. Ends the window as soon as
// the torrent is complete, then prints
//   OK <bytes> <seconds to complete> <seconds in all>
// and exits 0; exits 1 when the download does not complete in time.
//
//   corvane_bench_download DEST [TIMEOUT_SECONDS]
#include "app/CorvaneDlg.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/ModalAnswerer.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

class BenchDlg : public CCorvaneDlg
{
public:
    static constexpr UINT_PTR kPollTimer = 5100;

    Clock::time_point deadline;
    Clock::time_point completedAt;
    bool complete = false;
    std::int64_t bytes = 0;

    BOOL OnInitDialog() override
    {
        const BOOL result = CCorvaneDlg::OnInitDialog();
        SetTimer(kPollTimer, 20);
        return result;
    }

    void OnTimer(UINT_PTR id) override
    {
        if (id != kPollTimer) {
            CCorvaneDlg::OnTimer(id);
            return;
        }
        if (m_handle.is_valid() && m_handle.is_seed()) {
            completedAt = Clock::now();
            complete = true;
            bytes = m_handle.status().total_done;
        }
        if (complete || Clock::now() > deadline) {
            KillTimer(kPollTimer);
            CloseDownloader();
        }
    }
};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const Clock::time_point start = Clock::now();
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DEST [TIMEOUT_SECONDS]\n", argv[0]);
        return 2;
    }
    const int timeout = argc > 2 ? std::atoi(argv[2]) : 600;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    static CWinApp benchApp;
    AfxWinInit(argv[0]);

    ModalAnswerer answerer;
    answerer.ChooseFolder(QString::fromLocal8Bit(argv[1]));

    bool complete = false;
    std::int64_t bytes = 0;
    Clock::time_point completedAt;
    {
        auto dlg = std::make_unique<BenchDlg>();  // holds a half-megabyte buffer
        dlg->deadline = start + std::chrono::seconds(timeout);
        RunAsMainWindow(*dlg);
        complete = dlg->complete;
        bytes = dlg->bytes;
        completedAt = dlg->completedAt;
    }  // the engine stops here, as when the program ends

    for (const auto& seen : answerer.SeenPrompts())
        if (seen.kind == ModalAnswerer::Kind::MessageBox)
            std::fprintf(stderr, "message box: %s\n", seen.text.toUtf8().constData());
    if (!complete) {
        std::fprintf(stderr, "the window closed before the download completed (time limit %d s)\n", timeout);
        return 1;
    }
    std::printf("OK %lld %.3f %.3f\n", static_cast<long long>(bytes), Seconds(completedAt - start),
                Seconds(Clock::now() - start));
    return 0;
}
