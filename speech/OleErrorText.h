#pragma once

// Message texts of the speech engine's failures, kept free of COM so they can
// be tested anywhere; the Win32 edge supplies the codes and descriptions.

#include <cstdint>
#include <string>
#include <string_view>

// Drops trailing characters up to U+0020 (blanks, CR/LF and other control
// characters) and full stops, repeatedly: system descriptions end in ".\r\n".
std::wstring TrimErrorDescription(std::wstring_view text);

// "OLE error 800401F3": the code as 8 upper-case hexadecimal digits.
std::wstring OleErrorCodeText(std::uint32_t code);

// The trimmed description, or OleErrorCodeText(code) when nothing is left.
std::wstring DescriptionOrOleError(std::wstring_view systemDescription, std::uint32_t code);

// description + ", ProgID: \"" + progId + "\"".
std::wstring VoiceCreationMessage(std::wstring_view description, std::wstring_view progId);

// "Method '<member>' not supported by automation object".
std::wstring MethodNotSupportedMessage(std::wstring_view member);

// A call through a variant that holds no object.
inline constexpr std::wstring_view kInvalidVariantOperation = L"Invalid variant operation";
