// The real window with the real engine, started by its own start routine
// from a loopback HTTP server (configuration text and .torrent), the folder
// chosen and the boxes answered by ModalAnswerer. Once running, `poll` is
// called every 200 ms until it returns true, which ends the run (IDOK); a
// deadline ends a run that takes too long (99).
#pragma once

#include "app/Configuration.h"
#include "app/CorvaneDlg.h"
#include "app/util/ProcessLauncher.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/QStringPrinter.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace realdlg {

inline const char kConfigPath[] = "/notarget/varcgi/dncgi.txt";

class RealDlg : public DrivenDialog<RealDlg>
{
public:
    RealDlg() { deadline = std::chrono::seconds(180); }
};

// One run of a real dialog (RealDlg or a harness of the same kind).
template <class Dlg>
struct RealRunOf
{
    HttpTestServer server;
    ModalAnswerer answerer;
    std::unique_ptr<Dlg> dlg = std::make_unique<Dlg>();
    INT_PTR result = 0;

    // The .torrent and the configuration text naming it (and the web seed,
    // when given).
    void Serve(const std::string& torrent, const std::string& webSeed = std::string())
    {
        server.Serve("/files/pack.torrent", torrent);
        std::string config = "7|http://home.example/|||" + server.Url("/files/pack.torrent");
        if (!webSeed.empty())
            config += "|" + webSeed;
        server.Serve(kConfigPath, config);
    }
    // Chooses the folder, then answers the next boxes as given (the rest
    // with ModalAnswerer's defaults).
    void Run(const QString& folder, const std::vector<QMessageBox::StandardButton>& answers = {})
    {
        answerer.ChooseFolder(folder);
        for (QMessageBox::StandardButton b : answers)
            answerer.AnswerMessage(b);
        SetConfigurationAddressForTesting(server.WideUrl(kConfigPath));
        SetLaunchHookForTesting([](const QString&, const QStringList&) { return true; });
        result = dlg->Run();
        SetLaunchHookForTesting({});
        SetConfigurationAddressForTesting({});
    }
    void Run(const std::string& folder, const std::vector<QMessageBox::StandardButton>& answers = {})
    {
        Run(QString::fromStdString(folder), answers);
    }
    int Count(const QString& text) const
    {
        int n = 0;
        for (const auto& s : answerer.SeenPrompts())
            n += s.kind == ModalAnswerer::Kind::MessageBox && s.text == text;
        return n;
    }
    // The message boxes' texts, in order.
    std::vector<QString> Messages() const
    {
        std::vector<QString> out;
        for (const auto& s : answerer.SeenPrompts())
            if (s.kind == ModalAnswerer::Kind::MessageBox)
                out.push_back(s.text);
        return out;
    }
};

using RealRun = RealRunOf<RealDlg>;

}  // namespace realdlg
