#include "Generator.h"

#include "DrawStream.h"

#include <algorithm>
#include <array>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace terralume {

namespace {

// Heights are bytes: a displaced value below 0 or above 255 wraps round,
// which puts high land next to deep sea and is part of the maps' shapes.
inline std::uint8_t wrapHeight(int value) { return static_cast<std::uint8_t>(value); }

int firstStep(int blockSize) { return blockSize % 16 == 0 ? 4 * blockSize : 128; }

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

// The three passes of a stage over columns of the grid. Step is a template
// argument for the finest stages, which hold most of the cells, so that the
// compiler sees the stride and can vectorise the column loops.
template <int Step> struct StagePasses {
    static void edgesAcross(std::uint8_t *target, const std::uint8_t *left, const std::uint8_t *right,
                            const std::uint16_t *r, int count, int step)
    {
        const int s = Step ? Step : step;
        for (int j = 0; j < count; ++j)
            target[j * s] = wrapHeight(r[j] + (left[j * s] + right[j * s]) / 2 - s);
    }
    static void edgesDown(std::uint8_t *column, const std::uint16_t *r, int count, int step)
    {
        const int s = Step ? Step : step;
        const int h = s / 2;
        for (int j = 0; j < count; ++j)
            column[j * s + h] = wrapHeight(r[j] + (column[j * s] + column[j * s + s]) / 2 - s);
    }
    static void centres(std::uint8_t *target, const std::uint8_t *left, const std::uint8_t *right,
                        const std::uint16_t *r, int count, int step)
    {
        const int s = Step ? Step : step;
        const int h = s / 2;
        for (int j = 0; j < count; ++j) {
            const int m = (left[j * s] + left[j * s + s] + right[j * s] + right[j * s + s]) / 4;
            target[j * s + h] = wrapHeight(r[j] + m - h);
        }
    }
};

#if defined(__SSE2__)
// The stage before the last, the same way with 32-bit lanes: 16 bytes are 4
// cells written (byte 0 of each lane for the edges across, byte 2 for the
// others) among 12 kept. The draws are widened to 32 bits to line up.
template <> struct StagePasses<4> {
    static __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    static void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }
    static __m128i draws(const std::uint16_t *r)
    {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(r)), _mm_setzero_si128());
    }

    static void edgesAcross(std::uint8_t *target, const std::uint8_t *left, const std::uint8_t *right,
                            const std::uint16_t *r, int count, int step)
    {
        const __m128i byte0 = _mm_set1_epi32(0xFF), four = _mm_set1_epi32(4);
        int j = 0;
        for (; j + 4 < count; j += 4) {
            const __m128i sum =
                _mm_add_epi32(_mm_and_si128(load(left + 4 * j), byte0), _mm_and_si128(load(right + 4 * j), byte0));
            const __m128i value = _mm_sub_epi32(_mm_add_epi32(draws(r + j), _mm_srli_epi32(sum, 1)), four);
            store(target + 4 * j,
                  _mm_or_si128(_mm_and_si128(value, byte0), _mm_andnot_si128(byte0, load(target + 4 * j))));
        }
        StagePasses<0>::edgesAcross(target + 4 * j, left + 4 * j, right + 4 * j, r + j, count - j, step);
    }
    static void edgesDown(std::uint8_t *column, const std::uint16_t *r, int count, int step)
    {
        const __m128i byte0 = _mm_set1_epi32(0xFF), byte2 = _mm_set1_epi32(0xFF0000), four = _mm_set1_epi32(4);
        int j = 0;
        for (; j + 4 < count; j += 4) {
            const __m128i cells = load(column + 4 * j);
            const __m128i sum =
                _mm_add_epi32(_mm_and_si128(cells, byte0), _mm_and_si128(load(column + 4 * j + 4), byte0));
            const __m128i value = _mm_sub_epi32(_mm_add_epi32(draws(r + j), _mm_srli_epi32(sum, 1)), four);
            store(column + 4 * j,
                  _mm_or_si128(_mm_andnot_si128(byte2, cells), _mm_and_si128(_mm_slli_epi32(value, 16), byte2)));
        }
        StagePasses<0>::edgesDown(column + 4 * j, r + j, count - j, step);
    }
    static void centres(std::uint8_t *target, const std::uint8_t *left, const std::uint8_t *right,
                        const std::uint16_t *r, int count, int step)
    {
        const __m128i byte0 = _mm_set1_epi32(0xFF), byte2 = _mm_set1_epi32(0xFF0000), two = _mm_set1_epi32(2);
        int j = 0;
        for (; j + 4 < count; j += 4) {
            const __m128i lefts =
                _mm_add_epi32(_mm_and_si128(load(left + 4 * j), byte0), _mm_and_si128(load(left + 4 * j + 4), byte0));
            const __m128i rights =
                _mm_add_epi32(_mm_and_si128(load(right + 4 * j), byte0), _mm_and_si128(load(right + 4 * j + 4), byte0));
            const __m128i mean = _mm_srli_epi32(_mm_add_epi32(lefts, rights), 2);
            const __m128i value = _mm_sub_epi32(_mm_add_epi32(draws(r + j), mean), two);
            store(target + 4 * j, _mm_or_si128(_mm_andnot_si128(byte2, load(target + 4 * j)),
                                               _mm_and_si128(_mm_slli_epi32(value, 16), byte2)));
        }
        StagePasses<0>::centres(target + 4 * j, left + 4 * j, right + 4 * j, r + j, count - j, step);
    }
};
#endif

