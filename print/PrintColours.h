#pragma once
// The choice of the printed colours and the mapping of decoded rows onto them,
// made exactly as the JPEG library's two-pass quantiser makes them (a 5-6-5
// histogram of 16-bit counts, median cut, Floyd-Steinberg with limited error),
// so that PrintBitmap stays the picture the library would give. Doing it here
// lets the rows be counted and mapped as they are decoded, without keeping the
// whole decoded picture between the two passes, and lets the decoding of the
// second pass run beside the dithering.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace terralume::print {

// Pixel counts per cell of 5 bits of red, 6 of green and 5 of blue.
class ColourHistogram {
public:
    static constexpr int kCells = 1 << 16;
    // The library's counts stop at this many pixels a cell.
    static constexpr std::uint32_t kMaxCount = 0xFFFF;

    ColourHistogram();

    // `rgb` holds `pixels` pixels of three bytes each.
    void add(const std::uint8_t *rgb, std::size_t pixels);
    void merge(const ColourHistogram &other);
    std::uint32_t count(int cell) const;

    static int cellOf(int red, int green, int blue) { return (red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3); }

private:
    std::vector<std::uint32_t> counts_;
};

struct Palette {
    int size = 0;
    std::array<std::array<std::uint8_t, 3>, 256> colours{};
};

// At most `maxColours` (1 to 256) colours for the counted pixels, in the
// library's order.
Palette choosePalette(const ColourHistogram &histogram, int maxColours);

// Maps rows of `width` pixels onto `palette`, one row after the other from
// the top, spreading each pixel's error over its neighbours in alternating
// directions.
class FloydSteinberg {
public:
    FloydSteinberg(const Palette &palette, int width);

    void mapRow(const std::uint8_t *rgb, std::uint8_t *indices);

private:
    int width_;
    bool leftwards_ = false;
    // Per histogram cell, its nearest palette colour: seven times each
    // channel in 16 bits (red lowest), what the next pixel's error needs
    // first, so that one look-up sits on the dithering's critical path; and
    // beside it the colour itself (red | green << 8 | blue << 16) with its
    // index in the top byte.
    std::vector<std::uint64_t> sevenfold_;
    std::vector<std::uint32_t> nearest_;
    // Sixteenths of error for the row being mapped and for the next one,
    // (width + 2) x 3 each: a column beyond either edge.
    std::vector<int> errors_;
    std::vector<int> nextErrors_;
};

} // namespace terralume::print
