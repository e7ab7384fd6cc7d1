#pragma once
// The draws of one generation, computed in independent lanes.
//
// A generation's draws form one long LCG sequence. Stepping it one state at a
// time is a chain of dependent multiplies; instead the stream keeps only the
// state after the last draw taken, and the states of the next kBlock draws
// are each that state through the composed map of 1..kBlock steps (state *
// a^k + c_k, from a table), which the compiler turns into vector multiplies.
// Draws are still handed out strictly in sequence order, so each one lands
// on the same cell as with RandomBelow, and passing over draws costs one
// multiply per kBlock of them: only the draws taken are computed. The stream
// only reads the source's state: whoever takes draws hands the stream's
// state back.

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

// Whether the loops built for AVX2 may run here, with the population and
// trailing-zero counts such processors have: asked of the processor once.
bool processorHasAvx2();

} // namespace detail

class DrawStream {
public:
    // Draws computed from one state: the longest column and a little more.
    static constexpr std::size_t kBlock = 1032;

    // Draws on from a source's SeedWord: the first draw is the one its
    // RandomBelow would make next.
    explicit DrawStream(std::uint32_t seedWord) : state_(seedWord) {}

    // The SeedWord after the last draw taken (the starting one before any),
    // where RandomBelow would have left the source.
    std::uint32_t seedWord() const { return state_; }

    // The next draw below `range`, as RandomBelow(range) would give it.
    std::uint32_t next(std::uint32_t range)
    {
        state_ = lcgStep(state_);
        return scaleDraw(state_, range);
    }

    // The next `count` draws below `range` (at most 65536) in order, each plus
    // `offset`, into `out`.
    void next(std::uint16_t *out, std::size_t count, std::uint32_t range, std::uint16_t offset = 0);

    // Passes over `count` draws whose values nobody needs.
    void skip(std::size_t count);

private:
    std::uint32_t state_;
};

} // namespace terralume
