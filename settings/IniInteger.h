#pragma once

// The integer conversion behind reading "top" and "left" from set.ini.
//
// Accepted: leading blanks (U+0020 only), one optional sign directly before
// the number, then either a decimal number or a hexadecimal one with the
// prefix "$", "x", "X", "0x" or "0X". Nothing may follow the number. Decimal
// values must fit a 32-bit signed integer; hexadecimal ones may have at most
// 8 significant digits and are read as 32-bit two's complement, then negated
// by a "-" (modulo 2^32, so -$80000000 stays -2147483648).
// A text that begins with "0x" or "0X" and has at least 3 characters is first
// rewritten to "$" + the rest, as the settings reader has always done.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// nullopt when the text does not convert.
std::optional<std::int32_t> ParseIniInteger(std::wstring_view text);

// The converted value, or fallback when the text does not convert.
std::int32_t IniIntegerOr(std::wstring_view text, std::int32_t fallback);

// Plain decimal: "-" for negatives, no "+", no leading zeros, no blanks.
std::wstring IniIntegerText(std::int32_t value);
