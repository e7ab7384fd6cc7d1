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
inline __attribute__((always_inline)) std::uint8_t
landBitsLoop(const std::uint8_t *cells, int side, std::uint8_t threshold, std::uint64_t *words, Chunk chunk)
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
    return landBitsLoop(cells, side, threshold, words,
                        [](const std::uint8_t *, int, std::uint8_t, std::uint64_t *) { return 0; });
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

namespace {

// The working memory of a count.
struct Labels {
    std::vector<std::uint32_t> &parent;
    std::vector<std::int64_t> &size;

    std::uint32_t find(std::uint32_t label)
    {
        // Path halving: every other link on the way up skips to its grandparent.
        while (parent[label] != label) {
            parent[label] = parent[parent[label]];
            label = parent[label];
        }
        return label;
    }
};

// The runs of land down each column become labels, numbered in order down
// the column and column after column, each sized by its cells; every region
// is joined into its oldest label. Two runs of neighbouring columns touch
// exactly where both columns are land, and each stretch of rows where both
// are is where one pair of runs meets: so one join is made for each such
// stretch, with the runs found by counting the run starts above it, and no
// walk through the runs of two columns side by side, whose every step is a
// guess about which run ends first. `scratch` holds five words a word of a
// column.
inline __attribute__((always_inline)) void labelRunsLoop(const std::uint64_t *mask, int side, std::uint64_t *scratch,
                                                         Labels labels)
{
    const auto words = static_cast<std::size_t>(wordsPerColumn(side));
    // Each column's run starts, and the runs started in the words above.
    std::uint64_t *startsHere = scratch, *startsBefore = scratch + words;
    std::uint64_t *ranksHere = scratch + 2 * words, *ranksBefore = scratch + 3 * words;
    // The column before the first.
    std::uint64_t *noLand = scratch + 4 * words;
    std::fill(noLand, noLand + words, 0);
    std::vector<std::uint32_t> &parent = labels.parent;
    std::vector<std::int64_t> &size = labels.size;
    std::uint32_t firstBefore = 0;

    for (int x = 0; x < side; ++x) {
        const std::uint64_t *bits = mask + static_cast<std::size_t>(x) * words;
        const auto firstHere = static_cast<std::uint32_t>(parent.size());
        // A run starts at a land cell below sea or the top, and ends (one
        // past) at a sea cell below land or at the bottom. Its cells are its
        // end less its start; the k-th end is the k-th run's. The joins of
        // a word are made as soon as its runs are known.
        std::uint64_t runs = 0, ended = 0;
        // The last cell of the word before, as bit 0: land here, and land
        // here and in the column before.
        std::uint64_t above = 0, aboveBoth = 0;
        const std::uint64_t *bitsBefore = x > 0 ? bits - words : noLand;
        for (std::size_t w = 0; w < words; ++w) {
            const std::uint64_t shifted = bits[w] << 1 | above;
            above = bits[w] >> (kWordBits - 1);
            std::uint64_t begin = bits[w] & ~shifted, end = ~bits[w] & shifted;
            startsHere[w] = begin;
            ranksHere[w] = runs;
            runs += static_cast<std::uint64_t>(std::popcount(begin));
            const auto base = static_cast<std::int64_t>(w) * kWordBits;
            for (; begin != 0; begin &= begin - 1) {
                parent.push_back(static_cast<std::uint32_t>(parent.size()));
                size.push_back(-(base + std::countr_zero(begin)));
            }
            // A run may have been joined before its end is seen: its cells
            // count where its region's are.
            for (; end != 0; end &= end - 1)
                size[labels.find(firstHere + static_cast<std::uint32_t>(ended++))] += base + std::countr_zero(end);

            const std::uint64_t both = bits[w] & bitsBefore[w];
            std::uint64_t meet = both & ~(both << 1 | aboveBoth);
            aboveBoth = both >> (kWordBits - 1);
            for (; meet != 0; meet &= meet - 1) {
                // The starts at or above the first row where they meet, in this word.
                const std::uint64_t upTo = ~std::uint64_t{0} >> (kWordBits - 1 - std::countr_zero(meet));
                const auto here =
                    static_cast<std::uint32_t>(firstHere + ranksHere[w] + std::popcount(startsHere[w] & upTo) - 1);
                const auto before = static_cast<std::uint32_t>(firstBefore + ranksBefore[w] +
                                                               std::popcount(startsBefore[w] & upTo) - 1);
                const std::uint32_t a = labels.find(before), b = labels.find(here);
                // The older label stays the root, so a region keeps one root
                // however many columns it spans.
                const std::uint32_t root = std::min(a, b), joined = std::max(a, b);
                size[root] += a != b ? size[joined] : 0;
                parent[joined] = root;
            }
        }
        if (ended < runs)
            size[labels.find(firstHere + static_cast<std::uint32_t>(ended))] += side;
        std::swap(startsHere, startsBefore);
        std::swap(ranksHere, ranksBefore);
        firstBefore = firstHere;
    }
}

// Built for AVX2 machines with their bit instructions (a population count
// and a trailing-zero count an instruction each), and plainly.
#ifdef TERRALUME_AVX2_PATH
__attribute__((target("avx2,popcnt,bmi"))) void labelRunsAvx2(const std::uint64_t *mask, int side,
                                                              std::uint64_t *scratch, Labels labels)
{
    labelRunsLoop(mask, side, scratch, labels);
}
#endif

void labelRuns(const std::uint64_t *mask, int side, std::uint64_t *scratch, Labels labels)
{
#ifdef TERRALUME_AVX2_PATH
    if (detail::processorHasAvx2())
        return labelRunsAvx2(mask, side, scratch, labels);
#endif
    labelRunsLoop(mask, side, scratch, labels);
}

} // namespace

WorldFigures FigureCounter::count(const World &world)
{
    const int side = world.Heights.side();
    WorldFigures figures;
    figures.cells = std::int64_t{side} * side;
    const int threshold = kLowestLandHeight - world.WaterOffset;
    const bool noLand = threshold > 255;
    const auto rawThreshold = static_cast<std::uint8_t>(std::clamp(threshold, 0, 255));
    const auto words = static_cast<std::size_t>(wordsPerColumn(side));
    mask_.resize(static_cast<std::size_t>(side) * words);
    figures.highest = landBits(world.Heights.data(), side, rawThreshold, mask_.data()) + world.WaterOffset;
    if (noLand)
        return figures;
    starts_.resize(5 * words);
    parent_.clear();
    size_.clear();
    labelRuns(mask_.data(), side, starts_.data(), Labels{parent_, size_});

    for (std::uint32_t label = 0; label < parent_.size(); ++label) {
        if (parent_[label] != label)
            continue;
        figures.landCells += size_[label];
        if (size_[label] < kLandmassCells)
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
