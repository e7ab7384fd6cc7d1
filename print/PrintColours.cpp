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
    std::int64_t volume = 0; // squared, weighted diagonal: 0 once it cannot be split
    std::int64_t filled = 0; // cells with pixels in them
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

void fillBlock(const Palette &palette, int b0, int b1, int b2, std::vector<std::uint32_t> &nearest,
               std::vector<std::uint64_t> &sevenfold)
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
                const int centre[3] = {lo[0] + (i0 << kShift[0]), lo[1] + (i1 << kShift[1]), lo[2] + (i2 << kShift[2])};
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
                const auto &c = palette.colours[static_cast<std::size_t>(bestIndex)];
                const auto cell = static_cast<std::size_t>(cellIndex(first[0] + i0, first[1] + i1, first[2] + i2));
                nearest[cell] = std::uint32_t{c[0]} | std::uint32_t{c[1]} << 8 | std::uint32_t{c[2]} << 16 |
                                static_cast<std::uint32_t>(bestIndex) << 24;
                sevenfold[cell] =
                    std::uint64_t{7u * c[0]} | std::uint64_t{7u * c[1]} << 16 | std::uint64_t{7u * c[2]} << 32;
            }
}

// The error a pixel takes from its neighbours is passed on in full up to 16,
// by half up to 48 and no further, so that no pixel strays far from its own
// colour. Indexed by the error in sixteenths, before its rounding (+ 8, then
// down to whole steps), which is folded in here to keep it off the critical
// path; the sum of a row's shares and a pixel's 7/16 stays within +-4096.
struct ErrorLimit {
    static constexpr int kReach = 4096;
    std::int8_t table[2 * kReach];
    ErrorLimit()
    {
        for (int sixteenths = -kReach; sixteenths < kReach; ++sixteenths) {
            const int e = (sixteenths + 8) >> 4;
            const int size = std::abs(e);
            const int limited = size < 16 ? size : size < 48 ? 16 + (size - 16) / 2 : 32;
            table[sixteenths + kReach] = static_cast<std::int8_t>(e < 0 ? -limited : limited);
        }
    }
};

const ErrorLimit kErrorLimit;

} // namespace

ColourHistogram::ColourHistogram() : counts_(kCells, 0) {}

void ColourHistogram::add(const std::uint8_t *rgb, std::size_t pixels)
{
    std::uint32_t *const counts = counts_.data();
    for (std::size_t i = 0; i < pixels; ++i, rgb += 3)
        ++counts[cellOf(rgb[0], rgb[1], rgb[2])];
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
    : width_(width), sevenfold_(ColourHistogram::kCells), nearest_(ColourHistogram::kCells),
      errors_((static_cast<std::size_t>(width) + 2) * 3, 0), nextErrors_(errors_.size(), 0)
{
    for (int b0 = 0; b0 < 32 / kBlockCells[0]; ++b0)
        for (int b1 = 0; b1 < 64 / kBlockCells[1]; ++b1)
            for (int b2 = 0; b2 < 32 / kBlockCells[2]; ++b2)
                fillBlock(palette, b0, b1, b2, nearest_, sevenfold_);
}

void FloydSteinberg::mapRow(const std::uint8_t *rgb, std::uint8_t *indices)
{
    // Each pixel waits on the one before it (7/16 of its error), so that chain
    // is kept to one look-up of the limit and one of the colour; the shares
    // for the next row go straight to memory beside it. Alternate rows run
    // leftwards.
    const std::ptrdiff_t step = leftwards_ ? -1 : 1;
    const std::ptrdiff_t step3 = 3 * step;
    const std::uint8_t *in = rgb;
    std::uint8_t *out = indices;
    const int *error = errors_.data() + 3; // the first column
    int *next = nextErrors_.data() + 3;
    if (leftwards_) {
        const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(width_ - 1);
        in += last * 3;
        out += last;
        error += last * 3;
        next += last * 3;
    }
    leftwards_ = !leftwards_;
    next[0] = next[1] = next[2] = 0;
    const std::int8_t *const limit = kErrorLimit.table + ErrorLimit::kReach;
    const std::uint64_t *const sevenfold = sevenfold_.data();
    const std::uint32_t *const nearest = nearest_.data();
    std::ptrdiff_t cur0 = 0, cur1 = 0, cur2 = 0; // 7/16 of the last pixel's error, in sixteenths
    for (int col = 0; col < width_; ++col) {
        std::ptrdiff_t v0 = in[0] + limit[cur0 + error[0]];
        std::ptrdiff_t v1 = in[1] + limit[cur1 + error[1]];
        std::ptrdiff_t v2 = in[2] + limit[cur2 + error[2]];
        v0 = v0 < 0 ? 0 : v0 > 255 ? 255 : v0;
        v1 = v1 < 0 ? 0 : v1 > 255 ? 255 : v1;
        v2 = v2 < 0 ? 0 : v2 > 255 ? 255 : v2;
        const std::size_t cell = static_cast<std::size_t>((v0 & 0xF8) << 8 | (v1 & 0xFC) << 3 | v2 >> 3);
        const std::uint64_t seven = sevenfold[cell];
        cur0 = 7 * v0 - static_cast<std::ptrdiff_t>(seven & 0xFFFF);
        cur1 = 7 * v1 - static_cast<std::ptrdiff_t>(seven >> 16 & 0xFFFF);
        cur2 = 7 * v2 - static_cast<std::ptrdiff_t>(seven >> 32 & 0xFFFF);
        const std::uint32_t colour = nearest[cell];
        *out = static_cast<std::uint8_t>(colour >> 24);
        const int e0 = static_cast<int>(v0) - static_cast<int>(colour & 0xFF);
        const int e1 = static_cast<int>(v1) - static_cast<int>(colour >> 8 & 0xFF);
        const int e2 = static_cast<int>(v2) - static_cast<int>(colour >> 16 & 0xFF);
        next[step3 + 0] = e0;
        next[step3 + 1] = e1;
        next[step3 + 2] = e2;
        next[0] += 5 * e0;
        next[1] += 5 * e1;
        next[2] += 5 * e2;
        next[-step3 + 0] += 3 * e0;
        next[-step3 + 1] += 3 * e1;
        next[-step3 + 2] += 3 * e2;
        in += step3;
        out += step;
        error += step3;
        next += step3;
    }
    errors_.swap(nextErrors_);
}

} // namespace terralume::print
