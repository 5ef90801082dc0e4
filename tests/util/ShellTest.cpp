// What reaches the desktop's opener, and the folder picker's output buffer.
#include "app/util/ShellUtil.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace {

// A stand-in xdg-open first on PATH reports its arguments and whether it
// holds a descriptor of ours that was opened without close-on-exec.
TEST(Shell, OpenerGetsOneArgumentAndNoneOfOurFiles)
{
    TempDir dir;
    const std::string report = dir.Path() + "/report", opener = dir.Path() + "/xdg-open";
    const int ours = ::open((dir.Path() + "/ours").c_str(), O_WRONLY | O_CREAT, 0600);
    std::ofstream(opener) << "#!/bin/sh\n{ echo \"$#:$1\"; [ -e /proc/$$/fd/" << ours
                          << " ] && echo inherited; } >" << report << ".new; mv " << report << ".new " << report
                          << "\n";
    ::chmod(opener.c_str(), 0700);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(dir.Path()) + ":" + path);
    const std::pair<std::u16string, QString> cases[] = {
        {u"/tmp/My Downloads/\uB2E4\uC6B4 ?1", "1:/tmp/My Downloads/\uB2E4\uC6B4 ?1\n"},
        {u"http://h/a b?x y&z", "1:http://h/a b?x%20y%26z\n"},
    };
    for (const auto& [text, expected] : cases) {
        std::remove(report.c_str());
        EXPECT_TRUE(OpenWithExplorer(text.c_str()));
        QFile file(QString::fromStdString(report));
        EXPECT_TRUE(WaitUntil([&] { return file.exists(); }, std::chrono::seconds(10)));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(file.readAll()), expected);
    }
    qputenv("PATH", path);
    ::close(ours);
}

TEST(Shell, FolderPickerWritesOnlyWhatFitsItsBuffer)
{
    QTemporaryDir temp;
    const QString folder = temp.path() + QString::fromUtf16(u"/\uB2E4\uC6B4 \u00e9");
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::size_t n = static_cast<std::size_t>(folder.size());
    for (const std::size_t capacity : {n, n + 1}) {
        std::vector<char16_t> out(n + 2, u'#');
        ModalAnswerer answerer;
        answerer.ChooseFolder(folder);
        // The desktop's own picker where its platform theme offers one.
        int nativeRefused = -1;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                nativeRefused = d->testOption(QFileDialog::DontUseNativeDialog);
        });
        look.start(5);
        EXPECT_EQ(BrowseForFolder(nullptr, "Pick", out.data(), capacity), capacity > n);
        EXPECT_EQ(nativeRefused, 0);
        EXPECT_EQ(out[n + 1], u'#') << "written past the buffer";
        EXPECT_EQ(QString::fromUtf16(out.data(), capacity > n ? qsizetype(n) : 0),
                  capacity > n ? folder : QString());
        EXPECT_EQ(out[n], capacity > n ? u'\0' : u'#') << capacity;
    }
}

} // namespace
