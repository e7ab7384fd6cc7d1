#include "Generator.h"

#include "DrawStream.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace terralume {

namespace {

// Heights are bytes: a displaced value below 0 or above 255 wraps round,
// which puts high land next to deep sea and is part of the maps' shapes.
inline std::uint8_t wrapHeight(int value) { return static_cast<std::uint8_t>(value); }

int firstStep(int blockSize) { return blockSize % 16 == 0 ? 4 * blockSize : 128; }

std::uint64_t squared(int v) { return static_cast<std::uint64_t>(v) * static_cast<std::uint64_t>(v); }

// The longest run of draws one outer loop step needs: a column of the grid.
constexpr std::size_t kMaxRun = 1025;
using DrawRun = std::array<std::uint16_t, kMaxRun>;

void seedLattice(World &w, DrawStream &draws)
{
    const int b = w.BlockSize;
    DrawRun r;
    for (int i = 0; i <= b; ++i) {
        draws.next(r.data(), static_cast<std::size_t>(b + 1), 128, 64);
        for (int j = 0; j <= b; ++j)
            w.Heights.at(i * b, j * b) = wrapHeight(r[static_cast<std::size_t>(j)]);
    }
}

// A stage on the grid itself, for the coarse stages of a size whose extent
// their step does not divide (Medium's first); the later ones run on planes.
void runStageOnGrid(World &w, DrawStream &draws, int s)
{
    HeightGrid &g = w.Heights;
    const int h = s / 2;
    const int n = w.GridExtent / s;
    const auto edgeRange = static_cast<std::uint32_t>(2 * s + 1);
    const auto centreRange = static_cast<std::uint32_t>(2 * h + 1);
    const auto runOf = [](int count) { return static_cast<std::size_t>(count); };
    DrawRun r;

    for (int i = 0; i < n; ++i) {
        const int x = i * s;
        draws.next(r.data(), runOf(n + 1), edgeRange);
        for (int j = 0; j <= n; ++j)
            g.at(x + h, j * s) = wrapHeight(r[runOf(j)] + (g.at(x, j * s) + g.at(x + s, j * s)) / 2 - s);
    }
    for (int i = 0; i <= n; ++i) {
        const int x = i * s;
        draws.next(r.data(), runOf(n), edgeRange);
        for (int j = 0; j < n; ++j)
            g.at(x, j * s + h) = wrapHeight(r[runOf(j)] + (g.at(x, j * s) + g.at(x, j * s + s)) / 2 - s);
    }
    // The centre pass reads multiples of s, the next stage multiples of h.
    WipeEdges(w, draws, h);
    for (int i = 0; i < n; ++i) {
        const int x = i * s;
        draws.next(r.data(), runOf(n), centreRange);
        for (int j = 0; j < n; ++j) {
            const int m = (g.at(x, j * s) + g.at(x, j * s + s) + g.at(x + s, j * s) + g.at(x + s, j * s + s)) / 4;
            g.at(x + h, j * s + h) = wrapHeight(r[runOf(j)] + m - h);
        }
    }
}

// Every wipe's band cells column by column, in the order of the draws:
// right, top, bottom, left. `store(x, y0, draws, count)` takes a column's run
// of draws for cells (x, y0...); columns for which `wanted(x)` is false take
// their draws without storing them.
template <class Wanted, class Store> void wipeBands(const World &w, DrawStream &draws, Wanted wanted, Store store)
{
    const int e = w.GridExtent;
    const int width = w.EdgeWidth;
    // 40..159 whatever the water offset: never wraps.
    const auto base = static_cast<std::uint16_t>(80 - w.WaterOffset);
    DrawRun r;
    const auto setBand = [&](int x0, int x1, int y0, int y1) {
        const auto run = static_cast<std::size_t>(y1 - y0 + 1);
        // The short columns of the top and bottom bands are drawn several
        // at a time: a call for each would cost more than its draws.
        const int together = static_cast<int>(r.size() / run);
        for (int x = x0; x <= x1;) {
            if (!wanted(x)) {
                draws.skip(run);
                ++x;
                continue;
            }
            int columns = 1;
            while (columns < together && x + columns <= x1 && wanted(x + columns))
                ++columns;
            draws.next(r.data(), run * static_cast<std::size_t>(columns), 40, base);
            for (int k = 0; k < columns; ++k)
                store(x + k, y0, r.data() + run * static_cast<std::size_t>(k), run);
            x += columns;
        }
    };
    setBand(e - width, e, 0, e); // right
    setBand(0, e, 0, width);     // top
    setBand(0, e, e - width, e); // bottom
    setBand(0, width, 0, e);     // left
}

// Each stage sets the cells at odd multiples of half its step between those
// at multiples of the step, and each of its passes every other cell of a
// column: on the grid, a pass would load whole columns to use one byte in
// two (in the last stage) or fewer (before it). Instead the stages work on
// planes: the cells a stage reads and writes, split by the parity of their
// two indices in units of half the step, each plane's rows packed, so every
// pass runs along whole rows of bytes. A stage's four planes woven together
// are the next stage's even-even plane; the last ones are woven into the
// grid, with the clamp to the water, in the one pass over every cell.
//
// Row i of a plane is grid column i * s (even planes) or i * s + h (odd
// ones), and its cell j is row j * s or j * s + h of that column, so each
// pass keeps the grid's order of draws.
struct StagePlanes {
    StagePlanes(int cells, std::uint8_t *memory) : n(cells), side(static_cast<std::size_t>(n + 1))
    {
        evenEven = memory;
        oddEven = evenEven + side * side;
        evenOdd = oddEven + side * side;
        oddOdd = evenOdd + side * side;
    }
    std::uint8_t *row(std::uint8_t *plane, int i) const { return plane + static_cast<std::size_t>(i) * side; }
    // The four planes of a stage with n cells of odd index along an axis.
    static std::size_t bytes(int cells) { return 4 * squared(cells + 1); }

