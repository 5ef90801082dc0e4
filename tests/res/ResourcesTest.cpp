// Checks the compiled-in resources: every bitmap's file format and size, that
// none is blank, the icon sizes, the about item's text, and that the committed
// files are exactly what the artwork generator draws.

#include "res/ResourceIds.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

struct BitmapSpec {
    int id;
    int width;
    int height;
};

// Every bitmap the program loads, with its exact size.
const BitmapSpec kBitmaps[] = {
    {res::IDB_BACKGROUND, 610, 400},
    {res::IDB_PROGRESS_FILL, 5, 13},
    {res::IDB_PAUSE_UP, 92, 31},          {res::IDB_PAUSE_DOWN, 92, 31},
    {res::IDB_PAUSE_FOCUS, 92, 31},       {res::IDB_PAUSE_DISABLED, 92, 31},
    {res::IDB_RESUME_UP, 92, 31},         {res::IDB_RESUME_DOWN, 92, 31},
    {res::IDB_RESUME_FOCUS, 92, 31},      {res::IDB_RESUME_DISABLED, 92, 31},
    {res::IDB_SHOWFOLDER_UP, 163, 31},    {res::IDB_SHOWFOLDER_DOWN, 163, 31},
    {res::IDB_SHOWFOLDER_FOCUS, 163, 31}, {res::IDB_SHOWFOLDER_DISABLED, 163, 31},
    {res::IDB_MINIMIZE_UP, 15, 14},       {res::IDB_MINIMIZE_DOWN, 15, 14},
    {res::IDB_MINIMIZE_FOCUS, 15, 14},    {res::IDB_MINIMIZE_DISABLED, 15, 14},
    {res::IDB_CLOSE_UP, 15, 14},          {res::IDB_CLOSE_DOWN, 15, 14},
    {res::IDB_CLOSE_FOCUS, 15, 14},       {res::IDB_CLOSE_DISABLED, 15, 14},
    {res::IDB_QUESTION_UP, 15, 14},       {res::IDB_QUESTION_DOWN, 15, 14},
    {res::IDB_QUESTION_FOCUS, 15, 14},    {res::IDB_QUESTION_DISABLED, 15, 14},
    {res::IDB_ABOUT_LOGO, 110, 107},
    {res::IDB_ABOUT_RULE, 275, 2},
};

// The four looks of each button, as up, down, focus, disabled.
const int kButtonLooks[][4] = {
    {res::IDB_PAUSE_UP, res::IDB_PAUSE_DOWN, res::IDB_PAUSE_FOCUS, res::IDB_PAUSE_DISABLED},
    {res::IDB_RESUME_UP, res::IDB_RESUME_DOWN, res::IDB_RESUME_FOCUS, res::IDB_RESUME_DISABLED},
    {res::IDB_SHOWFOLDER_UP, res::IDB_SHOWFOLDER_DOWN, res::IDB_SHOWFOLDER_FOCUS,
     res::IDB_SHOWFOLDER_DISABLED},
    {res::IDB_MINIMIZE_UP, res::IDB_MINIMIZE_DOWN, res::IDB_MINIMIZE_FOCUS,
     res::IDB_MINIMIZE_DISABLED},
    {res::IDB_CLOSE_UP, res::IDB_CLOSE_DOWN, res::IDB_CLOSE_FOCUS, res::IDB_CLOSE_DISABLED},
    {res::IDB_QUESTION_UP, res::IDB_QUESTION_DOWN, res::IDB_QUESTION_FOCUS,
     res::IDB_QUESTION_DISABLED},
};

using res::BitmapPath;

QByteArray ReadResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

std::uint32_t U32(const QByteArray& b, int at)
{
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8
           | std::uint32_t(std::uint8_t(b[at + 2])) << 16
           | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

std::uint16_t U16(const QByteArray& b, int at)
{
    return std::uint16_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8);
}

int DistinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

QImage LoadBitmap(int id)
{
    QImage image;
    image.loadFromData(ReadResource(BitmapPath(id)), "BMP");
    return image;
}

class BitmapTest : public testing::TestWithParam<BitmapSpec> {};

