#include "DrawStream.h"

#include <algorithm>

namespace terralume {

namespace {

constexpr detail::LcgJump kBlockJump = detail::lcgJump(DrawStream::kBlock);

// The loops are built twice, for AVX2 and for the baseline, and the AVX2 one
// is taken when the processor has it: eight 32-bit multiplies per
// instruction there, and the program still runs everywhere else. The choice
// is made by asking the processor rather than by an ELF ifunc, which PE
// (Windows) executables do not have.
#if defined(__x86_64__) && defined(__GNUC__)
#define TERRALUME_AVX2_PATH 1
#endif

inline __attribute__((always_inline)) void advanceLoop(std::uint32_t *states, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        states[i] = states[i] * kBlockJump.multiplier + kBlockJump.increment;
}

inline __attribute__((always_inline)) void scaleLoop(const std::uint32_t *states, std::size_t count,
                                                     std::uint32_t range, std::uint16_t offset, std::uint16_t *out)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(scaleDraw(states[i], range) + offset);
}

#ifdef TERRALUME_AVX2_PATH
__attribute__((target("avx2"))) void advanceAvx2(std::uint32_t *states, std::size_t count)
{
    advanceLoop(states, count);
}

__attribute__((target("avx2"))) void scaleAvx2(const std::uint32_t *states, std::size_t count, std::uint32_t range,
                                               std::uint16_t offset, std::uint16_t *out)
{
    scaleLoop(states, count, range, offset, out);
}

const bool kHasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

void advanceAll(std::uint32_t *states, std::size_t count)
{
#ifdef TERRALUME_AVX2_PATH
    if (kHasAvx2)
        return advanceAvx2(states, count);
#endif
    advanceLoop(states, count);
}

void scaleAll(const std::uint32_t *states, std::size_t count, std::uint32_t range, std::uint16_t offset,
              std::uint16_t *out)
{
#ifdef TERRALUME_AVX2_PATH
    if (kHasAvx2)
        return scaleAvx2(states, count, range, offset, out);
#endif
    scaleLoop(states, count, range, offset, out);
}

} // namespace

DrawStream::DrawStream(std::uint32_t seedWord) : start_(seedWord)
{
    std::uint32_t state = seedWord;
    for (auto &s : states_) {
        state = lcgStep(state);
        s = state;
    }
}

void DrawStream::refill()
{
    advanceAll(states_.data(), kBlock);
    pos_ = 0;
}

void DrawStream::next(std::uint16_t *out, std::size_t count, std::uint32_t range, std::uint16_t offset)
{
    while (count > 0) {
        if (pos_ == kBlock)
            refill();
        const std::size_t run = std::min(count, kBlock - pos_);
        scaleAll(states_.data() + pos_, run, range, offset, out);
        pos_ += run;
        out += run;
        count -= run;
    }
}

void DrawStream::skip(std::size_t count)
{
    if (count == 0)
        return;
    while (count > kBlock - pos_) {
        count -= kBlock - pos_;
        refill();
    }
    pos_ += count;
}

} // namespace terralume
