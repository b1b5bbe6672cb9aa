#pragma once

#include <string>
#include <string_view>

// The two sentences of the announcement, built from the label texts exactly
// as shown: no trimming, no full stop.

// "Now is " + time text.
std::wstring FirstSentence(std::wstring_view timeText);

// "  Today is " + weekday text + "  " + date text.
std::wstring SecondSentence(std::wstring_view weekdayText, std::wstring_view dateText);