TEST_P(BitmapTest, IsUncompressed16BitDibOfExactSizeAndNotBlank)
{
    const BitmapSpec spec = GetParam();
    const QByteArray data = ReadResource(BitmapPath(spec.id));
    ASSERT_FALSE(data.isEmpty()) << "missing resource " << BitmapPath(spec.id).toStdString();
    ASSERT_GE(data.size(), 54);

    EXPECT_EQ(data.left(2), QByteArray("BM"));
    EXPECT_EQ(U32(data, 2), std::uint32_t(data.size())) << "file size field";
    const std::uint32_t pixelOffset = U32(data, 10);
    EXPECT_EQ(U32(data, 14), 40u) << "BITMAPINFOHEADER size";
    EXPECT_EQ(std::int32_t(U32(data, 18)), spec.width);
    EXPECT_EQ(std::int32_t(U32(data, 22)), spec.height) << "positive height: bottom-up rows";
    EXPECT_EQ(U16(data, 26), 1) << "planes";
    EXPECT_EQ(U16(data, 28), 16) << "bits per pixel";
    EXPECT_EQ(U32(data, 30), 0u) << "BI_RGB (5-5-5), not BI_BITFIELDS";
    EXPECT_EQ(U32(data, 46), 0u) << "colours used";
    EXPECT_EQ(pixelOffset, 54u) << "no colour table or masks before the pixels";
    const int stride = (spec.width * 2 + 3) & ~3;
    EXPECT_EQ(std::int64_t(data.size()), std::int64_t(pixelOffset) + std::int64_t(stride) * spec.height);
    // 5-5-5 leaves the top bit of every pixel clear.
    for (int y = 0; y < spec.height; ++y)
        for (int x = 0; x < spec.width; ++x)
            ASSERT_EQ(U16(data, int(pixelOffset) + y * stride + x * 2) & 0x8000, 0)
                << "pixel " << x << "," << y;

    const QImage image = LoadBitmap(spec.id);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), spec.width);
    EXPECT_EQ(image.height(), spec.height);
    EXPECT_GT(DistinctColours(image), 1) << "blank bitmap " << spec.id;
}

INSTANTIATE_TEST_SUITE_P(AllBitmaps, BitmapTest, testing::ValuesIn(kBitmaps),
                         [](const testing::TestParamInfo<BitmapSpec>& info) {
                             return "id" + std::to_string(info.param.id);
                         });

TEST(Bitmaps, ProgressFillHasIdenticalColumnsAndAVerticalProfile)
{
    const QImage fill = LoadBitmap(res::IDB_PROGRESS_FILL);
    ASSERT_EQ(fill.size(), QSize(5, 13));
    for (int y = 0; y < fill.height(); ++y)
        for (int x = 1; x < fill.width(); ++x)
            EXPECT_EQ(fill.pixel(x, y), fill.pixel(0, y)) << "column " << x << " row " << y;
    EXPECT_GT(DistinctColours(fill), 1);
    // It must stand out on the dark track: every row is clearly bright.
    for (int y = 0; y < fill.height(); ++y)
        EXPECT_GT(qGray(fill.pixel(0, y)), 100) << "row " << y;
}

TEST(Bitmaps, EveryButtonStateLooksDifferent)
{
    for (const auto& look : kButtonLooks) {
        for (int a = 0; a < 4; ++a)
            for (int b = a + 1; b < 4; ++b)
                EXPECT_NE(LoadBitmap(look[a]), LoadBitmap(look[b]))
                    << "bitmaps " << look[a] << " and " << look[b] << " are the same picture";
    }
    // The running and paused looks of Pause/Resume differ in every state but
    // may share the disabled picture only if it says what the button is.
    EXPECT_NE(LoadBitmap(res::IDB_PAUSE_UP), LoadBitmap(res::IDB_RESUME_UP));
    EXPECT_NE(LoadBitmap(res::IDB_PAUSE_DISABLED), LoadBitmap(res::IDB_RESUME_DISABLED));
}

TEST(Bitmaps, ProgressTrackIsEmptyAndDark)
{
    // The bar paints only its done part; the rest must show an empty track.
    const QImage background = LoadBitmap(res::IDB_BACKGROUND);
    ASSERT_FALSE(background.isNull());
    for (int y = 232; y < 245; ++y)
        for (int x = 41; x < 427; ++x)
            ASSERT_LT(qGray(background.pixel(x, y)), 40) << x << "," << y;
    // The caption area behind the white title text stays dark.
    for (int y = 30; y < 80; ++y)
        for (int x = 30; x < 300; ++x)
            ASSERT_LT(qGray(background.pixel(x, y)), 90) << x << "," << y;
}

