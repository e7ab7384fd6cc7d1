#include "Generator.h"

#include "DrawStream.h"

namespace terralume {

namespace {

// Heights are bytes: a displaced value below 0 or above 255 wraps round,
// which puts high land next to deep sea and is part of the maps' shapes.
inline std::uint8_t wrapHeight(int value) { return static_cast<std::uint8_t>(value); }

int firstStep(int blockSize) { return blockSize % 16 == 0 ? 4 * blockSize : 128; }

void seedLattice(World &w, DrawStream &draws)
{
    const int b = w.BlockSize;
    for (int i = 0; i <= b; ++i)
        for (int j = 0; j <= b; ++j)
            w.Heights.at(i * b, j * b) = wrapHeight(static_cast<int>(draws.next(128)) + 64);
}

void runStage(World &w, DrawStream &draws, int step)
{
    HeightGrid &g = w.Heights;
    const int s = step;
    const int h = s / 2;
    const int n = w.GridExtent / s;
    const auto edgeRange = static_cast<std::uint32_t>(2 * s + 1);
    const auto centreRange = static_cast<std::uint32_t>(2 * h + 1);

    for (int i = 0; i < n; ++i) {
        const int x = i * s;
        for (int j = 0; j <= n; ++j) {
            const int y = j * s;
            const int r = static_cast<int>(draws.next(edgeRange));
            g.at(x + h, y) = wrapHeight(r + (g.at(x, y) + g.at(x + s, y)) / 2 - s);
        }
    }
    for (int i = 0; i <= n; ++i) {
        const int x = i * s;
        for (int j = 0; j < n; ++j) {
            const int y = j * s;
            const int r = static_cast<int>(draws.next(edgeRange));
            g.at(x, y + h) = wrapHeight(r + (g.at(x, y) + g.at(x, y + s)) / 2 - s);
        }
    }
    WipeEdges(w, draws);
    for (int i = 0; i < n; ++i) {
        const int x = i * s;
        for (int j = 0; j < n; ++j) {
            const int y = j * s;
            const int r = static_cast<int>(draws.next(centreRange));
            const int m = (g.at(x, y) + g.at(x, y + s) + g.at(x + s, y) + g.at(x + s, y + s)) / 4;
            g.at(x + h, y + h) = wrapHeight(r + m - h);
        }
    }
}

void clampToWater(World &w)
{
    const int o = w.WaterOffset;
    std::uint8_t *cell = w.Heights.data();
    const std::size_t count = static_cast<std::size_t>(w.Heights.side()) * static_cast<std::size_t>(w.Heights.side());
    for (std::size_t k = 0; k < count; ++k) {
        if (cell[k] + o < 0)
            cell[k] = wrapHeight(-o);
        if (cell[k] + o > 255)
            cell[k] = wrapHeight(255 - o);
    }
}

std::uint64_t squared(int v) { return static_cast<std::uint64_t>(v) * static_cast<std::uint64_t>(v); }

} // namespace

int blockSizeFor(std::string_view sizeName)
{
    if (sizeName == "Small")
        return 16;
    if (sizeName == "Medium")
        return 24;
    return 32;
}

void WipeEdges(World &w, DrawStream &draws)
{
    HeightGrid &g = w.Heights;
    const int e = w.GridExtent;
    const int width = w.EdgeWidth;
    const int base = 80 - w.WaterOffset;
    const auto setBand = [&](int x0, int x1, int y0, int y1) {
        for (int x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y)
                g.at(x, y) = wrapHeight(static_cast<int>(draws.next(40)) + base);
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

    DrawStream draws(random);
    seedLattice(w, draws);
    WipeEdges(w, draws);
    for (int step = firstStep(w.BlockSize); step != 1; step /= 2)
        runStage(w, draws, step);
    clampToWater(w);
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