template <int Step> void runStage(World &w, DrawStream &draws, int step)
{
    using Passes = StagePasses<Step>;
    HeightGrid &g = w.Heights;
    const int s = step;
    const int h = s / 2;
    const int n = w.GridExtent / s;
    const auto edgeRange = static_cast<std::uint32_t>(2 * s + 1);
    const auto centreRange = static_cast<std::uint32_t>(2 * h + 1);
    const auto runOf = [](int count) { return static_cast<std::size_t>(count); };
    DrawRun r;

    // Within one pass no cell written is read again, so each outer step can
    // take its whole run of draws at once.
    for (int i = 0; i < n; ++i) {
        const int x = i * s;
        draws.next(r.data(), runOf(n + 1), edgeRange);
        Passes::edgesAcross(&g.at(x + h, 0), &g.at(x, 0), &g.at(x + s, 0), r.data(), n + 1, s);
    }
    for (int i = 0; i <= n; ++i) {
        draws.next(r.data(), runOf(n), edgeRange);
        Passes::edgesDown(&g.at(i * s, 0), r.data(), n, s);
    }
    // The centre pass reads multiples of s, the next stage multiples of h; on
    // the last stage (h = 1) every band cell is kept.
    WipeEdges(w, draws, h);
    for (int i = 0; i < n; ++i) {
        const int x = i * s;
        draws.next(r.data(), runOf(n), centreRange);
        Passes::centres(&g.at(x + h, 0), &g.at(x, 0), &g.at(x + s, 0), r.data(), n, s);
    }
}

void runStage(World &w, DrawStream &draws, int step)
{
    switch (step) {
    case 4:
        return runStage<4>(w, draws, step);
    default:
        return runStage<0>(w, draws, step);
    }
}

// Every wipe's band cells one column at a time, in the order of the draws:
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
        for (int x = x0; x <= x1; ++x) {
            if (!wanted(x)) {
                draws.skip(run);
                continue;
            }
            draws.next(r.data(), run, 40, base);
            store(x, y0, r.data(), run);
        }
    };
    setBand(e - width, e, 0, e); // right
    setBand(0, e, 0, width);     // top
    setBand(0, e, e - width, e); // bottom
    setBand(0, width, 0, e);     // left
}

// The last stage (step 2) sets three cells in four, and each of its passes
// every other cell of a column: on the grid, a pass would load a whole column
// to use half of it, one byte of two in every vector. Instead the stage works
// on four planes, one for each parity of x and y, where every pass runs along
// whole rows of bytes; at the end the planes are woven back into the grid
// with the clamp to the water, the one pass over every cell.
//
// Row i of a plane is grid column 2i (even planes) or 2i + 1 (odd ones), and
// its cell j is row 2j or 2j + 1 of that column, so each pass keeps the
// grid's order of draws.
struct LastStagePlanes {
    explicit LastStagePlanes(int extent, std::vector<std::uint8_t> &memory)
        : n(extent / 2), side(static_cast<std::size_t>(n + 1))
    {
        memory.resize(4 * side * side);
        evenEven = memory.data();
        oddEven = evenEven + side * side;
        evenOdd = oddEven + side * side;
        oddOdd = evenOdd + side * side;
    }
    std::uint8_t *row(std::uint8_t *plane, int i) const { return plane + static_cast<std::size_t>(i) * side; }

    int n;            // odd cells along an axis; n + 1 even ones
    std::size_t side; // the stride of every plane's rows
    std::uint8_t *evenEven, *oddEven, *evenOdd, *oddOdd;
};