TEST(Icons, MainIconLoadsAtEverySize)
{
    for (int size : {16, 32, 48}) {
        const QString path = res::IconPath(res::IDI_MAINFRAME, size);
        EXPECT_EQ(path, QStringLiteral(":/icons/200/%1.png").arg(size));
        QImage image;
        ASSERT_TRUE(image.loadFromData(ReadResource(path), "PNG")) << path.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_TRUE(image.hasAlphaChannel());
        EXPECT_GT(DistinctColours(image), 2);
        EXPECT_GT(qAlpha(image.pixel(size / 2, size / 2)), 200) << "the picture fills the middle";
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "rounded, transparent corner";
    }
}

TEST(Strings, AboutItemText)
{
    EXPECT_EQ(res::StringPath(res::IDS_ABOUTBOX), QStringLiteral(":/strings/101.txt"));
    const QByteArray text = ReadResource(res::StringPath(res::IDS_ABOUTBOX));
    EXPECT_EQ(QString::fromUtf8(text), QStringLiteral(u"Corvane 정보(&A)..."));
    EXPECT_EQ(text, QByteArray("Corvane \xec\xa0\x95\xeb\xb3\xb4(&A)..."));
}

TEST(Resources, MissingIdIsNotFound)
{
    EXPECT_FALSE(QFile::exists(BitmapPath(999)));
    EXPECT_TRUE(ReadResource(BitmapPath(999)).isEmpty());
}

// The generator's files under root, relative to it: the bitmaps, icons and
// strings folders and the desktop entry with its icon.
QStringList GeneratedFiles(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(root).relativeFilePath(it.next());
        if (rel.startsWith(QLatin1String("bitmaps/")) || rel.startsWith(QLatin1String("icons/"))
            || rel.startsWith(QLatin1String("strings/")) || rel.startsWith(QLatin1String("corvane.")))
            files << rel;
    }
    files.sort();
    return files;
}

TEST(Generator, CommittedFilesAreExactlyWhatItDraws)
{
    const char* source = std::getenv("CORVANE_SOURCE_DIR");
    if (source == nullptr)
        source = CORVANE_SOURCE_DIR_AT_BUILD;
    const QString resDir = QString::fromLocal8Bit(source) + QStringLiteral("/res");

    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QProcess generator;
    generator.setProcessChannelMode(QProcess::MergedChannels);
    generator.start(QStringLiteral("python3"),
                    {resDir + QStringLiteral("/generate/generate.py"), QStringLiteral("--out"),
                     out.path()});
    ASSERT_TRUE(generator.waitForStarted(10000)) << "python3 not found";
    if (!generator.waitForFinished(90000)) {
        generator.kill();
        generator.waitForFinished(5000);
        FAIL() << "generator did not finish in time";
    }
    ASSERT_EQ(generator.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(generator.exitCode(), 0) << generator.readAll().toStdString();

    const QStringList drawn = GeneratedFiles(out.path());
    const QStringList committed = GeneratedFiles(resDir);
    EXPECT_EQ(drawn.join(QLatin1Char(' ')).toStdString(),
              committed.join(QLatin1Char(' ')).toStdString())
        << "files added or removed without the generator";
    EXPECT_GE(drawn.size(), 28 + 3 + 1 + 2);
    for (const QString& rel : drawn) {
        QFile a(out.path() + QLatin1Char('/') + rel);
        QFile b(resDir + QLatin1Char('/') + rel);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        ASSERT_TRUE(b.open(QIODevice::ReadOnly)) << rel.toStdString() << " not committed";
        EXPECT_TRUE(a.readAll() == b.readAll())
            << rel.toStdString() << " differs from the generator's output: rerun "
            << "res/generate/generate.py and commit its output";
    }

    // What is compiled in is what is committed.
    for (const BitmapSpec& spec : kBitmaps) {
        QFile file(resDir + QStringLiteral("/bitmaps/%1.bmp").arg(spec.id));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == ReadResource(BitmapPath(spec.id))) << spec.id;
    }

    QFile desktop(resDir + QStringLiteral("/corvane.desktop"));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QByteArray entry = desktop.readAll();
    for (const char* line : {"[Desktop Entry]\n", "\nType=Application\n", "\nName=Corvane\n",
                             "\nExec=Corvane\n", "\nIcon=corvane\n"})
        EXPECT_TRUE(entry.contains(line)) << line;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
