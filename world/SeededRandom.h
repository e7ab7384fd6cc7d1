#pragma once
// The one pseudo-random source of a map: a 32-bit linear congruential
// generator whose whole state is SeedWord. Integer arithmetic only, so every
// machine draws the same sequence.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace terralume {

// Raised when a seed text is not an integer; the message is the one the user
// sees in the error box (without the full stop the box adds).
class ConvertError : public std::runtime_error {
public:
    explicit ConvertError(const std::string &message) : std::runtime_error(message) {}
};

// The seed conversion rules: leading blanks, an optional sign with decimal
// digits, or a hexadecimal prefix ($, x, X, 0x, 0X) with hex digits.
// Empty when the text is not a valid integer.
std::optional<std::int32_t> parseSeedText(std::string_view text);

// "'<text>' is not a valid integer value"
std::string invalidSeedMessage(std::string_view text);

inline constexpr std::uint32_t kLcgMultiplier = 134775813u; // 0x08088405
inline constexpr std::uint32_t kLcgIncrement = 1u;

constexpr std::uint32_t lcgStep(std::uint32_t state) { return state * kLcgMultiplier + kLcgIncrement; }

// The integer part of state * range / 2^32.
constexpr std::uint32_t scaleDraw(std::uint32_t state, std::uint32_t range)
{
    return static_cast<std::uint32_t>((std::uint64_t{state} * range) >> 32);
}

class SeededRandom {
public:
    // Throws ConvertError and leaves SeedWord unchanged when the text is rejected.
    void LoadSeed(std::string_view text);

    // Advances the state, then scales the new state into 0..range-1.
    std::uint32_t RandomBelow(std::uint32_t range)
    {
        SeedWord = lcgStep(SeedWord);
        return scaleDraw(SeedWord, range);
    }

    std::uint32_t seedWord() const { return SeedWord; }
    void setSeedWord(std::uint32_t word) { SeedWord = word; }

private:
    std::uint32_t SeedWord = 0;
};

} // namespace terralume
