#pragma once
// Square grid of byte heights, addressed as [x][y] with x the picture column
// and y the row, both 0..extent. Stored row by row (picture order) so that
// colouring is one straight pass from grid to picture.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace terralume {

class HeightGrid {
public:
    // Every cell becomes 0; keeps the allocation when the size does not grow.
    void resetZeroed(int extent)
    {
        extent_ = extent;
        side_ = extent + 1;
        cells_.assign(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_), 0);
    }

    int extent() const { return extent_; }
    int side() const { return side_; }

    std::uint8_t at(int x, int y) const { return cells_[index(x, y)]; }
    std::uint8_t &at(int x, int y) { return cells_[index(x, y)]; }

    // Row y holds the cells [0..extent][y], left to right.
    const std::uint8_t *row(int y) const { return cells_.data() + index(0, y); }
    const std::uint8_t *data() const { return cells_.data(); }
    std::uint8_t *data() { return cells_.data(); }

private:
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(side_) + static_cast<std::size_t>(x);
    }

    int extent_ = -1;
    int side_ = 0;
    std::vector<std::uint8_t> cells_;
};

} // namespace terralume
