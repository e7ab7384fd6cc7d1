#include "WorldFigures.h"

#include "Generator.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace terralume {

namespace {

constexpr int kWordBits = 64;

struct ColumnBits {
    std::uint8_t highest = 0;
    bool anyLand = false;
};

// One bit a cell, bit y % 64 of word y / 64 set for land: a search counts a
// whole Large grid in well under a millisecond only by looking at 64 cells at
// a time. Cells are land from the raw height `threshold` up (0..255).
ColumnBits columnBits(const std::uint8_t *column, int side, std::uint8_t threshold, std::uint64_t *words)
{
    ColumnBits result;
    int y = 0;
    std::uint8_t highest = 0;
    std::uint64_t any = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(static_cast<char>(threshold));
    __m128i top = _mm_setzero_si128();
    for (; y + kWordBits <= side; y += kWordBits) {
        std::uint64_t word = 0;
        for (int k = 0; k < kWordBits; k += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(column + y + k));
            top = _mm_max_epu8(top, v);
            // v >= threshold exactly where max(v, threshold) is v.
            const __m128i land = _mm_cmpeq_epi8(_mm_max_epu8(v, low), v);
            word |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(land))) << k;
        }
        words[y / kWordBits] = word;
        any |= word;
    }
    alignas(16) std::uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), top);
    highest = *std::max_element(lanes, lanes + 16);
#endif
    for (; y < side; y += kWordBits) {
        const int end = std::min(side, y + kWordBits);
        std::uint64_t word = 0;
        for (int k = y; k < end; ++k) {
            highest = std::max(highest, column[k]);
            word |= static_cast<std::uint64_t>(column[k] >= threshold) << (k - y);
        }
        words[y / kWordBits] = word;
        any |= word;
    }
    result.highest = highest;
    result.anyLand = any != 0;
    return result;
}

// The first cell from `y` on whose bit is `set`, or `side` when none is.
int nextCell(const std::uint64_t *words, int side, int y, bool set)
{
    const int count = (side + kWordBits - 1) / kWordBits;
    int w = y / kWordBits;
    if (w >= count)
        return side;
    std::uint64_t bits = (set ? words[w] : ~words[w]) & (~std::uint64_t{0} << (y % kWordBits));
    while (bits == 0) {
        if (++w == count)
            return side;
        bits = set ? words[w] : ~words[w];
    }
    return std::min(side, w * kWordBits + std::countr_zero(bits));
}

} // namespace

std::int64_t percentHundredths(std::int64_t part, std::int64_t whole)
{
    if (whole <= 0)
        return 0;
    // 10000 * part / whole, plus a half, truncated; with negative parts
    // mirrored so the half goes away from zero there too.
    const bool negative = part < 0;
    const std::int64_t magnitude = negative ? -part : part;
    const std::int64_t rounded = (20000 * magnitude + whole) / (2 * whole);
    return negative ? -rounded : rounded;
}

std::string percentText(std::int64_t part, std::int64_t whole)
{
    const std::int64_t hundredths = percentHundredths(part, whole);
    const std::int64_t magnitude = hundredths < 0 ? -hundredths : hundredths;
    std::string text = hundredths < 0 ? "-" : "";
    text += std::to_string(magnitude / 100);
    text += '.';
    text += static_cast<char>('0' + magnitude % 100 / 10);
    text += static_cast<char>('0' + magnitude % 10);
    return text;
}

std::uint32_t FigureCounter::find(std::uint32_t label)
{
    // Path halving: every other link on the way up skips to its grandparent.
    while (parent_[label] != label) {
        parent_[label] = parent_[parent_[label]];
        label = parent_[label];
    }
    return label;
}

WorldFigures FigureCounter::count(const World &world)
{
    const int side = world.Heights.side();
    WorldFigures figures;
    figures.cells = std::int64_t{side} * side;
    const int threshold = kLowestLandHeight - world.WaterOffset;
    const bool noLand = threshold > 255;
    const auto rawThreshold = static_cast<std::uint8_t>(std::clamp(threshold, 0, 255));
    mask_.assign(static_cast<std::size_t>((side + kWordBits - 1) / kWordBits), 0);
    previous_.clear();
    parent_.clear();
    size_.clear();

    // Land runs down each column, labelled as they are found; a run joins
    // every run of the column before that lies beside it (shares a row).
    int highestRaw = 0;
    for (int x = 0; x < side; ++x) {
        const ColumnBits bits = columnBits(world.Heights.column(x), side, rawThreshold, mask_.data());
        highestRaw = std::max<int>(highestRaw, bits.highest);
        current_.clear();
        if (noLand || !bits.anyLand) {
            previous_.swap(current_);
            continue;
        }
        for (int y = nextCell(mask_.data(), side, 0, true); y < side;) {
            const int end = nextCell(mask_.data(), side, y, false);
            const auto label = static_cast<std::uint32_t>(parent_.size());
            parent_.push_back(label);
            size_.push_back(end - y);
            figures.landCells += end - y;
            current_.push_back({y, end, label});
            y = nextCell(mask_.data(), side, end, true);
        }
        std::size_t p = 0, c = 0;
        while (p < previous_.size() && c < current_.size()) {
            const Run &before = previous_[p], &here = current_[c];
            if (before.end <= here.begin) {
                ++p;
                continue;
            }
            if (here.end <= before.begin) {
                ++c;
                continue;
            }
            const std::uint32_t a = find(before.label), b = find(here.label);
            if (a != b) {
                // The older label stays the root, so a region keeps one root
                // however many columns it spans.
                const std::uint32_t root = std::min(a, b), joined = std::max(a, b);
                parent_[joined] = root;
                size_[root] += size_[joined];
            }
            if (before.end < here.end)
                ++p;
            else
                ++c;
        }
        previous_.swap(current_);
    }
    figures.highest = highestRaw + world.WaterOffset;

    for (std::uint32_t label = 0; label < parent_.size(); ++label) {
        if (parent_[label] != label || size_[label] < kLandmassCells)
            continue;
        ++figures.landmasses;
        figures.largestCells = std::max(figures.largestCells, size_[label]);
    }
    return figures;
}

WorldFigures worldFigures(const World &world)
{
    FigureCounter counter;
    return counter.count(world);
}

} // namespace terralume
