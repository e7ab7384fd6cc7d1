// Fuzzes the round trip that turns the shown map into the printed picture,
// with pictures the map window never makes: any side from 1 to 64 (odd sides
// give padded scanlines) and any 5-6-5 pixels. The result must be an 8-bit
// colour-mapped picture of the same size, with at most 236 colours, every
// pixel pointing inside the colour table.

#include "JpegRoundTrip.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

[[noreturn]] void fail(int side, const char *what)
{
    std::fprintf(stderr, "JPEG round trip finding on a %dx%d picture: %s\n", side, side, what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return -1;
    const int side = 1 + data[0] % 64;
    const std::uint8_t *pixels = data + 1;
    const std::size_t pixelBytes = size - 1;

    QImage view(side, side, QImage::Format_RGB16);
    if (view.isNull())
        fail(side, "no memory for the view");
    // The input's pixels, repeated as often as needed to cover the picture.
    std::size_t next = 0;
    for (int y = 0; y < side; ++y) {
        auto *row = reinterpret_cast<std::uint16_t *>(view.scanLine(y));
        for (int x = 0; x < side; ++x) {
            std::uint16_t pixel = 0;
            if (pixelBytes > 0) {
                pixel = static_cast<std::uint16_t>(pixels[next % pixelBytes] | pixels[(next + 1) % pixelBytes] << 8);
                next += 2;
            }
            row[x] = pixel;
        }
    }

    QImage printed;
    try {
        printed = terralume::print::ReJigPallete(view);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        fail(side, "the round trip failed");
    }
    if (printed.format() != QImage::Format_Indexed8)
        fail(side, "the result is not colour-mapped");
    if (printed.width() != side || printed.height() != side)
        fail(side, "the result has another size");
    const int colours = printed.colorCount();
    if (colours < 1 || colours > terralume::print::kPrintColours)
        fail(side, "the colour table has a wrong length");
    for (int y = 0; y < side; ++y) {
        const uchar *row = printed.constScanLine(y);
        for (int x = 0; x < side; ++x)
            if (row[x] >= colours)
                fail(side, "a pixel points past the colour table");
    }
    return 0;
}
