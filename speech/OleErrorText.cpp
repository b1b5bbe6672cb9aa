#include "speech/OleErrorText.h"

namespace {

bool IsTrimmedAtEnd(wchar_t c)
{
    // Unsigned compare: wchar_t is signed on some platforms.
    return static_cast<std::uint32_t>(c) <= 0x20u || c == L'.';
}

} // namespace

std::wstring TrimErrorDescription(std::wstring_view text)
{
    while (!text.empty() && IsTrimmedAtEnd(text.back()))
        text.remove_suffix(1);
    return std::wstring(text);
}

std::wstring OleErrorCodeText(std::uint32_t code)
{
    constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";
    std::wstring text = L"OLE error ";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += kHexDigits[(code >> shift) & 0xFu];
    return text;
}

std::wstring DescriptionOrOleError(std::wstring_view systemDescription, std::uint32_t code)
{
    std::wstring description = TrimErrorDescription(systemDescription);
    return description.empty() ? OleErrorCodeText(code) : description;
}

std::wstring VoiceCreationMessage(std::wstring_view description, std::wstring_view progId)
{
    std::wstring message(description);
    message += L", ProgID: \"";
    message.append(progId);
    message += L'"';
    return message;
}

std::wstring MethodNotSupportedMessage(std::wstring_view member)
{
    std::wstring message = L"Method '";
    message.append(member);
    message += L"' not supported by automation object";
    return message;
}
