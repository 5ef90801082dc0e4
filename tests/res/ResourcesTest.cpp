// Every compiled-in bitmap: 16 bpp BI_RGB (5-5-5) with no masks, of its
// exact size, and not blank once loaded (a wrong format loads black).
#include "res/ResourceIds.h"

#include <QFile>
#include <QImage>
#include <QSet>
#include <QtEndian>
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

TEST(Resources, EveryBitmapIsA16BitDibOfItsSizeAndNotBlank)
{
    const std::tuple<std::vector<int>, int, int> groups[] = {
        {{171}, 610, 400}, {{152}, 5, 13}, {{163, 165, 166, 164, 167, 133, 170, 168}, 92, 31},
        {{159, 161, 162, 132}, 163, 31}, {{172, 174, 175, 173, 131, 157, 158, 156, 194, 196, 193, 195}, 15, 14},
        {{216}, 110, 107}, {{217}, 275, 2},
    };
    for (const auto& [ids, width, height] : groups)
        for (const int id : ids) {
            QFile file(res::BitmapPath(id));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << id;
            const QByteArray data = file.readAll();
            ASSERT_GE(data.size(), 54) << id;
            const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(data.constData() + at); };
            EXPECT_EQ(u32(18), quint32(width)) << id;
            EXPECT_EQ(u32(22), quint32(height)) << id;
            EXPECT_EQ(qFromLittleEndian<quint16>(data.constData() + 28), 16) << id;
            EXPECT_EQ(u32(30), 0u) << id << ": BI_RGB, not BI_BITFIELDS";
            EXPECT_EQ(u32(10), 54u) << id << ": no masks or colour table";
            const QImage image = QImage::fromData(data, "BMP");
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    colours.insert(image.pixel(x, y));
            EXPECT_GT(colours.size(), 1) << id << " is blank";
        }
}

} // namespace
