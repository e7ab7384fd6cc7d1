#include "PrintColours.h"

#include <algorithm>
#include <cstdlib>

namespace terralume::print {

namespace {

// Per axis of the histogram (red, green, blue): the bits a cell keeps, the
// shift from a sample to its cell, and the weight of a difference along it in
// the distances that choose and map colours (green counts most).
constexpr int kShift[3] = {3, 2, 3};
constexpr int kScale[3] = {2, 3, 1};
constexpr int kLastCell[3] = {31, 63, 31};

int cellIndex(int c0, int c1, int c2) { return c0 << 11 | c1 << 5 | c2; }

// ---- choosing the colours ----------------------------------------------

struct Box {
    int lo[3];
    int hi[3];
    std::int64_t volume = 0;  // squared, weighted diagonal: 0 once it cannot be split
    std::int64_t filled = 0;  // cells with pixels in them
};

std::int64_t weightedLength(const Box &box, int axis)
{
    return std::int64_t{(box.hi[axis] - box.lo[axis]) << kShift[axis]} * kScale[axis];
}

// Shrinks `box` to the cells that hold pixels and recounts them.
void shrink(Box &box, const ColourHistogram &histogram)
{
    int lo[3] = {kLastCell[0] + 1, kLastCell[1] + 1, kLastCell[2] + 1};
    int hi[3] = {-1, -1, -1};
    std::int64_t filled = 0;
    for (int c0 = box.lo[0]; c0 <= box.hi[0]; ++c0)
        for (int c1 = box.lo[1]; c1 <= box.hi[1]; ++c1)
            for (int c2 = box.lo[2]; c2 <= box.hi[2]; ++c2) {
                if (histogram.count(cellIndex(c0, c1, c2)) == 0)
                    continue;
                ++filled;
                const int at[3] = {c0, c1, c2};
                for (int a = 0; a < 3; ++a) {
                    lo[a] = std::min(lo[a], at[a]);
                    hi[a] = std::max(hi[a], at[a]);
                }
            }
    if (filled > 0)
        for (int a = 0; a < 3; ++a) {
            box.lo[a] = lo[a];
            box.hi[a] = hi[a];
        }
    box.filled = filled;
    box.volume = 0;
    for (int a = 0; a < 3; ++a)
        box.volume += weightedLength(box, a) * weightedLength(box, a);
}

// The first half of the boxes splits the most varied, the rest the largest;
// on equal terms the earlier box.
Box *boxToSplit(std::vector<Box> &boxes, int maxColours)
{
    Box *pick = nullptr;
    if (static_cast<int>(boxes.size()) * 2 <= maxColours) {
        std::int64_t most = 0;
        for (Box &box : boxes)
            if (box.filled > most && box.volume > 0) {
                most = box.filled;
                pick = &box;
            }
    } else {
        std::int64_t largest = 0;
        for (Box &box : boxes)
            if (box.volume > largest) {
                largest = box.volume;
                pick = &box;
            }
    }
    return pick;
}

// The longest weighted side; green wins a tie, then red.
int axisToSplit(const Box &box)
{
    int axis = 1;
    std::int64_t longest = weightedLength(box, 1);
    if (weightedLength(box, 0) > longest) {
        longest = weightedLength(box, 0);
        axis = 0;
    }
    if (weightedLength(box, 2) > longest)
        axis = 2;
    return axis;
}

// The mean of the box's pixels, each at the centre of its cell, rounded.
std::array<std::uint8_t, 3> meanColour(const Box &box, const ColourHistogram &histogram)
{
    std::int64_t total = 0, sums[3] = {0, 0, 0};
    for (int c0 = box.lo[0]; c0 <= box.hi[0]; ++c0)
        for (int c1 = box.lo[1]; c1 <= box.hi[1]; ++c1)
            for (int c2 = box.lo[2]; c2 <= box.hi[2]; ++c2) {
                const std::int64_t count = histogram.count(cellIndex(c0, c1, c2));
                if (count == 0)
                    continue;
                const int at[3] = {c0, c1, c2};
                total += count;
                for (int a = 0; a < 3; ++a)
                    sums[a] += ((at[a] << kShift[a]) + ((1 << kShift[a]) >> 1)) * count;
            }
    std::array<std::uint8_t, 3> colour{};
    for (int a = 0; a < 3; ++a)
        colour[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>((sums[a] + total / 2) / total);
    return colour;
}

// ---- mapping onto the colours ------------------------------------------

// The nearest colour is looked up per histogram cell, found for the cell's
// centre and filled a block of 4 x 8 x 4 cells at a time: a colour that is
// farther from every point of the block than some other colour is at its
// farthest cannot be the nearest to any cell in it.
constexpr int kBlockCells[3] = {4, 8, 4};

std::int64_t squared(std::int64_t v) { return v * v; }

void fillBlock(const Palette &palette, int b0, int b1, int b2, std::vector<std::uint8_t> &nearest)
{
    const int first[3] = {b0 * kBlockCells[0], b1 * kBlockCells[1], b2 * kBlockCells[2]};
    int lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = (first[a] << kShift[a]) + ((1 << kShift[a]) >> 1);
        hi[a] = lo[a] + ((kBlockCells[a] - 1) << kShift[a]);
    }
    std::int64_t nearestFar[256];
    std::int64_t bound = 0x7FFFFFFF;
    for (int i = 0; i < palette.size; ++i) {
        std::int64_t near = 0, far = 0;
        for (int a = 0; a < 3; ++a) {
            const int x = palette.colours[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)];
            const int gap = x < lo[a] ? lo[a] - x : x > hi[a] ? x - hi[a] : 0;
            near += squared(std::int64_t{gap} * kScale[a]);
            far += squared(std::int64_t{std::max(std::abs(x - lo[a]), std::abs(x - hi[a]))} * kScale[a]);
        }
        nearestFar[i] = near;
        bound = std::min(bound, far);
    }
    int candidates[256];
    int count = 0;
    for (int i = 0; i < palette.size; ++i)
        if (nearestFar[i] <= bound)
            candidates[count++] = i;

