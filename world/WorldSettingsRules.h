#pragma once
// What a world's settings may be and what they start as, for every reader:
// the settings window, the generator, the picture record and the renderer.

#include <array>
#include <optional>
#include <string_view>

namespace terralume {

struct WorldSize {
    std::string_view name;
    int blockSize; // the lattice step; the grid's extent is its square
};

// In the order the settings window lists them. Names compare exactly.
inline constexpr std::array kWorldSizes{WorldSize{"Small", 16}, WorldSize{"Medium", 24}, WorldSize{"Large", 32}};

// The block size of a size of kWorldSizes, nothing for any other name.
constexpr std::optional<int> knownBlockSize(std::string_view sizeName)
{
    for (const WorldSize &size : kWorldSizes)
        if (size.name == sizeName)
            return size.blockSize;
    return std::nullopt;
}

// Water and heat positions run from -kLevelLimit to kLevelLimit.
inline constexpr int kLevelLimit = 40;
// The most characters a seed holds, as Qt counts them (UTF-16 units): the
// settings window's field holds no more, so no longer seed could be typed again.
inline constexpr int kSeedTextLimit = 8;
inline constexpr int kLowestZoom = 1, kHighestZoom = 5;

inline constexpr std::string_view kDefaultSize = kWorldSizes.front().name, kDefaultSeedText = "42861244";
inline constexpr int kDefaultWater = 0, kDefaultHeat = 0;

} // namespace terralume
