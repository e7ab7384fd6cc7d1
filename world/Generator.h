#pragma once
// The height-grid generator: midpoint displacement on a square lattice, with
// the four edge bands reset to sea before the first stage and in the middle of
// every stage. Every random number comes from the seeded source in a fixed
// order, so the seed, the size and the water position decide the world.

#include "HeightGrid.h"
#include "SeededRandom.h"
#include "WorldSettingsRules.h"

#include <cstdint>
#include <string_view>

namespace terralume {

class DrawStream;

// What one generation leaves behind; the map window and the renderer keep one
// for the whole run so the grid's memory is reused.
struct World {
    HeightGrid Heights;
    int BlockSize = 0;   // lattice step of the seeding: 16, 24 or 32
    int GridExtent = 0;  // BlockSize squared: the last index on both axes
    int EdgeWidth = 0;   // each edge band covers EdgeWidth + 1 cells across
    int WaterOffset = 0; // the water position negated

    // The height plus WaterOffset: the value that picks a cell's terrain band.
    int AdjustedHeight(int x, int y) const { return Heights.at(x, y) + WaterOffset; }
};

// The block size of a size of kWorldSizes; any other name is Large.
int blockSizeFor(std::string_view sizeName);

// Rebuilds `world` from an all-zero grid, drawing from `random` as it finds
// it; `random` is left advanced past the last draw. The grid's memory is kept
// from one generation to the next.
void GenerateHeights(World &world, std::string_view sizeName, int waterPosition, SeededRandom &random);

// The same generation into a world of its own.
World GenerateHeights(std::string_view sizeName, int waterPosition, SeededRandom &random);

// Resets the four edge bands to low random heights (sea), one draw per cell,
// right, top, bottom, left. Until the next reset only cells whose two indices
// are multiples of `readStep` (a power of two) are read, so columns off that
// lattice take their draws without storing them; readStep 1 stores every cell.
void WipeEdges(World &world, DrawStream &draws, int readStep = 1);

// How many draws a generation of this size makes; the same for every seed and
// water position.
std::uint64_t drawsPerGeneration(std::string_view sizeName);

} // namespace terralume