    for (int i0 = 0; i0 < kBlockCells[0]; ++i0)
        for (int i1 = 0; i1 < kBlockCells[1]; ++i1)
            for (int i2 = 0; i2 < kBlockCells[2]; ++i2) {
                const int centre[3] = {lo[0] + (i0 << kShift[0]), lo[1] + (i1 << kShift[1]),
                                       lo[2] + (i2 << kShift[2])};
                std::int64_t best = 0x7FFFFFFF;
                int bestIndex = 0;
                for (int k = 0; k < count; ++k) {
                    const auto &c = palette.colours[static_cast<std::size_t>(candidates[k])];
                    const std::int64_t d = squared((centre[0] - c[0]) * kScale[0]) +
                                           squared((centre[1] - c[1]) * kScale[1]) +
                                           squared((centre[2] - c[2]) * kScale[2]);
                    if (d < best) {
                        best = d;
                        bestIndex = candidates[k];
                    }
                }
                nearest[static_cast<std::size_t>(cellIndex(first[0] + i0, first[1] + i1, first[2] + i2))] =
                    static_cast<std::uint8_t>(bestIndex);
            }
}

// The error a pixel takes from its neighbours is passed on in full up to 16,
// by half up to 48 and no further, so that no pixel strays far from its own
// colour. Indexed by error + 255.
struct ErrorLimit {
    int table[511];
    ErrorLimit()
    {
        for (int e = 0; e <= 255; ++e) {
            const int limited = e < 16 ? e : e < 48 ? 16 + (e - 16) / 2 : 32;
            table[255 + e] = limited;
            table[255 - e] = -limited;
        }
    }
};

const ErrorLimit kErrorLimit;

} // namespace

ColourHistogram::ColourHistogram() : counts_(kCells, 0) {}

void ColourHistogram::add(const std::uint8_t *rgb, std::size_t pixels)
{
    // Maps have long runs of one colour: counting a run at once keeps the
    // loop from waiting on its own last increment.
    std::size_t i = 0;
    while (i < pixels) {
        const int cell = cellOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        std::size_t end = i + 1;
        while (end < pixels && cellOf(rgb[3 * end], rgb[3 * end + 1], rgb[3 * end + 2]) == cell)
            ++end;
        counts_[static_cast<std::size_t>(cell)] += static_cast<std::uint32_t>(end - i);
        i = end;
    }
}

void ColourHistogram::merge(const ColourHistogram &other)
{
    for (std::size_t i = 0; i < counts_.size(); ++i)
        counts_[i] += other.counts_[i];
}

std::uint32_t ColourHistogram::count(int cell) const
{
    return std::min(counts_[static_cast<std::size_t>(cell)], kMaxCount);
}

