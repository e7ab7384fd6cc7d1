#include "SeededRandom.h"

namespace terralume {

namespace {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<std::int32_t> parseHex(std::string_view digits)
{
    if (digits.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0 || value > 0x0FFFFFFFu)
            return std::nullopt;
        value = value * 16u + static_cast<std::uint32_t>(d);
    }
    // All 32 bits are taken as they are: 0x80000000 and above are negative.
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> parseDecimal(std::string_view digits, bool negative)
{
    if (digits.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : digits) {
        if (!isDecimalDigit(c) || value > 214748364)
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace

std::optional<std::int32_t> parseSeedText(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    const std::string_view rest = text.substr(pos);
    if (rest.empty())
        return std::nullopt;

    if (rest[0] == '-' || rest[0] == '+')
        return parseDecimal(rest.substr(1), rest[0] == '-');
    if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')
        return parseHex(rest.substr(1));
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
        return parseHex(rest.substr(2));
    return parseDecimal(rest, false);
}

std::string invalidSeedMessage(std::string_view text)
{
    std::string message = "'";
    message.append(text);
    message.append("' is not a valid integer value");
    return message;
}

void SeededRandom::LoadSeed(std::string_view text)
{
    const auto value = parseSeedText(text);
    if (!value)
        throw ConvertError(invalidSeedMessage(text));
    SeedWord = static_cast<std::uint32_t>(*value);
}

} // namespace terralume
