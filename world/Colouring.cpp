#include "Colouring.h"

#include "Generator.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace terralume {

Tint tintFromHeatPosition(int heatPosition)
{
    Tint tint;
    if (heatPosition > 0)
        tint.ColdLevel = heatPosition;
    if (heatPosition < 0)
        tint.HeatLevel = -heatPosition;
    return tint;
}

BandColour terrainColour(int height, int waterOffset, Tint tint)
{
    const int a = height + waterOffset; // the adjusted height
    const int cl = tint.ColdLevel;
    const int hl = tint.HeatLevel;
    const auto c8 = [](int v) { return static_cast<std::uint8_t>(v); };

    if (a < 0 || a > 255)
        return {};
    if (a <= 125) // sea, lighter towards the shore
        return {true, {c8(2 * cl), c8(2 * cl), c8((a + 128) | (2 * cl))}};
    if (a <= 127) // coast
        return {true, {c8(3 * cl), c8(3 * cl), c8(3 * cl)}};
    if (a <= 180) // lowland
        return {true, {c8((4 * cl) | (6 * hl)), c8(a | (4 * cl)), c8(4 * cl)}};
    // Upland grey comes from the raw height, so it shifts with the water level.
    const int u = 2 * height + waterOffset - 256;
    const std::uint8_t grey = c8(u | (4 * cl));
    return {true, {grey, grey, grey}};
}

ColourTable buildColourTable(int waterOffset, Tint tint)
{
    ColourTable table{};
    for (int h = 0; h < 256; ++h) {
        const BandColour band = terrainColour(h, waterOffset, tint);
        table[static_cast<std::size_t>(h)] = band.painted ? pack565(band.colour) : kWhite565;
    }
    return table;
}

void colourWorld(const World &world, Tint tint, PixelView565 target)
{
    const ColourTable table = buildColourTable(world.WaterOffset, tint);
    const int side = world.Heights.side();
    // The grid is stored by columns and the picture by rows: go tile by tile
    // so that both the columns read and the rows written stay in cache.
    constexpr int kTile = 8;
    const std::uint8_t *columns[kTile];
    for (int x0 = 0; x0 < side; x0 += kTile) {
        const int width = std::min(side - x0, kTile);
        for (int k = 0; k < width; ++k)
            columns[k] = world.Heights.column(x0 + k);
        for (int y = 0; y < side; ++y) {
            std::uint16_t *out = target.row(y) + x0;
            for (int k = 0; k < width; ++k)
                out[k] = table[columns[k][y]];
        }
    }
}

void widenRow565ToRgb888(const std::uint16_t *source, int count, std::uint8_t *rgb)
{
    for (int x = 0; x < count; ++x) {
        const Rgb8 c = widen565(source[x]);
        rgb[0] = c.red;
        rgb[1] = c.green;
        rgb[2] = c.blue;
        rgb += 3;
    }
}

void zoomView(ConstPixelView565 base, int zoom, PixelView565 target)
{
    const int extent = base.width - 1;
    const std::size_t rowPixels = static_cast<std::size_t>(extent) * static_cast<std::size_t>(zoom);
    const std::size_t rowBytes = rowPixels * sizeof(std::uint16_t);
    // Each row is widened once, into a row with a little slack at its end,
    // and then copied zoom times: each cell becomes a square block.
    std::vector<std::uint16_t> widened(rowPixels + 8);
    for (int y = 0; y < extent; ++y) {
        const std::uint16_t *src = base.row(y);
        if (zoom == 1) {
            std::memcpy(target.row(y), src, rowBytes);
            continue;
        }
        std::uint16_t *out = widened.data();
        if (zoom <= 8) {
            // Four copies of the pixel in one 64-bit word, stored at the start
            // of the block and, for blocks wider than four, again ending at its
            // end; the next block overwrites whatever runs past this one.
            const bool wide = zoom > 4;
            for (int x = 0; x < extent; ++x) {
                const std::uint64_t four = 0x0001000100010001ull * src[x];
                std::memcpy(out, &four, sizeof four);
                if (wide)
                    std::memcpy(out + zoom - 4, &four, sizeof four);
                out += zoom;
            }
        } else {
            for (int x = 0; x < extent; ++x) {
                std::fill_n(out, zoom, src[x]);
                out += zoom;
            }
        }
        for (int k = 0; k < zoom; ++k)
            std::memcpy(target.row(y * zoom + k), widened.data(), rowBytes);
    }
}

} // namespace terralume
