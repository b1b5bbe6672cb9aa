#pragma once

// A second, deliberately plain reading of the set.ini integer rules, used to
// check ParseIniInteger: one pass over the characters through named states,
// 64-bit arithmetic throughout. It shares no code with the real conversion.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reference {

inline std::optional<std::int32_t> ParseIniInteger(std::wstring_view input)
{
    // "0x..." / "0X..." of three or more characters becomes "$...".
    std::wstring text(input);
    if (text.size() >= 3 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
        text = L"$" + text.substr(2);

    enum class State {
        Blanks,       // only blanks so far
        Signed,       // a sign was just read
        Zero,         // a lone leading "0": decimal zero or the start of "0x"
        HexPrefix,    // "$", "x", "X" or "0x" read, no digit yet
        HexDigits,    // at least one hex digit read
        DecimalDigits // at least one decimal digit read
    };

    State state = State::Blanks;
    bool minus = false;
    std::int64_t value = 0;
    int significantHex = 0;
    bool decimalTooBig = false;

    for (wchar_t ch : text) {
        const long long c = static_cast<long long>(ch);
        long long hex = -1;
        if (c >= '0' && c <= '9') hex = c - '0';
        else if (c >= 'a' && c <= 'f') hex = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') hex = c - 'A' + 10;
        const bool digit = c >= '0' && c <= '9';
        const bool hexMark = c == '$' || c == 'x' || c == 'X';

        switch (state) {
        case State::Blanks:
        case State::Signed:
            if (state == State::Blanks && c == ' ') {
                // stay
            } else if (state == State::Blanks && (c == '+' || c == '-')) {
                minus = c == '-';
                state = State::Signed;
            } else if (hexMark) {
                state = State::HexPrefix;
            } else if (c == '0') {
                state = State::Zero;
            } else if (digit) {
                value = c - '0';
                state = State::DecimalDigits;
            } else {
                return std::nullopt;
            }
            break;
        case State::Zero:
            if (c == 'x' || c == 'X') {
                state = State::HexPrefix;
            } else if (digit) {
                value = c - '0';
                state = State::DecimalDigits;
            } else {
                return std::nullopt;
            }
            break;
        case State::HexPrefix:
        case State::HexDigits:
            if (hex < 0)
                return std::nullopt;
            if (value != 0 || hex != 0)
                ++significantHex;
            if (significantHex > 8)
                return std::nullopt;
            value = value * 16 + hex;
            state = State::HexDigits;
            break;
        case State::DecimalDigits:
            if (!digit)
                return std::nullopt;
            if (!decimalTooBig) {
                value = value * 10 + (c - '0');
                if (value > 2147483648LL)
                    decimalTooBig = true;
            }
            break;
        }
    }

    switch (state) {
    case State::Zero:
        return 0;
    case State::DecimalDigits: {
        if (decimalTooBig)
            return std::nullopt;
        const std::int64_t signedValue = minus ? -value : value;
        if (signedValue < -2147483648LL || signedValue > 2147483647LL)
            return std::nullopt;
        return static_cast<std::int32_t>(signedValue);
    }
    case State::HexDigits: {
        // 32 bits taken as signed, then the sign applied modulo 2^32.
        std::int64_t asSigned = value >= 2147483648LL ? value - 4294967296LL : value;
        if (minus)
            asSigned = -asSigned;
        if (asSigned == 2147483648LL)
            asSigned = -2147483648LL;
        return static_cast<std::int32_t>(asSigned);
    }
    default:
        return std::nullopt;  // empty, blanks only, sign alone, prefix alone
    }
}

} // namespace reference
