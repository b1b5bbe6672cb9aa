#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fuzz/ReferenceIniInteger.h"
#include "settings/IniInteger.h"

namespace {

using Result = std::optional<std::int32_t>;
constexpr Result kFails = std::nullopt;

struct ConversionCase {
    const wchar_t* text;
    Result expected;
};

// One table for the whole conversion, checked against both the real
// conversion and the reference model, so neither can drift on these.
const ConversionCase kConversionCases[] = {
    // hexadecimal prefixes
    {L"0x64", 100}, {L"0X64", 100}, {L"$64", 100}, {L"x64", 100}, {L"X64", 100},
    {L"$abcdef", 0xABCDEF}, {L"$aBcD", 0xABCD}, {L"0xg", kFails}, {L"$G", kFails},
    // decimal and range
    {L"100", 100}, {L"0", 0}, {L"-0", 0}, {L"007", 7},
    {L"2147483647", INT32_MAX}, {L"-2147483648", INT32_MIN},
    {L"2147483648", kFails}, {L"-2147483649", kFails},
    // must not wrap round into range: 2^32 + 5 and 2^64 + 5
    {L"4294967295", kFails}, {L"4294967296", kFails}, {L"4294967301", kFails},
    {L"18446744073709551621", kFails}, {L"-18446744073709551621", kFails},
    {L"99999999999999999999999", kFails},
    {L"00000000000000000000042", 42},
    // hexadecimal width: 8 significant digits, two's complement
    {L"FFFFFFFF", kFails}, {L"$FFFFFFFF", -1}, {L"0xFFFFFFFF", -1},
    {L"$80000000", INT32_MIN}, {L"$7FFFFFFF", INT32_MAX},
    {L"$100000000", kFails}, {L"$000000001", 1}, {L"$0000000FFFFFFFF", -1},
    {L"$00000000000", 0}, {L"$0", 0},
    // signs
    {L"+7", 7}, {L"-$1", -1}, {L"-0x10", -16}, {L"+0X10", 16},
    {L"-$FFFFFFFF", 1}, {L"-$80000000", INT32_MIN}, {L"   -0x80000000", INT32_MIN},
    {L"- 7", kFails}, {L"--1", kFails}, {L"+-1", kFails}, {L"-+1", kFails},
    {L"- $1", kFails}, {L"$-1", kFails}, {L"0x-1", kFails},
    // alone
    {L"", kFails}, {L" ", kFails}, {L"   ", kFails}, {L"+", kFails}, {L"-", kFails},
    {L"$", kFails}, {L"x", kFails}, {L"0x", kFails}, {L"0X", kFails}, {L"-$", kFails},
    {L" 0x", kFails}, {L"+x", kFails},
    // blanks: leading U+0020 only, nothing after the number
    {L"  42", 42}, {L" 0x10", 16}, {L"100 ", kFails}, {L"0x1 ", kFails},
    {L"\t5", kFails}, {L"5\t", kFails}, {L"\u00A05", kFails}, {L"\u30005", kFails},
    {L"$ 1", kFails}, {L"x 1", kFails},
    // anything else after or inside the number
    {L"100px", kFails}, {L"1e3", kFails}, {L"1.0", kFails}, {L"1,000", kFails},
    {L"0x0x1", kFails}, {L"00x1", kFails}, {L"x$1", kFails}, {L"$$1", kFails},
    // digits that are not ASCII
    {L"\uFF15", kFails}, {L"\u0665", kFails}, {L"$\uFF21", kFails},
};

TEST(IniInteger, ConversionTable)
{
    for (const auto& c : kConversionCases) {
        SCOPED_TRACE(testing::Message() << "text L\"" << c.text << "\"");
        EXPECT_EQ(ParseIniInteger(c.text), c.expected);
        EXPECT_EQ(reference::ParseIniInteger(c.text), c.expected) << "reference model";
    }
}

TEST(IniInteger, FallbackOnlyWhenConversionFails)
{
    EXPECT_EQ(IniIntegerOr(L"100px", 0), 0);
    EXPECT_EQ(IniIntegerOr(L"", 17), 17);
    EXPECT_EQ(IniIntegerOr(L"-5", 17), -5);
    EXPECT_EQ(IniIntegerOr(L"0", 17), 0);
}

TEST(IniInteger, TextIsPlainDecimalAndReadsBack)
{
    const struct { std::int32_t value; const wchar_t* text; } cases[] = {
        {INT32_MIN, L"-2147483648"}, {-1280, L"-1280"}, {-1, L"-1"}, {0, L"0"},
        {8, L"8"}, {1920, L"1920"}, {INT32_MAX, L"2147483647"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniIntegerText(c.value), c.text);
        EXPECT_EQ(ParseIniInteger(IniIntegerText(c.value)), c.value);
    }
    // Positions left of and above the primary screen are negative.
    for (std::int32_t v = -70000; v < 0; v += 7)
        ASSERT_EQ(ParseIniInteger(IniIntegerText(v)), v);
}

// Every short text over the characters that steer the conversion.
TEST(IniInteger, AgreesWithReferenceOnAllShortTexts)
{
    const std::wstring alphabet = L"019afgxX$ +-";
    std::vector<std::wstring> level = {L""};
    for (int length = 0; length <= 4; ++length) {
        std::vector<std::wstring> next;
        for (const auto& text : level) {
            ASSERT_EQ(ParseIniInteger(text), reference::ParseIniInteger(text)) << "text L\"" << text << "\"";
            for (const wchar_t c : alphabet)
                next.push_back(text + c);
        }
        level = std::move(next);
    }
}

// Texts near the shape of a number (blanks, sign, prefix, digits) with a few
// random pieces put in, plus texts of random pieces alone.
TEST(IniInteger, AgreesWithReferenceOnGeneratedTexts)
{
    const std::vector<std::wstring> pieces = {
        L"0", L"1", L"7", L"9", L"8", L"00000000", L"2147483647", L"2147483648", L"4294967295",
        L"FFFFFFFF", L"80000000", L"7fffffff", L"a", L"F", L"f", L"G", L"g",
        L"$", L"x", L"X", L"0x", L"0X", L" ", L"  ", L"+", L"-", L".", L"\t",
        L"\u00A0", L"\uFF10", L"\u0661", L"e",
    };
    const std::vector<std::wstring> prefixes = {L"", L"", L"$", L"x", L"X", L"0x", L"0X"};
    std::mt19937 engine(20130208u);  // fixed seed: failures reproduce
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(engine() % n); };
    const auto digitRun = [&](bool hex) {
        // sometimes long enough to overflow anything
        const std::size_t length = 1 + pick(pick(4) == 0 ? 25 : 9);
        const wchar_t* digits = hex ? L"0123456789abcdefABCDEF" : L"0123456789";
        std::wstring run;
        for (std::size_t d = 0; d < length; ++d)
            run += digits[pick(hex ? 22 : 10)];
        return run;
    };

