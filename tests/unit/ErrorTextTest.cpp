#include <gtest/gtest.h>

#include "ui/ErrorText.h"

namespace {

TEST(ErrorText, FullStopOnlyAfterCharactersAboveFullStop)
{
    const struct { const wchar_t* message; const wchar_t* shown; } cases[] = {
        {L"Unable to write to C:\\Tools\\/set.ini", L"Unable to write to C:\\Tools\\/set.ini."},
        {L"Done.", L"Done."},
        {L"trailing blank ", L"trailing blank "},
        {L"ProgID: \"SAPI.SpVoice\"", L"ProgID: \"SAPI.SpVoice\""},
        {L"(code)", L"(code)"},
        {L"dash-", L"dash-"},      // U+002D
        {L"comma,", L"comma,"},    // U+002C
        {L"!", L"!"},              // U+0021
        {L"slash/", L"slash/."},   // U+002F
        {L"digit 0", L"digit 0."},
        {L"line\n", L"line\n"},
        {L"\u5173\u95ED", L"\u5173\u95ED."},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorReportText(c.message), c.shown) << "message L\"" << c.message << "\"";
}

} // namespace