    int n;            // odd cells along an axis; n + 1 even ones
    std::size_t side; // the stride of every plane's rows
    std::uint8_t *evenEven, *oddEven, *evenOdd, *oddOdd;
};

// The wipe in the middle of a stage, kept only where the planes hold cells:
// multiples of h, and not the odd-odd ones the centres overwrite.
inline __attribute__((always_inline)) void wipePlanes(const World &w, DrawStream &draws, const StagePlanes &p, int h)
{
    // h is a power of two: masks and shifts rather than a division a column.
    const int below = h - 1, shift = std::countr_zero(static_cast<unsigned>(h));
    wipeBands(
        w, draws, [below](int x) { return (x & below) == 0; },
        [&](int x, int y0, const std::uint16_t *values, std::size_t run) {
            const int column = x >> shift;
            const int i = column / 2;
            const bool oddColumn = column % 2 != 0;
            // The first cell of the run on a multiple of h, and its row there.
            const auto first = static_cast<std::size_t>((h - (y0 & below)) & below);
            const int row = (y0 + static_cast<int>(first)) >> shift;
            std::uint8_t *even = p.row(oddColumn ? p.oddEven : p.evenEven, i);
            std::uint8_t *odd = oddColumn ? nullptr : p.row(p.evenOdd, i);
            const auto step = static_cast<std::size_t>(h);
            if (h == 1) {
                // Written apart so that the last wipe's loops are plain strided copies.
                std::uint8_t *evenCells = even + row / 2;
                for (std::size_t k = 0; 2 * k < run; ++k)
                    evenCells[k] = wrapHeight(values[2 * k]);
                if (odd)
                    for (std::size_t k = 0; 2 * k + 1 < run; ++k)
                        odd[row / 2 + k] = wrapHeight(values[2 * k + 1]);
                return;
            }
            int j = row;
            for (std::size_t k = first; k < run; k += step, ++j) {
                if (j % 2 == 0)
                    even[j / 2] = wrapHeight(values[k]);
                else if (odd)
                    odd[j / 2] = wrapHeight(values[k]);
            }
        });
}

// One stage of step s on its planes, the even-even one filled; its cells
// woven into `fine` (columns `fineStride` apart, rows packed), each through
// `finish`.
template <class Finish>
inline __attribute__((always_inline)) void planarStage(World &w, DrawStream &draws, const StagePlanes &p, int s,
                                                       std::uint8_t *fine, std::size_t fineStride, Finish finish)
{
    const int n = p.n;
    const int h = s / 2;
    const auto count = [](int cells) { return static_cast<std::size_t>(cells); };
    const auto edgeRange = static_cast<std::uint32_t>(2 * s + 1);
    const auto centreRange = static_cast<std::uint32_t>(2 * h + 1);
    DrawRun r;

    // The wipe overwrites every cell of the bands, so the edges there are
    // never read: their draws are passed over. `live(c)` for a coordinate
    // off the bands; the cells from `firstLive(a)` to before `endLive(a)` of
    // a row whose cell j lies at j * s + a.
    const int e = w.GridExtent, band = w.EdgeWidth;
    const auto live = [e, band](int c) { return c > band && c < e - band; };
    const auto firstLive = [band, s](int a) { return a > band ? 0 : (band - a) / s + 1; };
    const auto endLive = [e, band, s](int a) { return (e - band - a + s - 1) / s; };
    const int acrossFrom = firstLive(0), acrossEnd = endLive(0), downFrom = firstLive(h), downEnd = endLive(h);
    const auto edges = [&](std::uint8_t *target, const std::uint8_t *one, const std::uint8_t *other, int cells,
                           int from, int end) {
        end = std::min(end, cells);
        if (from >= end) {
            draws.skip(count(cells));
            return;
        }
        draws.skip(count(from));
        draws.next(r.data(), count(end - from), edgeRange);
        draws.skip(count(cells - end));
        for (int j = from; j < end; ++j)
            target[j] = wrapHeight(r[count(j - from)] + (one[j] + other[j]) / 2 - s);
    };
    for (int i = 0; i < n; ++i) {
        const std::uint8_t *left = p.row(p.evenEven, i), *right = p.row(p.evenEven, i + 1);
        if (live(i * s + h))
            edges(p.row(p.oddEven, i), left, right, n + 1, acrossFrom, acrossEnd);
        else
            draws.skip(count(n + 1));
    }
    for (int i = 0; i <= n; ++i) {
        const std::uint8_t *column = p.row(p.evenEven, i);
        if (live(i * s))
            edges(p.row(p.evenOdd, i), column, column + 1, n, downFrom, downEnd);
        else
            draws.skip(count(n));
    }
    wipePlanes(w, draws, p, h);
    for (int i = 0; i < n; ++i) {
        draws.next(r.data(), count(n), centreRange);
        const std::uint8_t *left = p.row(p.evenEven, i), *right = p.row(p.evenEven, i + 1);
        std::uint8_t *target = p.row(p.oddOdd, i);
        for (int j = 0; j < n; ++j)
            target[j] = wrapHeight(r[count(j)] + (left[j] + left[j + 1] + right[j] + right[j + 1]) / 4 - h);
    }

    for (int x = 0; x <= 2 * n; ++x) {
        const int i = x / 2;
        const std::uint8_t *even = p.row(x % 2 == 0 ? p.evenEven : p.oddEven, i);
        const std::uint8_t *odd = p.row(x % 2 == 0 ? p.evenOdd : p.oddOdd, i);
        std::uint8_t *column = fine + static_cast<std::size_t>(x) * fineStride;
        for (int j = 0; j < n; ++j) {
            column[2 * j] = finish(even[j]);
            column[2 * j + 1] = finish(odd[j]);
        }
        column[2 * n] = finish(even[n]);
    }
}

// The stages from step `first` down on planes, in `memory` (two sets of the
// last stage's planes: each stage's are woven into the other set).
inline __attribute__((always_inline)) void planarStagesLoops(World &w, DrawStream &draws, int first,
                                                             std::uint8_t *memory)
{
    HeightGrid &g = w.Heights;
    const int e = w.GridExtent;
    std::uint8_t *sets[2] = {memory, memory + StagePlanes::bytes(e / 2)};
    int set = 0;
    {
        const StagePlanes p(e / first, sets[0]);
        for (int i = 0; i <= p.n; ++i) {
            std::uint8_t *even = p.row(p.evenEven, i);
            for (int j = 0; j <= p.n; ++j)
                even[j] = g.at(i * first, j * first);
        }
    }
    const auto keep = [](std::uint8_t cell) { return cell; };
    for (int s = first; s != 2; s /= 2, set ^= 1) {
        const StagePlanes p(e / s, sets[set]);
        planarStage(w, draws, p, s, sets[set ^ 1], static_cast<std::size_t>(2 * p.n + 1), keep);
    }
    // Afterwards every height plus the water offset lies in 0..255. Raising to
    // -offset only bites when the offset is negative, lowering to 255 - offset
    // only when it is positive, so one clamp to the pair of bounds does both.
    const int o = w.WaterOffset;
    const auto low = static_cast<std::uint8_t>(std::max(0, -o));
    const auto high = static_cast<std::uint8_t>(std::min(255, 255 - o));
    const auto clamp = [low, high](std::uint8_t cell) { return std::min(std::max(cell, low), high); };
    planarStage(w, draws, StagePlanes(e / 2, sets[set]), 2, g.data(), static_cast<std::size_t>(g.side()), clamp);
}

// The loops are written plainly for the compiler to vectorise, and built once
// for AVX2 and once for the baseline, like the draws' (DrawStream.cpp).
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void planarStagesAvx2(World &w, DrawStream &draws, int first, std::uint8_t *memory)
{
    planarStagesLoops(w, draws, first, memory);
}
#endif

void planarStagesBaseline(World &w, DrawStream &draws, int first, std::uint8_t *memory)
{
    planarStagesLoops(w, draws, first, memory);
}

void runPlanarStages(World &w, DrawStream &draws, int first)
{
    // Kept from one generation to the next on each thread, as the grid is.
    thread_local std::vector<std::uint8_t> memory;
    memory.resize(2 * StagePlanes::bytes(w.GridExtent / 2));
#if defined(__x86_64__) && defined(__GNUC__)
    if (detail::processorHasAvx2())
        return planarStagesAvx2(w, draws, first, memory.data());
#endif
    planarStagesBaseline(w, draws, first, memory.data());
}

} // namespace

