// A view's PNG reads back as the view's pixels, takes a palette whenever the
// view's colours fit one, is never larger than Qt's own RGB file of the
// same view, and keeps texts as the PNG text chunks their content calls for.
#include "ViewPng.h"

#include "Generator.h"
#include "MapPicture.h"
#include "SeededRandom.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QtEndian>

#include <optional>

using namespace terralume;

namespace {

// Each of the first `colours` 5-6-5 values once, a row at a time, then
// the last again.
QImage ofColours(int colours, int width)
{
    QImage picture(width, (colours + width - 1) / width, QImage::Format_RGB16);
    for (int k = 0; k < picture.width() * picture.height(); ++k)
        reinterpret_cast<std::uint16_t *>(picture.scanLine(k / width))[k % width] =
            std::uint16_t(std::min(k, colours - 1) * 257);
    return picture;
}

QImage mapView(const char *size, int zoom)
{
    World world;
    SeededRandom random;
    random.LoadSeed("42861244");
    GenerateHeights(world, size, 0, random);
    MapView view;
    view.zoom(drawMapPicture(world, tintFromHeatPosition(0)), zoom);
    return view.image();
}

// The PNG's chunks of `type`: their data.
QList<QByteArray> chunks(const QByteArray &png, const QByteArray &type)
{
    QList<QByteArray> found;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == type)
            found.append(png.mid(at + 8, length));
        at += 12 + length;
    }
    return found;
}

struct Picture {
    const char *name;
    QImage shown;
    bool palette; // whether encodePalettePng takes it
};

class ViewPngPicture : public testing::TestWithParam<Picture> {};

TEST_P(ViewPngPicture, ReadsBackAsTheViewItself)
{
    const Picture &p = GetParam();
    const QByteArray palette = encodePalettePng(p.shown);
    ASSERT_EQ(!palette.isEmpty(), p.palette);
    const QImage wanted = p.shown.convertToFormat(QImage::Format_RGB888);
    if (p.palette) {
        EXPECT_EQ(palette[25], 3) << "palette colour";
        EXPECT_EQ(QImage::fromData(palette).convertToFormat(QImage::Format_RGB888), wanted);
    }
    // The clipboard's PNG falls back to Qt's own for the rest.
    EXPECT_EQ(QImage::fromData(encodeViewPng(p.shown)).convertToFormat(QImage::Format_RGB888), wanted);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ViewPngPicture,
                         testing::Values(Picture{"OneColour", ofColours(1, 7), true},
                                         Picture{"AllOfAPalette", ofColours(256, 16), true},
                                         Picture{"OneColourTooMany", ofColours(257, 16), false},
                                         Picture{"ZoomedMap", mapView("Small", 3), true}),
                         [](const testing::TestParamInfo<Picture> &info) { return info.param.name; });

TEST(ViewPng, RefusesWhatIsNotAFiveSixFiveView)
{
    EXPECT_TRUE(encodePalettePng(QImage()).isEmpty());
    QImage rgb(4, 4, QImage::Format_RGB32);
    rgb.fill(Qt::red);
    EXPECT_TRUE(encodePalettePng(rgb).isEmpty());
    // libpng, and so Qt, reads no wider picture.
    QImage wide(1000001, 1, QImage::Format_RGB16);
    ASSERT_FALSE(wide.isNull());
    wide.fill(Qt::blue);
    EXPECT_TRUE(encodePalettePng(wide).isEmpty());
}

class ViewPngSize : public testing::TestWithParam<std::pair<const char *, int>> {};

TEST_P(ViewPngSize, IsNoLargerThanQtsRgbFile)
{
    const QImage view = mapView(GetParam().first, GetParam().second);
    QByteArray rgb;
    QBuffer buffer(&rgb);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(view.convertToFormat(QImage::Format_RGB888).save(&buffer, "PNG"));
    const QByteArray palette = encodePalettePng(view);
    ASSERT_FALSE(palette.isEmpty());
    EXPECT_LE(palette.size(), rgb.size());
}

INSTANTIATE_TEST_SUITE_P(Views, ViewPngSize,
                         testing::Values(std::pair{"Small", 1}, std::pair{"Small", 5}, std::pair{"Medium", 3}));

struct Text {
    const char *name;
    QString value;
    QByteArray chunk;
    std::optional<bool> compressed; // an iTXt's flag
};

class ViewPngText : public testing::TestWithParam<Text> {};

TEST_P(ViewPngText, GoesInTheChunkItsContentCallsFor)
{
    const Text &t = GetParam();
    const QByteArray png = encodePalettePng(ofColours(3, 3), 3780, {{QStringLiteral("Title"), t.value}});
    const QList<QByteArray> found = chunks(png, t.chunk);
    ASSERT_EQ(found.size(), 1);
    EXPECT_TRUE(found[0].startsWith(QByteArray("Title\0", 6)));
    if (t.compressed) {
        EXPECT_EQ(found[0][6], *t.compressed ? 1 : 0);
    }
    EXPECT_EQ(QImage::fromData(png).text(QStringLiteral("Title")), t.value);
    const QByteArray physical = chunks(png, "pHYs").value(0);
    EXPECT_EQ(physical, QByteArray::fromHex("00000ec400000ec401"));
}

INSTANTIATE_TEST_SUITE_P(Texts, ViewPngText,
                         testing::Values(Text{"ShortLatin1", QStringLiteral("Isles"), "tEXt", {}},
                                         Text{"LongLatin1", QString(41, QChar(0xe9)), "zTXt", {}},
                                         Text{"ShortUnicode", QStringLiteral("Isles \u2014 north"), "iTXt", false},
                                         Text{"LongUnicode", QString(41, QChar(0x2014)), "iTXt", true}),
                         [](const testing::TestParamInfo<Text> &info) { return info.param.name; });

} // namespace
