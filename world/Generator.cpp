#include "Generator.h"

#include "DrawStream.h"

#include <algorithm>
#include <array>

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
// The last stage writes three cells in four, each pass every other cell of a
// column: stored one by one, those writes were most of a generation. Here 16
// bytes of a column are 8 cells the pass writes (the high bytes of 16-bit
// lanes on this little-endian processor) and 8 it only reads (the low
// bytes), so a pass computes 8 cells at once and stores them with their
// neighbours unchanged. The arithmetic is the generic one's in 16 bits, which
// holds every sum here, cut to a byte as wrapHeight does.
template <> struct StagePasses<2> {
    static __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    static void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

    static void edgesAcross(std::uint8_t *target, const std::uint8_t *left, const std::uint8_t *right,
                            const std::uint16_t *r, int count, int step)
    {
        const __m128i low = _mm_set1_epi16(0x00FF), two = _mm_set1_epi16(2);
        int j = 0;
        // Up to the last whole 16 bytes of a column of 2 * count - 1 cells.
        for (; j + 8 < count; j += 8) {
            const __m128i sum =
                _mm_add_epi16(_mm_and_si128(load(left + 2 * j), low), _mm_and_si128(load(right + 2 * j), low));
            const __m128i value = _mm_sub_epi16(_mm_add_epi16(load(r + j), _mm_srli_epi16(sum, 1)), two);
            store(target + 2 * j, _mm_or_si128(_mm_and_si128(value, low), _mm_andnot_si128(low, load(target + 2 * j))));
        }
        StagePasses<0>::edgesAcross(target + 2 * j, left + 2 * j, right + 2 * j, r + j, count - j, step);
    }
    static void edgesDown(std::uint8_t *column, const std::uint16_t *r, int count, int step)
    {
        const __m128i low = _mm_set1_epi16(0x00FF), two = _mm_set1_epi16(2);
        int j = 0;
        // The cell below each written one is read from 2 bytes on: the last
        // load ends at the column's last cell.
        for (; j + 8 < count; j += 8) {
            const __m128i here = _mm_and_si128(load(column + 2 * j), low);
            const __m128i below = _mm_and_si128(load(column + 2 * j + 2), low);
            const __m128i sum = _mm_add_epi16(here, below);
            const __m128i value = _mm_sub_epi16(_mm_add_epi16(load(r + j), _mm_srli_epi16(sum, 1)), two);
            store(column + 2 * j, _mm_or_si128(here, _mm_slli_epi16(value, 8)));
        }
        StagePasses<0>::edgesDown(column + 2 * j, r + j, count - j, step);
    }
    static void centres(std::uint8_t *target, const std::uint8_t *left, const std::uint8_t *right,
                        const std::uint16_t *r, int count, int step)
    {
        const __m128i low = _mm_set1_epi16(0x00FF), one = _mm_set1_epi16(1);
        int j = 0;
        for (; j + 8 < count; j += 8) {
            const __m128i lefts =
                _mm_add_epi16(_mm_and_si128(load(left + 2 * j), low), _mm_and_si128(load(left + 2 * j + 2), low));
            const __m128i rights =
                _mm_add_epi16(_mm_and_si128(load(right + 2 * j), low), _mm_and_si128(load(right + 2 * j + 2), low));
            const __m128i mean = _mm_srli_epi16(_mm_add_epi16(lefts, rights), 2);
            const __m128i value = _mm_sub_epi16(_mm_add_epi16(load(r + j), mean), one);
            store(target + 2 * j, _mm_or_si128(_mm_and_si128(load(target + 2 * j), low), _mm_slli_epi16(value, 8)));
        }
        StagePasses<0>::centres(target + 2 * j, left + 2 * j, right + 2 * j, r + j, count - j, step);
    }
};

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
    case 2:
        return runStage<2>(w, draws, step);
    case 4:
        return runStage<4>(w, draws, step);
    default:
        return runStage<0>(w, draws, step);
    }
}

// Afterwards every height plus the water offset lies in 0..255. Raising to
// -offset only bites when the offset is negative, lowering to 255 - offset
// only when it is positive, so one clamp to the pair of bounds does both.
void clampToWater(World &w)
{
    const int o = w.WaterOffset;
    const auto low = static_cast<std::uint8_t>(std::max(0, -o));
    const auto high = static_cast<std::uint8_t>(std::min(255, 255 - o));
    std::uint8_t *cell = w.Heights.data();
    const std::size_t count = static_cast<std::size_t>(w.Heights.side()) * static_cast<std::size_t>(w.Heights.side());
    for (std::size_t k = 0; k < count; ++k)
        cell[k] = std::min(std::max(cell[k], low), high);
}

std::uint64_t squared(int v) { return static_cast<std::uint64_t>(v) * static_cast<std::uint64_t>(v); }

} // namespace

int blockSizeFor(std::string_view sizeName) { return knownBlockSize(sizeName).value_or(kWorldSizes.back().blockSize); }

void WipeEdges(World &w, DrawStream &draws, int readStep)
{
    HeightGrid &g = w.Heights;
    const int e = w.GridExtent;
    const int width = w.EdgeWidth;
    // 40..159 whatever the water offset: never wraps.
    const auto base = static_cast<std::uint16_t>(80 - w.WaterOffset);
    DrawRun r;
    const auto setBand = [&](int x0, int x1, int y0, int y1) {
        const auto run = static_cast<std::size_t>(y1 - y0 + 1);
        for (int x = x0; x <= x1; ++x) {
            if (x % readStep != 0) {
                draws.skip(run);
                continue;
            }
            draws.next(r.data(), run, 40, base);
            // Down one column from a pointer, so the loop is a plain narrowing copy.
            std::uint8_t *cell = &g.at(x, y0);
            for (std::size_t k = 0; k < run; ++k)
                cell[k] = wrapHeight(r[k]);
        }
    };
    setBand(e - width, e, 0, e); // right
    setBand(0, e, 0, width);     // top
    setBand(0, e, e - width, e); // bottom
    setBand(0, width, 0, e);     // left
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
    for (int step = firstStep(w.BlockSize); step != 1; step /= 2)
        runStage(w, draws, step);
    clampToWater(w);
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
