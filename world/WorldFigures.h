#pragma once
// The figures that tell one world from another at a glance: how much of it is
// land, in how many landmasses, how large the largest is and how high the land
// rises. Land is what the colouring paints as lowland or upland.

#include <cstdint>
#include <string>
#include <vector>

namespace terralume {

struct World;

// The lowest adjusted height the colouring paints as lowland; the coast band
// just below it (126 and 127) is shore, not land.
inline constexpr int kLowestLandHeight = 128;
// A 4-connected region of land counts as a landmass from this many cells up;
// anything smaller is an islet that a search should not count.
inline constexpr int kLandmassCells = 16;

struct WorldFigures {
    std::int64_t cells = 0; // every cell of the grid
    std::int64_t landCells = 0;
    int landmasses = 0;
    std::int64_t largestCells = 0; // of the largest landmass; 0 when there is none
    int highest = 0;               // the largest adjusted height

    friend bool operator==(const WorldFigures &, const WorldFigures &) = default;
};

// part / whole in hundredths of a percent, rounded half away from zero from
// the exact ratio: a figure read from a decimal rounding of a double could
// round a tie either way.
std::int64_t percentHundredths(std::int64_t part, std::int64_t whole);

// The same as text with two decimals: "41.07".
std::string percentText(std::int64_t part, std::int64_t whole);

// Counts figures, keeping its working memory from one world to the next: a
// search counts many worlds one after another on each thread.
class FigureCounter {
public:
    WorldFigures count(const World &world);

private:
    std::vector<std::uint64_t> mask_;   // land bits, column by column
    std::vector<std::uint64_t> starts_; // run starts of two columns' words
    std::vector<std::uint32_t> parent_; // of each run's label
    std::vector<std::int64_t> size_;    // of each root's region
};

// The figures of one world with a counter of its own.
WorldFigures worldFigures(const World &world);

} // namespace terralume
