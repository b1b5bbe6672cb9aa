#include "settings/IniInteger.h"

namespace {

constexpr std::uint64_t kMaxMagnitude = 2147483648u;  // |INT32_MIN|
constexpr int kMaxHexDigits = 8;

bool IsDecimalDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Digit value 0..15, or -1 for anything else (non-ASCII look-alikes included).
int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return static_cast<int>(c - L'0');
    if (c >= L'A' && c <= L'F') return static_cast<int>(c - L'A') + 10;
    if (c >= L'a' && c <= L'f') return static_cast<int>(c - L'a') + 10;
    return -1;
}

bool IsX(wchar_t c) { return c == L'x' || c == L'X'; }

std::optional<std::uint32_t> ParseHexDigits(std::wstring_view digits)
{
    if (digits.empty())
        return std::nullopt;
    std::uint32_t bits = 0;
    int significant = 0;
    for (const wchar_t c : digits) {
        const int value = HexDigitValue(c);
        if (value < 0)
            return std::nullopt;
        if (significant == 0 && value == 0)
            continue;  // leading zeros do not count towards the 8 digits
        if (++significant > kMaxHexDigits)
            return std::nullopt;
        bits = (bits << 4) | static_cast<std::uint32_t>(value);
    }
    return bits;
}

// Magnitude of a decimal digit run, capped just above |INT32_MIN| so long
// runs cannot overflow; the caller rejects anything beyond the range.
std::optional<std::uint64_t> ParseDecimalDigits(std::wstring_view digits)
{
    if (digits.empty())
        return std::nullopt;
    std::uint64_t magnitude = 0;
    for (const wchar_t c : digits) {
        if (!IsDecimalDigit(c))
            return std::nullopt;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - L'0');
        if (magnitude > kMaxMagnitude)
            magnitude = kMaxMagnitude + 1;
    }
    return magnitude;
}

} // namespace

std::optional<std::int32_t> ParseIniInteger(std::wstring_view text)
{
    std::wstring rewritten;
    if (text.size() >= 3 && text[0] == L'0' && IsX(text[1])) {
        rewritten = L"$";
        rewritten.append(text.substr(2));
        text = rewritten;
    }

    std::size_t pos = text.find_first_not_of(L' ');
    if (pos == std::wstring_view::npos)
        return std::nullopt;  // empty or blanks only
    text.remove_prefix(pos);

    bool negative = false;
    if (text.front() == L'+' || text.front() == L'-') {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }

    std::size_t prefix = 0;
    if (!text.empty() && (text[0] == L'$' || IsX(text[0])))
        prefix = 1;
    else if (text.size() >= 2 && text[0] == L'0' && IsX(text[1]))
        prefix = 2;

    if (prefix != 0) {
        const auto bits = ParseHexDigits(text.substr(prefix));
        if (!bits)
            return std::nullopt;
        const std::uint32_t result = negative ? 0u - *bits : *bits;
        return static_cast<std::int32_t>(result);
    }

    const auto magnitude = ParseDecimalDigits(text);
    if (!magnitude || *magnitude > (negative ? kMaxMagnitude : kMaxMagnitude - 1))
        return std::nullopt;
    const std::int64_t value = negative ? -static_cast<std::int64_t>(*magnitude)
                                        : static_cast<std::int64_t>(*magnitude);
    return static_cast<std::int32_t>(value);
}

std::int32_t IniIntegerOr(std::wstring_view text, std::int32_t fallback)
{
    return ParseIniInteger(text).value_or(fallback);
}

std::wstring IniIntegerText(std::int32_t value)
{
    return std::to_wstring(value);
}
