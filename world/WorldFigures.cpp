#include "WorldFigures.h"

#include "Generator.h"

#include <algorithm>
#include <bit>

#include "DrawStream.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace terralume {

namespace {

constexpr int kWordBits = 64;

int wordsPerColumn(int side) { return (side + kWordBits - 1) / kWordBits; }

// One bit a cell, bit y % 64 of word y / 64 of a column's words set for land:
// the runs of land down a column are then found 64 cells at a time. Cells
// are land from the raw height `threshold` up (0..255). Returns the highest
// raw height. The loop is built for AVX2, for SSE2 and plainly, and the
// widest the processor has is taken, as the generator's are.
template <class Chunk>
inline __attribute__((always_inline)) std::uint8_t landBitsLoop(const std::uint8_t *cells, int side,
                                                                std::uint8_t threshold, std::uint64_t *words,
                                                                Chunk chunk)
{
    const int perColumn = wordsPerColumn(side);
    std::uint8_t highest = 0;
    for (int x = 0; x < side; ++x) {
        const std::uint8_t *column = cells + static_cast<std::size_t>(x) * static_cast<std::size_t>(side);
        std::uint64_t *columnWords = words + static_cast<std::size_t>(x) * static_cast<std::size_t>(perColumn);
        // Whole words a vector at a time, then the cells left one by one.
        for (int word = chunk(column, side, threshold, columnWords) / kWordBits; word < perColumn; ++word) {
            const int from = word * kWordBits, end = std::min(side, from + kWordBits);
            std::uint64_t bits = 0;
            for (int k = from; k < end; ++k)
                bits |= static_cast<std::uint64_t>(column[k] >= threshold) << (k - from);
            columnWords[word] = bits;
        }
        for (int k = 0; k < side; ++k)
            highest = std::max(highest, column[k]);
    }
    return highest;
}

#if !defined(__SSE2__)
std::uint8_t landBitsPlain(const std::uint8_t *cells, int side, std::uint8_t threshold, std::uint64_t *words)
{
    return landBitsLoop(cells, side, threshold, words, [](const std::uint8_t *, int, std::uint8_t, std::uint64_t *) {
        return 0;
    });
}
#else
// Whole words of 64 cells, 16 at a time: v >= threshold exactly where
// max(v, threshold) is v. Returns the first cell not done.
int landWordsSse2(const std::uint8_t *column, int side, std::uint8_t threshold, std::uint64_t *words)
{
    const __m128i low = _mm_set1_epi8(static_cast<char>(threshold));
    int y = 0;
    for (; y + kWordBits <= side; y += kWordBits) {
        std::uint64_t word = 0;
        for (int k = 0; k < kWordBits; k += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(column + y + k));
            const __m128i land = _mm_cmpeq_epi8(_mm_max_epu8(v, low), v);
            word |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(land))) << k;
        }
        words[y / kWordBits] = word;
    }
    return y;
}

std::uint8_t landBitsSse2(const std::uint8_t *cells, int side, std::uint8_t threshold, std::uint64_t *words)
{
    return landBitsLoop(cells, side, threshold, words, landWordsSse2);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define TERRALUME_AVX2_PATH 1
// 32 cells' bits.
__attribute__((target("avx2"))) inline std::uint64_t landHalfWordAvx2(const std::uint8_t *cells, __m256i low)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cells));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(v, low), v)));
}

__attribute__((target("avx2"))) inline int landWordsAvx2(const std::uint8_t *column, int side, std::uint8_t threshold,
                                                         std::uint64_t *words)
{
    const __m256i low = _mm256_set1_epi8(static_cast<char>(threshold));
    int y = 0;
    for (; y + kWordBits <= side; y += kWordBits)
        words[y / kWordBits] = landHalfWordAvx2(column + y, low) | landHalfWordAvx2(column + y + 32, low) << 32;
    return y;
}

__attribute__((target("avx2"))) std::uint8_t landBitsAvx2(const std::uint8_t *cells, int side, std::uint8_t threshold,
                                                          std::uint64_t *words)
{
    return landBitsLoop(cells, side, threshold, words, landWordsAvx2);
}
#endif

std::uint8_t landBits(const std::uint8_t *cells, int side, std::uint8_t threshold, std::uint64_t *words)
{
#ifdef TERRALUME_AVX2_PATH
    if (detail::processorHasAvx2())
        return landBitsAvx2(cells, side, threshold, words);
#endif
#if defined(__SSE2__)
    return landBitsSse2(cells, side, threshold, words);
#else
    return landBitsPlain(cells, side, threshold, words);
#endif
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
    const int perColumn = wordsPerColumn(side);
    mask_.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(perColumn));
    figures.highest = landBits(world.Heights.data(), side, rawThreshold, mask_.data()) + world.WaterOffset;
    if (noLand)
        return figures;
    // Room for a column's every run; the runs in use are counted apart, so
    // the rest is never filled in.
    previous_.resize(static_cast<std::size_t>(side));
    current_.resize(previous_.size());
    std::size_t previousRuns = 0;
    parent_.clear();
    size_.clear();

    // Land runs down each column, labelled as they are found; a run joins
    // every run of the column before that lies beside it (shares a row).
    for (int x = 0; x < side; ++x) {
        const std::uint64_t *words = mask_.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(perColumn);
        // A run starts at a land cell below sea or the top, and ends (one
        // past) at a sea cell below land or at the bottom; the k-th end is
        // the k-th run's. Most words are all land or all sea.
        std::size_t starts = 0, ends = 0;
        std::uint64_t above = 0; // the last cell of the word before, as bit 0
        for (int w = 0; w < perColumn; ++w) {
            const std::uint64_t bits = words[w];
            const std::uint64_t shifted = bits << 1 | above;
            above = bits >> (kWordBits - 1);
            std::uint64_t begin = bits & ~shifted, end = ~bits & shifted;
            if ((begin | end) == 0)
                continue;
            const int base = w * kWordBits;
            for (; begin != 0; begin &= begin - 1)
                current_[starts++].begin = base + std::countr_zero(begin);
            for (; end != 0; end &= end - 1)
                current_[ends++].end = base + std::countr_zero(end);
        }
        if (ends < starts)
            current_[starts - 1].end = side;
        for (std::size_t k = 0; k < starts; ++k) {
            Run &run = current_[k];
            run.label = static_cast<std::uint32_t>(parent_.size());
            parent_.push_back(run.label);
            size_.push_back(run.end - run.begin);
            figures.landCells += run.end - run.begin;
        }
        // Runs of both columns in order of their ends: the one that ends
        // first cannot reach a later run of the other column. Whether two
        // runs touch is as good as a coin toss, so the join is made either
        // way, with a run joined to itself when they do not.
        std::size_t p = 0, c = 0;
        while (p < previousRuns && c < starts) {
            const Run &before = previous_[p], &here = current_[c];
            const bool touch = before.end > here.begin && here.end > before.begin;
            const std::uint32_t b = find(here.label);
            const std::uint32_t found = find(before.label);
            const std::uint32_t a = touch ? found : b;
            // The older label stays the root, so a region keeps one root
            // however many columns it spans.
            const std::uint32_t root = std::min(a, b), joined = std::max(a, b);
            size_[root] += a != b ? size_[joined] : 0;
            parent_[joined] = root;
            const bool beforeEndsFirst = before.end < here.end;
            p += beforeEndsFirst;
            c += !beforeEndsFirst;
        }
        previous_.swap(current_);
        previousRuns = starts;
    }

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