// The loops are written plainly for the compiler to vectorise, and built once
// for AVX2 and once for the baseline, like the draws' (DrawStream.cpp).
inline __attribute__((always_inline)) void lastStageLoops(World &w, DrawStream &draws, const LastStagePlanes &p)
{
    HeightGrid &g = w.Heights;
    const int n = p.n;
    const auto count = [](int cells) { return static_cast<std::size_t>(cells); };
    DrawRun r;

    for (int i = 0; i <= n; ++i) {
        const std::uint8_t *column = &g.at(2 * i, 0);
        std::uint8_t *even = p.row(p.evenEven, i);
        for (int j = 0; j <= n; ++j)
            even[j] = column[2 * j];
    }
    for (int i = 0; i < n; ++i) {
        draws.next(r.data(), count(n + 1), 5);
        const std::uint8_t *left = p.row(p.evenEven, i), *right = p.row(p.evenEven, i + 1);
        std::uint8_t *target = p.row(p.oddEven, i);
        for (int j = 0; j <= n; ++j)
            target[j] = wrapHeight(r[static_cast<std::size_t>(j)] + (left[j] + right[j]) / 2 - 2);
    }
    for (int i = 0; i <= n; ++i) {
        draws.next(r.data(), count(n), 5);
        const std::uint8_t *column = p.row(p.evenEven, i);
        std::uint8_t *target = p.row(p.evenOdd, i);
        for (int j = 0; j < n; ++j)
            target[j] = wrapHeight(r[static_cast<std::size_t>(j)] + (column[j] + column[j + 1]) / 2 - 2);
    }
    // Bands start on even rows. The centres overwrite every odd-odd cell, so
    // of odd columns only the even rows are kept.
    wipeBands(
        w, draws, [](int) { return true; },
        [&](int x, int y0, const std::uint16_t *values, std::size_t run) {
            const int i = x / 2, j0 = y0 / 2;
            std::uint8_t *even = p.row(x % 2 == 0 ? p.evenEven : p.oddEven, i) + j0;
            for (std::size_t k = 0; 2 * k < run; ++k)
                even[k] = wrapHeight(values[2 * k]);
            if (x % 2 != 0)
                return;
            std::uint8_t *odd = p.row(p.evenOdd, i) + j0;
            for (std::size_t k = 0; 2 * k + 1 < run; ++k)
                odd[k] = wrapHeight(values[2 * k + 1]);
        });
    for (int i = 0; i < n; ++i) {
        draws.next(r.data(), count(n), 3);
        const std::uint8_t *left = p.row(p.evenEven, i), *right = p.row(p.evenEven, i + 1);
        std::uint8_t *target = p.row(p.oddOdd, i);
        for (int j = 0; j < n; ++j)
            target[j] = wrapHeight(r[static_cast<std::size_t>(j)] + (left[j] + left[j + 1] + right[j] + right[j + 1]) / 4 - 1);
    }

    // Afterwards every height plus the water offset lies in 0..255. Raising to
    // -offset only bites when the offset is negative, lowering to 255 - offset
    // only when it is positive, so one clamp to the pair of bounds does both.
    const int o = w.WaterOffset;
    const auto low = static_cast<std::uint8_t>(std::max(0, -o));
    const auto high = static_cast<std::uint8_t>(std::min(255, 255 - o));
    for (int x = 0; x <= 2 * n; ++x) {
        const int i = x / 2;
        const std::uint8_t *even = p.row(x % 2 == 0 ? p.evenEven : p.oddEven, i);
        const std::uint8_t *odd = p.row(x % 2 == 0 ? p.evenOdd : p.oddOdd, i);
        std::uint8_t *column = &g.at(x, 0);
        for (int j = 0; j < n; ++j) {
            column[2 * j] = std::min(std::max(even[j], low), high);
            column[2 * j + 1] = std::min(std::max(odd[j], low), high);
        }
        column[2 * n] = std::min(std::max(even[n], low), high);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void lastStageAvx2(World &w, DrawStream &draws, const LastStagePlanes &p)
{
    lastStageLoops(w, draws, p);
}
#endif

void lastStageBaseline(World &w, DrawStream &draws, const LastStagePlanes &p) { lastStageLoops(w, draws, p); }

void runLastStage(World &w, DrawStream &draws)
{
    // Kept from one generation to the next on each thread, as the grid is.
    thread_local std::vector<std::uint8_t> memory;
    const LastStagePlanes planes(w.GridExtent, memory);
#if defined(__x86_64__) && defined(__GNUC__)
    if (detail::processorHasAvx2())
        return lastStageAvx2(w, draws, planes);
#endif
    lastStageBaseline(w, draws, planes);
}

std::uint64_t squared(int v) { return static_cast<std::uint64_t>(v) * static_cast<std::uint64_t>(v); }

} // namespace

int blockSizeFor(std::string_view sizeName) { return knownBlockSize(sizeName).value_or(kWorldSizes.back().blockSize); }

void WipeEdges(World &w, DrawStream &draws, int readStep)
{
    wipeBands(
        w, draws, [readStep](int x) { return x % readStep == 0; },
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
    // Every map starts from an all-zero grid, so cells that no step sets
    // (a few on Medium maps) never carry heights over from an earlier map.
    w.Heights.resetZeroed(w.GridExtent);
    w.WaterOffset = -waterPosition;
    w.EdgeWidth = w.BlockSize;

    DrawStream draws(random.seedWord());
    seedLattice(w, draws);
    // The first stage reads only multiples of its step.
    WipeEdges(w, draws, firstStep(w.BlockSize));
    for (int step = firstStep(w.BlockSize); step != 2; step /= 2)
        runStage(w, draws, step);
    runLastStage(w, draws);
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
