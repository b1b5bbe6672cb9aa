// libFuzzer target: the set.ini integer conversion against the reference
// model. Any disagreement, or an accepted value whose decimal text does not
// read back to itself, aborts with the offending text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "ReferenceIniInteger.h"
#include "settings/IniInteger.h"

namespace {

// Characters that look like parts of a number but must not count as one,
// plus the ones that do; bytes 0x80..0xBF pick from here.
constexpr char32_t kPickedChars[64] = {
    U' ',     U'0',     U'1',     U'9',     U'$',     U'x',     U'X',     U'+',
    U'-',     U'a',     U'f',     U'A',     U'F',     U'g',     U'G',     U'.',
    U'\t',    U'\r',    U'\n',    U'\0',    U'\v',    U'\f',    U'e',     U'E',
    0x00A0,   0x3000,   0x2007,   0x200B,   0xFEFF,   0x0660,   0x0661,   0x0669,
    0x06F1,   0x0966,   0xFF10,   0xFF11,   0xFF19,   0xFF21,   0xFF41,   0xFF04,
    0xFF58,   0xFF38,   0xFF0B,   0xFF0D,   0x2212,   0xFE63,   0x00B2,   0x00B9,
    0x2070,   0x2080,   0x0130,   0x0131,   0x017F,   0xD800,   0xDC00,   0xFFFF,
    0xFFFE,   0x0100,   0x2074,   0x1030,   0x3030,   0xC030,   0x4030,   0x7F,
};

// Bytes below 0x80 are themselves; 0x80..0xBF pick from kPickedChars;
// 0xC0..0xFF take the next two bytes as one BMP code unit.
std::wstring TextFromBytes(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b < 0x80) {
            text += static_cast<wchar_t>(b);
        } else if (b < 0xC0) {
            text += static_cast<wchar_t>(kPickedChars[b - 0x80]);
        } else if (i + 2 < size) {
            text += static_cast<wchar_t>((data[i + 1] << 8) | data[i + 2]);
            i += 2;
        } else {
            text += static_cast<wchar_t>(b);
        }
    }
    return text;
}

void PrintText(const std::wstring& text)
{
    std::fputs("text: \"", stderr);
    for (const wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code >= 0x20 && code < 0x7F && c != L'"' && c != L'\\')
            std::fputc(static_cast<int>(code), stderr);
        else
            std::fprintf(stderr, "\\u%04X", static_cast<unsigned>(code));
    }
    std::fputs("\"\n", stderr);
}

void PrintResult(const char* who, const std::optional<std::int32_t>& r)
{
    if (r)
        std::fprintf(stderr, "%s: %ld\n", who, static_cast<long>(*r));
    else
        std::fprintf(stderr, "%s: fails\n", who);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::wstring text = TextFromBytes(data, size);
    const auto real = ParseIniInteger(text);
    const auto expected = reference::ParseIniInteger(text);
    if (real != expected) {
        std::fputs("ParseIniInteger disagrees with the reference model\n", stderr);
        PrintText(text);
        PrintResult("ParseIniInteger", real);
        PrintResult("reference", expected);
        std::abort();
    }
    if (real && ParseIniInteger(IniIntegerText(*real)) != real) {
        std::fputs("IniIntegerText does not read back\n", stderr);
        PrintText(text);
        PrintResult("value", real);
        std::abort();
    }
    return 0;
}
