#include "DrawStream.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace terralume {

namespace {

// Entry k is the map of k + 1 steps, multipliers and increments apart so
// that eight of each load as one vector.
struct JumpTable {
    std::array<std::uint32_t, DrawStream::kBlock> multiplier, increment;
};

constexpr JumpTable makeJumpTable()
{
    JumpTable table{};
    detail::LcgJump jump{1u, 0u};
    for (std::size_t k = 0; k < DrawStream::kBlock; ++k) {
        jump.multiplier *= kLcgMultiplier;
        jump.increment = jump.increment * kLcgMultiplier + kLcgIncrement;
        table.multiplier[k] = jump.multiplier;
        table.increment[k] = jump.increment;
    }
    return table;
}

alignas(32) constexpr JumpTable kJumps = makeJumpTable();

// The loops are built twice, for AVX2 and for the baseline, and the AVX2 one
// is taken when the processor has it: eight 32-bit multiplies per
// instruction there, and the program still runs everywhere else. The choice
// is made by asking the processor rather than by an ELF ifunc, which PE
// (Windows) executables do not have.
#if defined(__x86_64__) && defined(__GNUC__)
#define TERRALUME_AVX2_PATH 1
#endif

// The state of draw k + 1 counted from `state`.
inline std::uint32_t stateAfter(std::uint32_t state, std::size_t k)
{
    return state * kJumps.multiplier[k] + kJumps.increment[k];
}

inline void drawLoop(std::uint32_t state, std::size_t first, std::size_t count, std::uint32_t range,
                     std::uint16_t offset, std::uint16_t *out)
{
    for (std::size_t k = first; k < count; ++k)
        out[k] = static_cast<std::uint16_t>(scaleDraw(stateAfter(state, k), range) + offset);
}

#ifdef TERRALUME_AVX2_PATH
// Eight draws' states from the table, then the draws scaled in 16-bit
// multiplies, for ranges below 65536. With a state split into halves hi:lo,
// state * range >> 32 is the high half of hi * range plus the carry out of its
// low half added to the high half of lo * range. Seen as a 32-bit lane, mulhi(state) holds (hi * range) >> 16
// over (lo * range) >> 16, so adding the low half of hi * range (mullo's high
// half, shifted down) carries exactly that into the lane's high half, which
// is the draw. The 64-bit products the plain scaling asks for need a shuffle
// a draw; these need none. The draws come out sign-extended from the high
// halves so that a signed pack keeps them whole.
__attribute__((target("avx2"))) inline __m256i drawLanesAvx2(__m256i state, std::size_t k, __m256i range)
{
    const __m256i multiplier = _mm256_load_si256(reinterpret_cast<const __m256i *>(kJumps.multiplier.data() + k));
    const __m256i increment = _mm256_load_si256(reinterpret_cast<const __m256i *>(kJumps.increment.data() + k));
    const __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(state, multiplier), increment);
    return _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_mulhi_epu16(s, range), _mm256_srli_epi32(_mm256_mullo_epi16(s, range), 16)), 16);
}

__attribute__((target("avx2"))) void drawsAvx2(std::uint32_t state, std::size_t count, std::uint32_t range,
                                               std::uint16_t offset, std::uint16_t *out)
{
    std::size_t k = 0;
    if (range < 0x10000) {
        const __m256i from = _mm256_set1_epi32(static_cast<int>(state));
        const __m256i r = _mm256_set1_epi16(static_cast<short>(range));
        const __m256i add = _mm256_set1_epi16(static_cast<short>(offset));
        for (; k + 16 <= count; k += 16) {
            // The pack works within 128-bit halves; the permute puts the draws back in order.
            const __m256i packed = _mm256_permute4x64_epi64(
                _mm256_packs_epi32(drawLanesAvx2(from, k, r), drawLanesAvx2(from, k + 8, r)), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + k), _mm256_add_epi16(packed, add));
        }
    }
    drawLoop(state, k, count, range, offset, out);
}

const bool kHasAvx2 = detail::processorHasAvx2();
#endif

// Draws 1..count from `state`, at most kBlock of them.
void drawsFrom(std::uint32_t state, std::size_t count, std::uint32_t range, std::uint16_t offset, std::uint16_t *out)
{
#ifdef TERRALUME_AVX2_PATH
    if (kHasAvx2)
        return drawsAvx2(state, count, range, offset, out);
#endif
    drawLoop(state, 0, count, range, offset, out);
}

} // namespace

bool detail::processorHasAvx2()
{
#ifdef TERRALUME_AVX2_PATH
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("bmi") != 0 &&
               __builtin_cpu_supports("popcnt") != 0;
    }();
    return has;
#else
    return false;
#endif
}

void DrawStream::next(std::uint16_t *out, std::size_t count, std::uint32_t range, std::uint16_t offset)
{
    while (count > 0) {
        const std::size_t run = std::min(count, kBlock);
        drawsFrom(state_, run, range, offset, out);
        state_ = stateAfter(state_, run - 1);
        out += run;
        count -= run;
    }
}

void DrawStream::skip(std::size_t count)
{
    for (; count > kBlock; count -= kBlock)
        state_ = stateAfter(state_, kBlock - 1);
    if (count > 0)
        state_ = stateAfter(state_, count - 1);
}

} // namespace terralume
