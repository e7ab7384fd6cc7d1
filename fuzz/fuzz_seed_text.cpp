// Fuzzes the seed conversion against a second, deliberately different reading
// of the same rules: a character-class state machine that consumes one
// character at a time. Any disagreement on acceptance, value or message, any
// change of the state on a rejected text, or a crash, is a finding.

#include "SeededRandom.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

enum class CharClass { Space, Minus, Plus, Dollar, LetterX, Zero, Digit, HexLetter, Other };

CharClass classify(unsigned char c)
{
    if (c == ' ')
        return CharClass::Space;
    if (c == '-')
        return CharClass::Minus;
    if (c == '+')
        return CharClass::Plus;
    if (c == '$')
        return CharClass::Dollar;
    if (c == 'x' || c == 'X')
        return CharClass::LetterX;
    if (c == '0')
        return CharClass::Zero;
    if (c >= '1' && c <= '9')
        return CharClass::Digit;
    if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
        return CharClass::HexLetter;
    return CharClass::Other;
}

unsigned digitWorth(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return 10u + (c - 'a');
    return 10u + (c - 'A');
}

enum class State {
    Blanks,    // nothing but spaces so far
    SignSeen,  // a sign, waiting for its first digit
    LoneZero,  // a single leading 0: decimal so far, or the start of 0x
    Decimal,   // inside decimal digits
    HexPrefix, // a hex prefix, waiting for its first hex digit
    Hex,       // inside hex digits
    Failed,
};

// Returns the integer the text stands for, or nothing when it is rejected.
std::optional<std::int32_t> referenceConversion(std::string_view text)
{
    State state = State::Blanks;
    bool negative = false;
    std::uint64_t value = 0;

    const auto addDecimal = [&](unsigned char c) {
        if (value > 214748364u)
            return State::Failed;
        value = value * 10u + digitWorth(c);
        return State::Decimal;
    };
    const auto addHex = [&](unsigned char c) {
        if (value > 0x0FFFFFFFu)
            return State::Failed;
        value = value * 16u + digitWorth(c);
        return State::Hex;
    };

    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const CharClass cls = classify(c);
        switch (state) {
        case State::Blanks:
            switch (cls) {
            case CharClass::Space:
                break;
            case CharClass::Minus:
                negative = true;
                state = State::SignSeen;
                break;
            case CharClass::Plus:
                state = State::SignSeen;
                break;
            case CharClass::Dollar:
            case CharClass::LetterX:
                state = State::HexPrefix;
                break;
            case CharClass::Zero:
                state = State::LoneZero;
                break;
            case CharClass::Digit:
                state = addDecimal(c);
                break;
            default:
                state = State::Failed;
                break;
            }
            break;
        case State::SignSeen:
            state = (cls == CharClass::Zero || cls == CharClass::Digit) ? addDecimal(c) : State::Failed;
            break;
        case State::LoneZero:
            if (cls == CharClass::LetterX)
                state = State::HexPrefix;
            else if (cls == CharClass::Zero || cls == CharClass::Digit)
                state = addDecimal(c);
            else
                state = State::Failed;
            break;
        case State::Decimal:
            state = (cls == CharClass::Zero || cls == CharClass::Digit) ? addDecimal(c) : State::Failed;
            break;
        case State::HexPrefix:
        case State::Hex:
            state = (cls == CharClass::Zero || cls == CharClass::Digit || cls == CharClass::HexLetter) ? addHex(c)
                                                                                                       : State::Failed;
            break;
        case State::Failed:
            break;
        }
        if (state == State::Failed)
            return std::nullopt;
    }

    switch (state) {
    case State::LoneZero:
        return 0;
    case State::Decimal:
        if (negative) {
            if (value > 2147483648u)
                return std::nullopt;
            return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
        }
        if (value > 2147483647u)
            return std::nullopt;
        return static_cast<std::int32_t>(value);
    case State::Hex:
        // The 32 bits stand as they are; the top bit makes the number negative.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    default:
        return std::nullopt;
    }
}

[[noreturn]] void disagree(std::string_view text, const char *what)
{
    std::fprintf(stderr, "seed conversion disagreement (%s) on %zu bytes:", what, text.size());
    for (const char c : text)
        std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\n");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<std::int32_t> expected = referenceConversion(text);

    const std::optional<std::int32_t> parsed = terralume::parseSeedText(text);
    if (parsed.has_value() != expected.has_value())
        disagree(text, expected ? "product rejects an integer" : "product accepts a non-integer");
    if (parsed && *parsed != *expected)
        disagree(text, "different value");

    // The state must hold the loaded value, or stay as it was on a rejection.
    constexpr std::uint32_t kBefore = 0xA5A5A5A5u;
    terralume::SeededRandom random;
    random.setSeedWord(kBefore);
    try {
        random.LoadSeed(text);
        if (!expected)
            disagree(text, "LoadSeed accepts a non-integer");
        if (random.seedWord() != static_cast<std::uint32_t>(*expected))
            disagree(text, "LoadSeed stores a different word");
    } catch (const terralume::ConvertError &error) {
        if (expected)
            disagree(text, "LoadSeed rejects an integer");
        const std::string message = "'" + std::string(text) + "' is not a valid integer value";
        if (terralume::invalidSeedMessage(text) != message)
            disagree(text, "different message");
        // what() is a C string, so it can only be compared up to an embedded NUL.
        if (std::string_view(error.what()) != std::string_view(message).substr(0, message.find('\0')))
            disagree(text, "different message raised");
        if (random.seedWord() != kBefore)
            disagree(text, "a rejected text changed the state");
    }
    return 0;
}
