#include "DrawStream.h"

#include <algorithm>

namespace terralume {

namespace {

constexpr detail::LcgJump kBlockJump = detail::lcgJump(DrawStream::kBlock);

// Built twice, for AVX2 and for the baseline, and chosen at load time: eight
// 32-bit multiplies per instruction where the processor has them, and the
// program still runs everywhere else.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define TERRALUME_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TERRALUME_VECTOR_CLONES
#endif

TERRALUME_VECTOR_CLONES
void advanceAll(std::uint32_t *states, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        states[i] = states[i] * kBlockJump.multiplier + kBlockJump.increment;
}

TERRALUME_VECTOR_CLONES
void scaleAll(const std::uint32_t *states, std::size_t count, std::uint32_t range, std::uint16_t offset,
              std::uint16_t *out)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(scaleDraw(states[i], range) + offset);
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
