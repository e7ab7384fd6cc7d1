#include "DrawStream.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

inline __attribute__((always_inline)) void advanceLoop(std::uint32_t *states, std::size_t count, detail::LcgJump jump)
{
    for (std::size_t i = 0; i < count; ++i)
        states[i] = states[i] * jump.multiplier + jump.increment;
}

inline __attribute__((always_inline)) void scaleLoop(const std::uint32_t *states, std::size_t count,
                                                     std::uint32_t range, std::uint16_t offset, std::uint16_t *out)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(scaleDraw(states[i], range) + offset);
}

#if defined(__SSE2__)
// The scaling in 16-bit multiplies, for ranges below 65536. With a state
// split into halves hi:lo, state * range >> 32 is the high half of
// hi * range plus the carry out of its low half added to the high half of
// lo * range. Seen as a 32-bit lane, mulhi(state) holds (hi * range) >> 16
// over (lo * range) >> 16, so adding the low half of hi * range (mullo's high
// half, shifted down) carries exactly that into the lane's high half, which
// is the draw. The 64-bit products the plain loop asks for need a shuffle a
// draw; these need none.
inline void scaleSse2(const std::uint32_t *states, std::size_t count, std::uint32_t range, std::uint16_t offset,
                      std::uint16_t *out)
{
    std::size_t i = 0;
    if (range < 0x10000) {
        const __m128i r = _mm_set1_epi16(static_cast<short>(range));
        const __m128i add = _mm_set1_epi16(static_cast<short>(offset));
        const auto draws = [&](std::size_t k) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(states + k));
            // Sign-extending the high half keeps it whole through the signed pack.
            return _mm_srai_epi32(_mm_add_epi32(_mm_mulhi_epu16(s, r), _mm_srli_epi32(_mm_mullo_epi16(s, r), 16)), 16);
        };
        for (; i + 8 <= count; i += 8) {
            const __m128i packed = _mm_packs_epi32(draws(i), draws(i + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_add_epi16(packed, add));
        }
    }
    scaleLoop(states + i, count - i, range, offset, out + i);
}
#endif

#ifdef TERRALUME_AVX2_PATH
// As scaleSse2's draws, eight at a time.
__attribute__((target("avx2"))) inline __m256i scaledLanesAvx2(const std::uint32_t *states, __m256i range)
{
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(states));
    return _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_mulhi_epu16(s, range), _mm256_srli_epi32(_mm256_mullo_epi16(s, range), 16)), 16);
}

__attribute__((target("avx2"))) void advanceAvx2(std::uint32_t *states, std::size_t count, detail::LcgJump jump)
{
    advanceLoop(states, count, jump);
}

__attribute__((target("avx2"))) void scaleAvx2(const std::uint32_t *states, std::size_t count, std::uint32_t range,
                                               std::uint16_t offset, std::uint16_t *out)
{
    std::size_t i = 0;
    if (range < 0x10000) {
        const __m256i r = _mm256_set1_epi16(static_cast<short>(range));
        const __m256i add = _mm256_set1_epi16(static_cast<short>(offset));
        for (; i + 16 <= count; i += 16) {
            // The pack works within 128-bit halves; the permute puts the draws back in order.
            const __m256i packed = _mm256_permute4x64_epi64(
                _mm256_packs_epi32(scaledLanesAvx2(states + i, r), scaledLanesAvx2(states + i + 8, r)), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_add_epi16(packed, add));
        }
    }
    scaleLoop(states + i, count - i, range, offset, out + i);
}

const bool kHasAvx2 = detail::processorHasAvx2();
#endif

void advanceAll(std::uint32_t *states, std::size_t count, detail::LcgJump jump)
{
#ifdef TERRALUME_AVX2_PATH
    if (kHasAvx2)
        return advanceAvx2(states, count, jump);
#endif
    advanceLoop(states, count, jump);
}

void scaleAll(const std::uint32_t *states, std::size_t count, std::uint32_t range, std::uint16_t offset,
              std::uint16_t *out)
{
#ifdef TERRALUME_AVX2_PATH
    if (kHasAvx2)
        return scaleAvx2(states, count, range, offset, out);
#endif
#if defined(__SSE2__)
    scaleSse2(states, count, range, offset, out);
#else
    scaleLoop(states, count, range, offset, out);
#endif
}

// Two affine maps one after the other: `first`, then `second`.
constexpr detail::LcgJump compose(detail::LcgJump first, detail::LcgJump second)
{
    return {first.multiplier * second.multiplier, first.increment * second.multiplier + second.increment};
}

// The map of `blocks` whole blocks, by squaring.
detail::LcgJump blocksJump(std::size_t blocks)
{
    detail::LcgJump result{1u, 0u}, power = kBlockJump;
    for (; blocks != 0; blocks >>= 1) {
        if (blocks & 1)
            result = compose(result, power);
        power = compose(power, power);
    }
    return result;
}

} // namespace

bool detail::processorHasAvx2()
{
#ifdef TERRALUME_AVX2_PATH
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

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
    advanceAll(states_.data(), kBlock, kBlockJump);
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
    if (count <= kBlock - pos_) {
        pos_ += count;
        return;
    }
    // A wipe passes over whole blocks at a time: one jump over all of them
    // costs what a single refill does. The last block skipped into is left
    // as a refill leaves it, its draws up to the new position taken.
    const std::size_t ahead = count - (kBlock - pos_);
    const std::size_t blocks = (ahead + kBlock - 1) / kBlock;
    advanceAll(states_.data(), kBlock, blocksJump(blocks));
    pos_ = ahead - (blocks - 1) * kBlock;
}

} // namespace terralume