    std::size_t accepted = 0, negative = 0, large = 0, rejected = 0;
    constexpr int kTexts = 200000;
    for (int i = 0; i < kTexts; ++i) {
        std::wstring text;
        if (pick(3) != 0) {
            text.append(pick(4) == 0 ? 1 + pick(3) : 0, L' ');
            if (pick(2) == 0)
                text += pick(2) == 0 ? L'-' : L'+';
            const std::wstring& prefix = prefixes[pick(prefixes.size())];
            text += prefix;
            text += digitRun(!prefix.empty());
            for (std::size_t k = pick(4) == 0 ? 1 + pick(2) : 0; k > 0; --k)
                text.insert(pick(text.size() + 1), pieces[pick(pieces.size())]);
        } else {
            for (std::size_t k = pick(7); k > 0; --k)
                text += pick(5) == 0 ? digitRun(false) : pieces[pick(pieces.size())];
        }
        const Result real = ParseIniInteger(text);
        ASSERT_EQ(real, reference::ParseIniInteger(text)) << "text L\"" << text << "\"";
        if (!real) {
            ++rejected;
            continue;
        }
        ++accepted;
        if (*real < 0)
            ++negative;
        if (*real > 0xFFFFFF || *real < -0xFFFFFF)
            ++large;
    }
    // The generator must reach both outcomes and the far ends of the range,
    // or the agreement above proves little.
    EXPECT_GT(accepted, kTexts / 5u);
    EXPECT_GT(rejected, kTexts / 5u);
    EXPECT_GT(negative, kTexts / 20u);
    EXPECT_GT(large, kTexts / 20u);
    std::printf("generated %d texts: %zu accepted (%zu negative, %zu beyond 24 bits), %zu rejected\n",
                kTexts, accepted, negative, large, rejected);
}

} // namespace
