#pragma once
// What the worlds looked at at one size and water were like: the range of
// each figure, how many a filter would take, and the figures a quarter of
// them reach, so that a person asks for what there is.

#include "WorldSearch.h"

#include <cstdint>
#include <vector>

namespace terralume {

class FigureSpread {
public:
    // Worlds kept at most (16 MiB); beyond, the first stand for the rest.
    static constexpr std::size_t kMostWorlds = std::size_t{1} << 22;

    struct Range {
        std::int64_t lowest = 0, highest = 0;
    };

    void see(const WorldFigures &figures);
    std::int64_t worlds() const { return static_cast<std::int64_t>(worlds_.size()); }

    // Both empty ranges while no world has been seen. Land in hundredths of
    // a percent, as FigureFilter has it.
    Range land() const { return land_; }
    Range landmasses() const { return landmasses_; }

    // Worlds seen that `filter` takes.
    std::int64_t accepted(const FigureFilter &filter) const;

    // The land share a quarter of the worlds seen reach or pass, and the
    // landmasses a quarter have or fewer; 0 while none was seen.
    std::int64_t landUpperQuartile() const;
    int landmassesLowerQuartile() const;

private:
    // Land hundredths (14 bits) over landmasses (18 bits), capped there:
    // four bytes a world keep millions of them.
    std::vector<std::uint32_t> worlds_;
    Range land_, landmasses_;
};

// `seen` / `accepted` to two significant figures, as a rarity is told
// ("about 1 in 48,000"): an estimate from a sample is worth no more. At
// least 1; `accepted` must be above 0.
std::int64_t roughlyOneIn(std::int64_t accepted, std::int64_t seen);

} // namespace terralume
