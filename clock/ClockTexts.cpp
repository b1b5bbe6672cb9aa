#include "clock/ClockTexts.h"

#include <array>
#include <chrono>

namespace {

constexpr std::array<std::wstring_view, 7> kWeekdays = {
    L"Monday", L"Tuesday", L"Wednesday", L"Thursday", L"Friday", L"Saturday", L"Sunday"};

constexpr std::array<std::wstring_view, 12> kMonths = {
    L"January", L"February", L"March",     L"April",   L"May",      L"June",
    L"July",    L"August",   L"September", L"October", L"November", L"December"};

// At least four digits, like the "yyyy" date pattern.
std::wstring FourDigitYear(int year)
{
    const bool negative = year < 0;
    std::wstring digits = std::to_wstring(negative ? -static_cast<long long>(year) : year);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), L'0');
    return negative ? L"-" + digits : digits;
}

} // namespace

std::wstring OrdinalDayText(int day)
{
    switch (day) {
    case 1: return L"First";
    case 2: return L"Second";
    case 3: return L"Third";
    default: return std::to_wstring(day) + L"th";
    }
}

std::wstring WeekdayText(int isoWeekday)
{
    if (isoWeekday < 1 || isoWeekday > 7)
        return {};
    return std::wstring(kWeekdays[static_cast<std::size_t>(isoWeekday - 1)]);
}

std::wstring MonthText(int month)
{
    if (month < 1 || month > 12)
        return {};
    return std::wstring(kMonths[static_cast<std::size_t>(month - 1)]);
}

int IsoWeekday(int year, int month, int day)
{
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return 0;
    using namespace std::chrono;
    // sys_days counts days on the proleptic Gregorian calendar; a day past the
    // month's end simply runs on into the next month.
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                             std::chrono::day{static_cast<unsigned>(day)}};
    return static_cast<int>(weekday{sys_days{ymd}}.iso_encoding());
}

std::wstring TimeSeparatorFromLocale(const std::optional<std::wstring>& localeValue)
{
    if (!localeValue || localeValue->size() > 1)
        return L":";
    return *localeValue;
}

ClockFaceTexts MakeClockFaceTexts(const ClockReading& r, std::wstring_view separator)
{
    ClockFaceTexts texts;
    texts.time = std::to_wstring(r.hour);
    texts.time.append(separator);
    texts.time += std::to_wstring(r.minute);
    texts.weekday = WeekdayText(IsoWeekday(r.year, r.month, r.day));
    texts.date = OrdinalDayText(r.day) + L"," + MonthText(r.month) + L"," + FourDigitYear(r.year);
    return texts;
}

ClockFaceTexts ReadClockFace(const std::function<ClockReading()>& readClock,
                             std::wstring_view separator)
{
    const ClockReading reading = readClock();
    return MakeClockFaceTexts(reading, separator);
}
