#include "ui/ErrorText.h"

#include <cstdint>

std::wstring ErrorReportText(std::wstring_view message)
{
    std::wstring text(message);
    // Compare code points as unsigned: wchar_t is signed on some platforms.
    if (!text.empty() && static_cast<std::uint32_t>(text.back()) > 0x2Eu)
        text += L'.';
    return text;
}
