#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "clock/ClockTexts.h"

namespace {

TEST(ClockTexts, OrdinalDayKeepsWordsForFirstThreeAndThEverywhereElse)
{
    const struct { int day; const wchar_t* text; } cases[] = {
        {1, L"First"}, {2, L"Second"}, {3, L"Third"}, {4, L"4th"},   {10, L"10th"}, {11, L"11th"},
        {12, L"12th"}, {13, L"13th"},  {21, L"21th"}, {22, L"22th"}, {23, L"23th"}, {31, L"31th"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OrdinalDayText(c.day), c.text) << "day " << c.day;
}

TEST(ClockTexts, NamesOutsideTheirTablesAreEmpty)
{
    for (const int n : {0, 8, -1, 100})
        EXPECT_EQ(WeekdayText(n), L"") << n;
    for (const int n : {0, 13, -1, 100})
        EXPECT_EQ(MonthText(n), L"") << n;
}

TEST(ClockTexts, TimeTextHasNoLeadingZerosOn24HourClock)
{
    const struct { int hour; int minute; const wchar_t* text; } cases[] = {
        {0, 0, L"0:0"},     {0, 9, L"0:9"},     {9, 5, L"9:5"},     {10, 0, L"10:0"},
        {12, 30, L"12:30"}, {13, 7, L"13:7"},   {23, 59, L"23:59"},
    };
    for (const auto& c : cases) {
        const ClockFaceTexts texts = MakeClockFaceTexts({2013, 2, 8, c.hour, c.minute}, L":");
        EXPECT_EQ(texts.time, c.text) << c.hour << ":" << c.minute;
    }
}

struct DateCase {
    int year;
    int month;
    int day;
    const wchar_t* weekday;
    const wchar_t* date;
};

TEST(ClockTexts, WeekdayAndDateTexts)
{
    const DateCase cases[] = {
        {2014, 1, 1, L"Wednesday", L"First,January,2014"},
        {2013, 2, 2, L"Saturday", L"Second,February,2013"},
        {2013, 3, 3, L"Sunday", L"Third,March,2013"},
        {2013, 2, 8, L"Friday", L"8th,February,2013"},
        {2013, 2, 11, L"Monday", L"11th,February,2013"},
        {2013, 2, 12, L"Tuesday", L"12th,February,2013"},
        {2013, 2, 13, L"Wednesday", L"13th,February,2013"},
        {2013, 2, 21, L"Thursday", L"21th,February,2013"},
        {2013, 2, 22, L"Friday", L"22th,February,2013"},
        {2013, 2, 23, L"Saturday", L"23th,February,2013"},
        {2016, 2, 29, L"Monday", L"29th,February,2016"},
        {2013, 12, 31, L"Tuesday", L"31th,December,2013"},
        {2023, 12, 31, L"Sunday", L"31th,December,2023"},
        {2024, 1, 1, L"Monday", L"First,January,2024"},
    };
    for (const auto& c : cases) {
        const ClockFaceTexts texts = MakeClockFaceTexts({c.year, c.month, c.day, 12, 0}, L":");
        EXPECT_EQ(texts.weekday, c.weekday) << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(texts.date, c.date) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(ClockTexts, EveryMonthNameOnTheFifteenthOf2013)
{
    const DateCase cases[] = {
        {2013, 1, 15, L"Tuesday", L"15th,January,2013"},
        {2013, 2, 15, L"Friday", L"15th,February,2013"},
        {2013, 3, 15, L"Friday", L"15th,March,2013"},
        {2013, 4, 15, L"Monday", L"15th,April,2013"},
        {2013, 5, 15, L"Wednesday", L"15th,May,2013"},
        {2013, 6, 15, L"Saturday", L"15th,June,2013"},
        {2013, 7, 15, L"Monday", L"15th,July,2013"},
        {2013, 8, 15, L"Thursday", L"15th,August,2013"},
        {2013, 9, 15, L"Sunday", L"15th,September,2013"},
        {2013, 10, 15, L"Tuesday", L"15th,October,2013"},
        {2013, 11, 15, L"Friday", L"15th,November,2013"},
        {2013, 12, 15, L"Sunday", L"15th,December,2013"},
    };
    for (const auto& c : cases) {
        const ClockFaceTexts texts = MakeClockFaceTexts({c.year, c.month, c.day, 0, 0}, L":");
        EXPECT_EQ(texts.weekday, c.weekday) << "month " << c.month;
        EXPECT_EQ(texts.date, c.date) << "month " << c.month;
    }
}

TEST(ClockTexts, IsoWeekdayFollowsGregorianLeapRules)
{
    const struct { int year; int month; int day; int weekday; } cases[] = {
        {2000, 2, 29, 2},   // divisible by 400: leap
        {1900, 3, 1, 4},    // divisible by 100 only: no 29 February
        {2100, 3, 1, 1},
        {1601, 1, 1, 1},    // earliest date the Windows clock can give
        {9999, 12, 31, 5},
        {2013, 12, 31, 2},
        {2014, 1, 1, 3},
        {2023, 12, 31, 7},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsoWeekday(c.year, c.month, c.day), c.weekday) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(IsoWeekday(2013, 0, 1), 0);
    EXPECT_EQ(IsoWeekday(2013, 13, 1), 0);
    EXPECT_EQ(IsoWeekday(2013, 1, 0), 0);
}

TEST(ClockTexts, YearHasAtLeastFourDigits)
{
    EXPECT_EQ(MakeClockFaceTexts({5, 1, 4, 0, 0}, L":").date, L"4th,January,0005");
    EXPECT_EQ(MakeClockFaceTexts({999, 1, 4, 0, 0}, L":").date, L"4th,January,0999");
    EXPECT_EQ(MakeClockFaceTexts({30827, 1, 4, 0, 0}, L":").date, L"4th,January,30827");
}

TEST(ClockTexts, TimeSeparatorFromLocaleValue)
{
    const struct { std::optional<std::wstring> locale; const wchar_t* separator; const wchar_t* timeAt0905; } cases[] = {
        {std::nullopt, L":", L"9:5"},
        {L":", L":", L"9:5"},
        {L".", L".", L"9.5"},
        {L"", L"", L"95"},
        {L"::", L":", L"9:5"},
        {L" h ", L":", L"9:5"},
        {L"\u65F6", L"\u65F6", L"9\u65F65"},
    };
    for (const auto& c : cases) {
        const std::wstring separator = TimeSeparatorFromLocale(c.locale);
        EXPECT_EQ(separator, c.separator) << testing::PrintToString(c.locale);
        EXPECT_EQ(MakeClockFaceTexts({2013, 2, 8, 9, 5}, separator).time, c.timeAt0905);
    }
}

TEST(ClockTexts, ReadClockFaceTakesOneReadingAcrossMidnight)
{
    // Successive readings step over midnight into a new year: with one
    // reading per value the date could come out as "31th,January,2014".
    const std::vector<ClockReading> readings = {
        {2013, 12, 31, 23, 59},
        {2014, 1, 1, 0, 0},
        {2014, 1, 1, 0, 0},
        {2014, 1, 1, 0, 0},
        {2014, 1, 1, 0, 0},
    };
    std::size_t calls = 0;
    const auto fakeClock = [&]() { return readings.at(calls++); };

    const ClockFaceTexts before = ReadClockFace(fakeClock, L":");
    EXPECT_EQ(calls, 1u);
    EXPECT_EQ(before.time, L"23:59");
    EXPECT_EQ(before.weekday, L"Tuesday");
    EXPECT_EQ(before.date, L"31th,December,2013");

    const ClockFaceTexts after = ReadClockFace(fakeClock, L":");
    EXPECT_EQ(calls, 2u);
    EXPECT_EQ(after.time, L"0:0");
    EXPECT_EQ(after.weekday, L"Wednesday");
    EXPECT_EQ(after.date, L"First,January,2014");
}

} // namespace
