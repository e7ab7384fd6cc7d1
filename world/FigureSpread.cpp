#include "FigureSpread.h"

#include <algorithm>

namespace terralume {

namespace {

constexpr int kLandmassBits = 18;
constexpr std::uint32_t kLandmassMask = (1u << kLandmassBits) - 1;

std::int64_t landOf(std::uint32_t world) { return world >> kLandmassBits; }
int landmassesOf(std::uint32_t world) { return static_cast<int>(world & kLandmassMask); }

} // namespace

void FigureSpread::see(const WorldFigures &figures)
{
    if (worlds_.size() == kMostWorlds)
        return;
    const std::int64_t land = percentHundredths(figures.landCells, figures.cells);
    const auto landmasses = std::min<std::uint32_t>(static_cast<std::uint32_t>(figures.landmasses), kLandmassMask);
    const std::uint32_t world = static_cast<std::uint32_t>(land) << kLandmassBits | landmasses;
    if (worlds_.empty()) {
        land_ = {land, land};
        landmasses_ = {landmasses, landmasses};
    }
    land_ = {std::min(land_.lowest, land), std::max(land_.highest, land)};
    landmasses_ = {std::min<std::int64_t>(landmasses_.lowest, landmasses),
                   std::max<std::int64_t>(landmasses_.highest, landmasses)};
    worlds_.push_back(world);
}

std::int64_t FigureSpread::accepted(const FigureFilter &filter) const
{
    return std::count_if(worlds_.begin(), worlds_.end(), [&](std::uint32_t world) {
        const std::int64_t land = landOf(world);
        const int landmasses = landmassesOf(world);
        return land >= filter.landLowest && land <= filter.landHighest && landmasses >= filter.landmassesLowest &&
               landmasses <= filter.landmassesHighest;
    });
}

std::int64_t FigureSpread::landUpperQuartile() const
{
    if (worlds_.empty())
        return 0;
    std::vector<std::int64_t> land(worlds_.size());
    std::transform(worlds_.begin(), worlds_.end(), land.begin(), landOf);
    // At least a quarter lie at or above the value at this place.
    const auto place = land.begin() + static_cast<std::ptrdiff_t>(land.size() - (land.size() + 3) / 4);
    std::nth_element(land.begin(), place, land.end());
    return *place;
}

int FigureSpread::landmassesLowerQuartile() const
{
    if (worlds_.empty())
        return 0;
    std::vector<int> landmasses(worlds_.size());
    std::transform(worlds_.begin(), worlds_.end(), landmasses.begin(), landmassesOf);
    const auto place = landmasses.begin() + static_cast<std::ptrdiff_t>((landmasses.size() + 3) / 4 - 1);
    std::nth_element(landmasses.begin(), place, landmasses.end());
    return *place;
}

std::int64_t roughlyOneIn(std::int64_t accepted, std::int64_t seen)
{
    // Integers only: the rounding must not hang on how a machine rounds a double.
    std::int64_t oneIn = (seen + accepted / 2) / accepted, unit = 1;
    while (oneIn / unit >= 100)
        unit *= 10;
    oneIn = (oneIn + unit / 2) / unit * unit;
    return std::max<std::int64_t>(oneIn, 1);
}

} // namespace terralume
