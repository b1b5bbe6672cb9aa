#pragma once

// The three clock-face texts (time, weekday, date) made from one reading of
// the local clock. Portable: the Win32 edge supplies the reading and the
// locale's time separator.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// One reading of the local clock; only the fields a text shows.
struct ClockReading {
    int year;
    int month;
    int day;
    int hour;
    int minute;
};

// 1 "First", 2 "Second", 3 "Third", any other day decimal + "th"
// ("21th", "22th", "31th" are the clock's wording and stay).
std::wstring OrdinalDayText(int day);

// 1 "Monday" .. 7 "Sunday"; empty outside 1..7.
std::wstring WeekdayText(int isoWeekday);

// 1 "January" .. 12 "December"; empty outside 1..12.
std::wstring MonthText(int month);

// ISO weekday (Monday = 1 .. Sunday = 7) of a proleptic Gregorian date;
// 0 when month or day is out of range.
int IsoWeekday(int year, int month, int day);

// The separator between hour and minute, from what the locale gave:
// nullopt (could not be read) -> ":", exactly one character -> it,
// empty -> empty, longer -> ":".
std::wstring TimeSeparatorFromLocale(const std::optional<std::wstring>& localeValue);

struct ClockFaceTexts {
    std::wstring time;     // "H<sep>M", 24 h, no leading zeros
    std::wstring weekday;  // "Wednesday"
    std::wstring date;     // "First,January,2014"
};

ClockFaceTexts MakeClockFaceTexts(const ClockReading& r, std::wstring_view separator);

// Calls readClock exactly once: all three texts come from the same moment,
// so a refresh at midnight cannot mix the old day with the new date.
ClockFaceTexts ReadClockFace(const std::function<ClockReading()>& readClock,
                             std::wstring_view separator);
