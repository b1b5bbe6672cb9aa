#pragma once
// UTF-8 <-> UTF-16 for the layout data and the logs. On Linux wchar_t is 32-bit; the code points
// handled there stay in the BMP, so one wchar_t is one UTF-16 unit on both.
#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