int blockSizeFor(std::string_view sizeName) { return knownBlockSize(sizeName).value_or(kWorldSizes.back().blockSize); }

void WipeEdges(World &w, DrawStream &draws, int readStep)
{
    wipeBands(
        w, draws, [below = readStep - 1](int x) { return (x & below) == 0; },
        [&](int x, int y0, const std::uint16_t *values, std::size_t run) {
            // Down one column from a pointer, so the loop is a plain narrowing copy.
            std::uint8_t *cell = &w.Heights.at(x, y0);
            for (std::size_t k = 0; k < run; ++k)
                cell[k] = wrapHeight(values[k]);
        });
}

void GenerateHeights(World &w, std::string_view sizeName, int waterPosition, SeededRandom &random)
{
    w.BlockSize = blockSizeFor(sizeName);
    w.GridExtent = w.BlockSize * w.BlockSize;
    const int first = firstStep(w.BlockSize);
    // A map whose stages all run on planes sets every cell it reads: the
    // lattice and the bands hold the first stage's, and the last weave
    // writes them all. Otherwise it starts from an all-zero grid, so cells
    // that no step sets (a few on Medium maps) never carry heights over
    // from an earlier map.
    if (w.GridExtent % first == 0)
        w.Heights.resize(w.GridExtent);
    else
        w.Heights.resetZeroed(w.GridExtent);
    w.WaterOffset = -waterPosition;
    w.EdgeWidth = w.BlockSize;

    DrawStream draws(random.seedWord());
    seedLattice(w, draws);
    // The first stage reads only multiples of its step.
    WipeEdges(w, draws, first);
    int step = first;
    for (; w.GridExtent % step != 0; step /= 2)
        runStageOnGrid(w, draws, step);
    runPlanarStages(w, draws, step);
    // The source goes on after the last draw, as if each had been its own RandomBelow.
    random.setSeedWord(draws.seedWord());
}

World GenerateHeights(std::string_view sizeName, int waterPosition, SeededRandom &random)
{
    World world;
    GenerateHeights(world, sizeName, waterPosition, random);
    return world;
}

std::uint64_t drawsPerGeneration(std::string_view sizeName)
{
    const int b = blockSizeFor(sizeName);
    const int e = b * b;
    const std::uint64_t wipe = 4 * static_cast<std::uint64_t>(b + 1) * static_cast<std::uint64_t>(e + 1);
    std::uint64_t total = squared(b + 1) + wipe;
    for (int s = firstStep(b); s != 1; s /= 2) {
        const std::uint64_t n = static_cast<std::uint64_t>(e / s);
        total += 2 * n * (n + 1) + wipe + n * n;
    }
    return total;
}

} // namespace terralume
