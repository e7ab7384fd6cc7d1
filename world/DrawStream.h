#pragma once
// The draws of one generation, produced ahead in independent lanes.
//
// A generation's draws form one long LCG sequence. Stepping it one state at a
// time is a chain of dependent multiplies; instead the stream holds kBlock
// consecutive states and advances every one of them by kBlock steps at once
// (state * a^kBlock + c_kBlock), which the compiler turns into vector
// multiplies. Draws are still handed out strictly in sequence order, so each
// one lands on the same cell as with RandomBelow. The stream only reads the
// source's state: whoever takes draws hands the stream's state back.

#include "SeededRandom.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace terralume {

namespace detail {

struct LcgJump {
    std::uint32_t multiplier;
    std::uint32_t increment;
};

// The affine map of `steps` LCG steps composed into one.
constexpr LcgJump lcgJump(std::uint32_t steps)
{
    LcgJump jump{1u, 0u};
    for (std::uint32_t i = 0; i < steps; ++i) {
        jump.multiplier *= kLcgMultiplier;
        jump.increment = jump.increment * kLcgMultiplier + kLcgIncrement;
    }
    return jump;
}

// Whether the loops built for AVX2 may run here: asked of the processor once.
bool processorHasAvx2();

} // namespace detail

class DrawStream {
public:
    static constexpr std::size_t kBlock = 512;

    // Draws on from a source's SeedWord: the first draw is the one its
    // RandomBelow would make next.
    explicit DrawStream(std::uint32_t seedWord);

    // The SeedWord after the last draw taken (the starting one before any),
    // where RandomBelow would have left the source.
    std::uint32_t seedWord() const { return pos_ == 0 ? start_ : states_[pos_ - 1]; }

    // The next draw below `range`, as RandomBelow(range) would give it.
    std::uint32_t next(std::uint32_t range)
    {
        if (pos_ == kBlock)
            refill();
        return scaleDraw(states_[pos_++], range);
    }

    // The next `count` draws below `range` (at most 65536) in order, each plus
    // `offset`, into `out`.
    void next(std::uint16_t *out, std::size_t count, std::uint32_t range, std::uint16_t offset = 0);

    // Passes over `count` draws whose values nobody needs.
    void skip(std::size_t count);

private:
    void refill();

    std::uint32_t start_;
    // Only 0 before the first draw: a refill happens just before a draw.
    std::size_t pos_ = 0;
    alignas(64) std::array<std::uint32_t, kBlock> states_{};
};

} // namespace terralume
