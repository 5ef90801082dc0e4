// The start routine, first half: the configuration text, the version check,
// the notice and page, the .torrent and the destination folder. Every
// failure shows its message, closes the program and returns.
#include "app/CorvaneDlg.h"

#include "app/Configuration.h"
#include "app/util/DownloadUrlToBuffer.h"
#include "app/util/ShellUtil.h"

#include <cstring>
#include <string>

namespace {

const char kFolderTitle[] = "Select the directory you would like to save the file to";

}  // namespace

void CCorvaneDlg::StartDownload()
{
    m_self = this;
    m_trackerFailures = 0;
    m_reannounceTicks = 0;

    std::memset(m_buffer, 0, sizeof m_buffer);
    std::uint32_t bytes = 0;
    std::uint32_t elapsedMs = 0;
    if (!DownloadUrlToBuffer(ConfigurationAddress().c_str(), m_buffer, &bytes, &elapsedMs)) {
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (1)"), nullptr, MB_OK);
        CloseDownloader();
        return;
    }

    // The text ends at its first NUL; a successful fetch stores one after the body.
    const ConfigurationDecision config = DecideConfiguration(std::string_view(m_buffer, bytes));
    switch (config.action) {
    case ConfigurationDecision::Action::TooFewFields:
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (2)"), nullptr, MB_OK);
        CloseDownloader();
        return;
    case ConfigurationDecision::Action::Retire:
    case ConfigurationDecision::Action::Update: {
        const QString question =
            config.action == ConfigurationDecision::Action::Retire
                ? QStringLiteral("This program ca no longer be used. Please check the notice at our homepage. "
                                 "Go to homepage?")
                : QStringLiteral("New version has been updated. Would you like to update now?");
        // A homepage that is not a web address is never opened; the answer
        // then closes the program all the same.
        if (MessageBox(question, nullptr, MB_YESNO) == IDYES && !config.homepageToOpen.isEmpty())
            OpenWithExplorer(config.homepageToOpen.toStdU16String().c_str());
        CloseDownloader();
        return;
    }
    case ConfigurationDecision::Action::Proceed:
        break;
    }

    // The notice box is closed before the page opens.
    if (!config.notice.isEmpty())
        MessageBox(config.notice, nullptr, MB_OK);
    if (!config.pageToOpen.isEmpty())
        OpenWithExplorer(config.pageToOpen.toStdU16String().c_str());

    std::memset(m_buffer, 0, sizeof m_buffer);
    std::uint32_t torrentBytes = 0;
    if (!DownloadUrlToBuffer(config.torrentAddress.toStdU16String().c_str(), m_buffer, &torrentBytes,
                             &elapsedMs)) {
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (3)"), nullptr, MB_OK);
        CloseDownloader();
        return;
    }

    const std::string webSeed = config.webSeed;

    std::memset(m_saveFolder, 0, sizeof m_saveFolder);
    BrowseForFolder(GetSafeHwnd(), QString::fromUtf8(kFolderTitle), m_saveFolder, kSaveFolderChars);
    if (std::char_traits<char16_t>::length(m_saveFolder) < 2) {
        CloseDownloader();  // no folder chosen: the user cancelled
        return;
    }

    StartTorrent(torrentBytes, webSeed);
}
