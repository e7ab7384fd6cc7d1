#pragma once
// Square grid of byte heights, addressed as [x][y] with x the picture column
// and y the row, both 0..extent. Stored column by column: the generator's
// inner loops all run down a column, which then reads memory in order.

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

    // The cells keep whatever they held (0 where the grid grows), for a
    // caller that sets every cell before it reads it.
    void resize(int extent)
    {
        extent_ = extent;
        side_ = extent + 1;
        cells_.resize(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_));
    }

    int extent() const { return extent_; }
    int side() const { return side_; }

    std::uint8_t at(int x, int y) const { return cells_[index(x, y)]; }
    std::uint8_t &at(int x, int y) { return cells_[index(x, y)]; }

    // Column x holds the cells [x][0..extent], top to bottom.
    const std::uint8_t *column(int x) const { return cells_.data() + index(x, 0); }
    const std::uint8_t *data() const { return cells_.data(); }
    std::uint8_t *data() { return cells_.data(); }

private:
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(x) * static_cast<std::size_t>(side_) + static_cast<std::size_t>(y);
    }

    int extent_ = -1;
    int side_ = 0;
    std::vector<std::uint8_t> cells_;
};

} // namespace terralume
