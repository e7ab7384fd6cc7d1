#include "ViewPng.h"

#include "Colouring.h"
#include "ParallelDeflate.h"

#include <QBuffer>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace terralume {

namespace {

constexpr int kMostColours = 256;
// The most pixels a side that common readers (libpng's default, and so Qt)
// take; a wider picture is left to Qt's encoder, which refuses it.
constexpr int kLongestSide = 1000000;
// Readers handle pixel data in chunks of any length; a bounded one lets a
// streaming reader check each chunk before going on.
constexpr qsizetype kPixelChunk = qsizetype{1} << 20;
// Qt's own writer compresses text from this length on, and so does this one.
constexpr qsizetype kLongText = 40;
// Lazy matching (level 4 on) packs a view's distinct rows a sixth smaller
// than the fastest level, which alone comes out near the size of Qt's RGB
// file; the repeated rows cost nothing at any level.
constexpr int kPixelLevel = 4;
constexpr std::uint8_t kFilterNone = 0;
constexpr std::uint8_t kFilterUp = 2;

void appendChunk(QByteArray &png, const char *type, QByteArrayView data)
{
    char word[4];
    qToBigEndian<quint32>(quint32(data.size()), word);
    png.append(word, 4);
    const qsizetype typeAt = png.size();
    png.append(type, 4);
    png.append(data);
    const uLong crc =
        crc32_z(0, reinterpret_cast<const Bytef *>(png.constData() + typeAt), std::size_t(png.size() - typeAt));
    qToBigEndian<quint32>(quint32(crc), word);
    png.append(word, 4);
}

QByteArray deflatedText(const QByteArray &text)
{
    uLongf size = compressBound(uLong(text.size()));
    QByteArray packed(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &size, reinterpret_cast<const Bytef *>(text.constData()),
                  uLong(text.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::bad_alloc();
    packed.resize(qsizetype(size));
    return packed;
}

void appendText(QByteArray &png, const QString &key, const QString &value)
{
    const QByteArray keyword = key.toLatin1() + '\0';
    const bool latin1 = std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.unicode() < 0x100; });
    if (latin1) {
        const QByteArray text = value.toLatin1();
        if (text.size() > kLongText)
            appendChunk(png, "zTXt", keyword + '\0' + deflatedText(text));
        else
            appendChunk(png, "tEXt", keyword + text);
        return;
    }
    const QByteArray text = value.toUtf8();
    const bool pack = text.size() > kLongText;
    // Compression flag and method, then an empty language and translated keyword.
    const QByteArray head = keyword + (pack ? QByteArray("\1\0\0\0", 4) : QByteArray("\0\0\0\0", 4));
    appendChunk(png, "iTXt", head + (pack ? deflatedText(text) : text));
}

// The picture's colours in the order they first appear, and each 5-6-5
// value's place among them; nothing when there are too many.
struct Palette {
    std::vector<std::uint16_t> colours;
    std::unique_ptr<std::uint8_t[]> indexOf; // by 5-6-5 value
};

bool collectPalette(const QImage &shown, Palette &palette)
{
    std::unique_ptr<std::int16_t[]> place(new std::int16_t[65536]);
    std::fill_n(place.get(), 65536, std::int16_t(-1));
    const int width = shown.width();
    const std::uint16_t *above = nullptr;
    for (int y = 0; y < shown.height(); ++y) {
        const auto *row = reinterpret_cast<const std::uint16_t *>(shown.constScanLine(y));
        // A zoomed view repeats each row; a repeated row brings no new colour.
        if (above && std::memcmp(row, above, std::size_t(width) * 2) == 0)
            continue;
        above = row;
        int last = -1;
        for (int x = 0; x < width; ++x) {
            const std::uint16_t pixel = row[x];
            if (pixel == last)
                continue;
            last = pixel;
            if (place[pixel] >= 0)
                continue;
            if (palette.colours.size() == kMostColours)
                return false;
            place[pixel] = std::int16_t(palette.colours.size());
            palette.colours.push_back(pixel);
        }
    }
    palette.indexOf.reset(new std::uint8_t[65536]);
    for (int value = 0; value < 65536; ++value)
        palette.indexOf[std::size_t(value)] = std::uint8_t(std::max<std::int16_t>(0, place[std::size_t(value)]));
    return true;
}

} // namespace

QByteArray encodePalettePng(const QImage &shown, int dotsPerMetre, const PngTexts &texts)
{
    if (shown.isNull() || shown.format() != QImage::Format_RGB16 || shown.width() > kLongestSide ||
        shown.height() > kLongestSide)
        return {};
    Palette palette;
    if (!collectPalette(shown, palette))
        return {};
    const int width = shown.width();
    const int height = shown.height();

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(width), header.data());
    qToBigEndian<quint32>(quint32(height), header.data() + 4);
    header[8] = 8; // bits an index
    header[9] = 3; // palette colour
    appendChunk(png, "IHDR", header);

    QByteArray colours;
    for (const std::uint16_t colour : palette.colours) {
        const Rgb8 rgb = widen565(colour);
        colours.append(char(rgb.red)).append(char(rgb.green)).append(char(rgb.blue));
    }
    appendChunk(png, "PLTE", colours);

    if (dotsPerMetre > 0) {
        QByteArray physical(9, '\0');
        qToBigEndian<quint32>(quint32(dotsPerMetre), physical.data());
        qToBigEndian<quint32>(quint32(dotsPerMetre), physical.data() + 4);
        physical[8] = 1; // the unit is the metre
        appendChunk(png, "pHYs", physical);
    }
    for (const auto &[key, value] : texts)
        appendText(png, key, value);

    const std::uint8_t *indexOf = palette.indexOf.get();
    const QByteArray pixels = deflateRows(
        height, qsizetype(width) + 1,
        [&](int y, std::uint8_t *out) {
            const auto *row = reinterpret_cast<const std::uint16_t *>(shown.constScanLine(y));
            if (y > 0 && std::memcmp(row, shown.constScanLine(y - 1), std::size_t(width) * 2) == 0) {
                out[0] = kFilterUp;
                std::memset(out + 1, 0, std::size_t(width));
                return;
            }
            out[0] = kFilterNone;
            for (int x = 0; x < width; ++x)
                out[1 + x] = indexOf[row[x]];
        },
        kPixelLevel);
    png.reserve(png.size() + pixels.size() + (pixels.size() / kPixelChunk + 2) * 12);
    for (qsizetype at = 0; at < pixels.size(); at += kPixelChunk)
        appendChunk(png, "IDAT", QByteArrayView(pixels).sliced(at, std::min(kPixelChunk, pixels.size() - at)));
    appendChunk(png, "IEND", {});
    return png;
}

QByteArray encodeViewPng(const QImage &shown)
{
    QByteArray png = encodePalettePng(shown);
    if (!png.isEmpty() || shown.isNull())
        return png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!shown.save(&buffer, "PNG"))
        return {};
    return png;
}

} // namespace terralume