Palette choosePalette(const ColourHistogram &histogram, int maxColours)
{
    std::vector<Box> boxes;
    boxes.reserve(static_cast<std::size_t>(maxColours));
    boxes.push_back(Box{{0, 0, 0}, {kLastCell[0], kLastCell[1], kLastCell[2]}});
    shrink(boxes.front(), histogram);
    while (static_cast<int>(boxes.size()) < maxColours) {
        Box *box = boxToSplit(boxes, maxColours);
        if (box == nullptr)
            break;
        const int axis = axisToSplit(*box);
        Box upper = *box;
        const int middle = (box->lo[axis] + box->hi[axis]) / 2;
        box->hi[axis] = middle;
        upper.lo[axis] = middle + 1;
        shrink(*box, histogram);
        shrink(upper, histogram);
        boxes.push_back(upper);
    }
    Palette palette;
    palette.size = static_cast<int>(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i)
        palette.colours[i] = meanColour(boxes[i], histogram);
    return palette;
}

FloydSteinberg::FloydSteinberg(const Palette &palette, int width)
    : width_(width), nearest_(ColourHistogram::kCells), errors_((static_cast<std::size_t>(width) + 2) * 3, 0)
{
    for (int i = 0; i < palette.size; ++i)
        for (int a = 0; a < 3; ++a)
            colours_[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)] =
                palette.colours[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)];
    for (int b0 = 0; b0 < 32 / kBlockCells[0]; ++b0)
        for (int b1 = 0; b1 < 64 / kBlockCells[1]; ++b1)
            for (int b2 = 0; b2 < 32 / kBlockCells[2]; ++b2)
                fillBlock(palette, b0, b1, b2, nearest_);
}

void FloydSteinberg::mapRow(const std::uint8_t *rgb, std::uint8_t *indices)
{
    // `errors_` holds, one column ahead of the pixel at hand, the errors for
    // this row still to come and behind it those already passed to the next
    // row; its first and last entries stand for the columns beyond the edges.
    const int step = leftwards_ ? -1 : 1;
    const int step3 = 3 * step;
    const std::uint8_t *in = rgb;
    std::uint8_t *out = indices;
    int *error = errors_.data();
    if (leftwards_) {
        in += static_cast<std::ptrdiff_t>(width_ - 1) * 3;
        out += width_ - 1;
        error += static_cast<std::ptrdiff_t>(width_ + 1) * 3;
    }
    leftwards_ = !leftwards_;
    const int *limit = kErrorLimit.table + 255;
    const std::uint8_t *nearest = nearest_.data();
    int cur0 = 0, cur1 = 0, cur2 = 0;          // 7/16 of the last pixel's error
    int below0 = 0, below1 = 0, below2 = 0;     // 1/16 share for the pixel below the last
    int belowPrev0 = 0, belowPrev1 = 0, belowPrev2 = 0; // running sum for the column behind
    for (int col = 0; col < width_; ++col) {
        cur0 = limit[(cur0 + error[step3 + 0] + 8) >> 4];
        cur1 = limit[(cur1 + error[step3 + 1] + 8) >> 4];
        cur2 = limit[(cur2 + error[step3 + 2] + 8) >> 4];
        cur0 = std::clamp(cur0 + in[0], 0, 255);
        cur1 = std::clamp(cur1 + in[1], 0, 255);
        cur2 = std::clamp(cur2 + in[2], 0, 255);
        const int index = nearest[ColourHistogram::cellOf(cur0, cur1, cur2)];
        *out = static_cast<std::uint8_t>(index);
        const auto &colour = colours_[static_cast<std::size_t>(index)];
        cur0 -= colour[0];
        cur1 -= colour[1];
        cur2 -= colour[2];
        error[0] = belowPrev0 + cur0 * 3;
        error[1] = belowPrev1 + cur1 * 3;
        error[2] = belowPrev2 + cur2 * 3;
        belowPrev0 = below0 + cur0 * 5;
        belowPrev1 = below1 + cur1 * 5;
        belowPrev2 = below2 + cur2 * 5;
        below0 = cur0;
        below1 = cur1;
        below2 = cur2;
        cur0 *= 7;
        cur1 *= 7;
        cur2 *= 7;
        in += step3;
        out += step;
        error += step3;
    }
    error[0] = belowPrev0;
    error[1] = belowPrev1;
    error[2] = belowPrev2;
}

} // namespace terralume::print
