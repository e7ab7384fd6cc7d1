#pragma once
// Terrain colouring: every cell's height, shifted by the water offset, picks
// one of four bands (sea, coast, lowland, upland); the heat setting tints it.
// Pictures are 16-bit 5-6-5 pixels (red 0xF800, green 0x07E0, blue 0x001F).

#include <array>
#include <cstddef>
#include <cstdint>

namespace terralume {

struct World;

// A writable 5-6-5 picture owned by someone else (a QImage, a vector...).
struct PixelView565 {
    std::uint16_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t bytesPerLine = 0;

    std::uint16_t *row(int y) const
    {
        return reinterpret_cast<std::uint16_t *>(reinterpret_cast<unsigned char *>(pixels) + y * bytesPerLine);
    }
};

struct ConstPixelView565 {
    const std::uint16_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t bytesPerLine = 0;

    const std::uint16_t *row(int y) const
    {
        return reinterpret_cast<const std::uint16_t *>(reinterpret_cast<const unsigned char *>(pixels) +
                                                       y * bytesPerLine);
    }
};

// The two tints that come from the one heat slider position (-kLevelLimit..kLevelLimit):
// positive is towards "Very Cold", negative towards "Very Hot".
struct Tint {
    int ColdLevel = 0;
    int HeatLevel = 0;
};
Tint tintFromHeatPosition(int heatPosition);

struct Rgb8 {
    std::uint8_t red = 0, green = 0, blue = 0;
    friend bool operator==(const Rgb8 &, const Rgb8 &) = default;
};

inline constexpr std::uint16_t kWhite565 = 0xFFFF;

constexpr std::uint16_t pack565(Rgb8 c)
{
    return static_cast<std::uint16_t>(((c.red >> 3) << 11) | ((c.green >> 2) << 5) | (c.blue >> 3));
}

// 5-6-5 back to 8 bits a component, the top bits repeated into the low ones
// (the same widening Qt uses), so white stays 255 and black 0.
constexpr Rgb8 widen565(std::uint16_t p)
{
    const unsigned r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
    return Rgb8{static_cast<std::uint8_t>((r << 3) | (r >> 2)), static_cast<std::uint8_t>((g << 2) | (g >> 4)),
                static_cast<std::uint8_t>((b << 3) | (b >> 2))};
}

// One row of 5-6-5 pixels widened into packed 24-bit RGB (3 bytes a pixel).
void widenRow565ToRgb888(const std::uint16_t *source, int count, std::uint8_t *rgb);

// The 8-bit colour of a cell of raw height h; nullopt-like `painted == false`
// when the adjusted height lies outside 0..255 (the pixel stays white).
struct BandColour {
    bool painted = false;
    Rgb8 colour;
};
BandColour terrainColour(int height, int waterOffset, Tint tint);

// The 5-6-5 colour of every raw height, built once per picture.
using ColourTable = std::array<std::uint16_t, 256>;
ColourTable buildColourTable(int waterOffset, Tint tint);

// Paints the whole grid, pixel (x, y) from cell [x][y]. `target` must be
// (GridExtent + 1) pixels square.
void colourWorld(const World &world, Tint tint, PixelView565 target);

// The view at a whole zoom factor: the first GridExtent columns and rows of
// `base` (GridExtent + 1 square), each pixel a zoom x zoom block. `target`
// must be (base.width - 1) * zoom pixels square.
void zoomView(ConstPixelView565 base, int zoom, PixelView565 target);

} // namespace terralume
