#include "app/util/ShellUtil.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

constexpr char16_t kUntouched = u'#';
const QString kTitle = QStringLiteral("Select the directory you would like to save the file to");

// Answers the folder chooser once it is the active modal widget, from a
// repeating timer that keeps running inside the chooser's own loop.
class ChooserAnswerer {
public:
    explicit ChooserAnswerer(std::function<void(QFileDialog*)> answer)
        : m_answer(std::move(answer))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || m_answered)
                return;
            m_answered = true;
            m_title = dialog->windowTitle();
            m_parent = dialog->parentWidget();
            m_modality = dialog->windowModality();
            m_fileMode = dialog->fileMode();
            m_dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
            m_nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
            m_answer(dialog);
        });
        m_timer.start();
        // Never hang: close whatever modal is still up after a deadline.
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        m_deadline.start(20000);
    }

    bool m_answered = false;
    QString m_title;
    QWidget* m_parent = nullptr;
    Qt::WindowModality m_modality = Qt::NonModal;
    QFileDialog::FileMode m_fileMode = QFileDialog::AnyFile;
    bool m_dirsOnly = false;
    bool m_nonNative = false;

private:
    std::function<void(QFileDialog*)> m_answer;
    QTimer m_timer;
    QTimer m_deadline;
};

std::function<void(QFileDialog*)> Choose(const QString& folder)
{
    return [folder](QFileDialog* dialog) {
        dialog->setDirectory(folder);
        static_cast<QDialog*>(dialog)->accept();
    };
}

using PathBuffer = std::array<char16_t, 2048>;

PathBuffer Untouched()
{
    PathBuffer buffer;
    buffer.fill(kUntouched);
    return buffer;
}

TEST(BrowseForFolder, ChosenFolderIsWrittenWithItsNul)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.path() + QString::fromUtf16(u"/\uB2E4\uC6B4 \u00e9t\u00e9");
    ASSERT_TRUE(QDir().mkpath(folder));

    QWidget owner;
    owner.resize(610, 400);
    owner.show();
    PathBuffer out = Untouched();
    ChooserAnswerer answerer(Choose(folder));
    EXPECT_TRUE(BrowseForFolder(&owner, kTitle, out.data(), out.size()));
    ASSERT_TRUE(answerer.m_answered);
    EXPECT_EQ(answerer.m_title, kTitle);
    EXPECT_EQ(answerer.m_parent, &owner);
    EXPECT_EQ(answerer.m_modality, Qt::WindowModal);
    EXPECT_EQ(answerer.m_fileMode, QFileDialog::Directory);
    EXPECT_TRUE(answerer.m_dirsOnly);
    EXPECT_FALSE(answerer.m_nonNative) << "the desktop's picker wherever the platform offers one";
    EXPECT_EQ(QString::fromUtf16(out.data()), folder);
}

TEST(BrowseForFolder, WorksWithoutAnOwner)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    PathBuffer out = Untouched();
    ChooserAnswerer answerer(Choose(temp.path()));
    EXPECT_TRUE(BrowseForFolder(nullptr, kTitle, out.data(), out.size()));
    EXPECT_EQ(answerer.m_parent, nullptr);
    EXPECT_EQ(answerer.m_modality, Qt::ApplicationModal);
    EXPECT_EQ(QString::fromUtf16(out.data()), temp.path());
}

TEST(BrowseForFolder, NothingWrittenWhenNoUsableFolder)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    struct Case {
        const char* name;
        std::function<void(QFileDialog*)> answer;
        std::size_t capacity;
    };
    const Case cases[] = {
        {"cancelled", [](QFileDialog* d) { d->reject(); }, 2048},
        {"closed", [](QFileDialog* d) { d->close(); }, 2048},
        {"the root", Choose("/"), 2048},
        {"does not fit", Choose(temp.path()), static_cast<std::size_t>(temp.path().size())},
    };
    for (const Case& c : cases) {
        PathBuffer out = Untouched();
        ChooserAnswerer answerer(c.answer);
        EXPECT_FALSE(BrowseForFolder(nullptr, kTitle, out.data(), c.capacity)) << c.name;
        EXPECT_TRUE(answerer.m_answered) << c.name;
        EXPECT_EQ(out, Untouched()) << c.name;
    }
    // Just fits: the path and its NUL.
    PathBuffer out = Untouched();
    ChooserAnswerer answerer(Choose(temp.path()));
    EXPECT_TRUE(BrowseForFolder(nullptr, kTitle, out.data(), temp.path().size() + 1));
    EXPECT_EQ(QString::fromUtf16(out.data()), temp.path());
}

TEST(BrowseForFolder, TimersKeepRunningWhileTheChooserIsUp)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    int ticks = 0;
    QTimer other;
    QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
    other.start(10);
    PathBuffer out = Untouched();
    ChooserAnswerer answerer([&](QFileDialog* dialog) {
        // Answer only after the other timer has fired a few times.
        QTimer::singleShot(100, dialog, [dialog, path = temp.path()] {
            dialog->setDirectory(path);
            static_cast<QDialog*>(dialog)->accept();
        });
    });
    EXPECT_TRUE(BrowseForFolder(nullptr, kTitle, out.data(), out.size()));
    EXPECT_GT(ticks, 0);
}

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
