#include "platform/base/date_time.hpp"

#include <chrono>
#include <cmath>
#include <ctime>

namespace platform {

namespace {

int64_t FloorDiv(int64_t ADividend, int64_t ADivisor) noexcept
{
    return ADividend / ADivisor - ((ADividend % ADivisor != 0) && ((ADividend < 0) != (ADivisor < 0)));
}

bool IsDigit(char AChar) noexcept
{
    return AChar >= '0' && AChar <= '9';
}

// Reads exactly ACount digits at APos.
bool ReadDigits(std::string_view AText, size_t& APos, size_t ACount, int& AValue) noexcept
{
    if (APos + ACount > AText.size())
        return false;
    int v = 0;
    for (size_t k = 0; k < ACount; ++k) {
        char c = AText[APos + k];
        if (!IsDigit(c))
            return false;
        v = v * 10 + (c - '0');
    }
    APos += ACount;
    AValue = v;
    return true;
}

bool At(std::string_view AText, size_t APos, char AChar) noexcept
{
    return APos < AText.size() && AText[APos] == AChar;
}

// Offset of the machine's local time zone from UTC at the instant, in milliseconds.
int64_t LocalOffsetMs(int64_t AUtcMs) noexcept
{
    std::time_t t = static_cast<std::time_t>(FloorDiv(AUtcMs, 1000));
    std::tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    return static_cast<int64_t>(local.tm_gmtoff) * 1000;
}

} // namespace

bool TryEncodeDate(int AYear, int AMonth, int ADay, TDateTime& AValue) noexcept
{
    using namespace std::chrono;
    if (AYear < 1 || AYear > 9999)
        return false;
    year_month_day ymd{year(AYear), month(static_cast<unsigned>(AMonth)), day(static_cast<unsigned>(ADay))};
    if (AMonth < 1 || AMonth > 12 || ADay < 1 || !ymd.ok())
        return false;
    AValue = static_cast<double>(sys_days(ymd).time_since_epoch().count() + KUnixDateDelta);
    return true;
}

bool TryEncodeTime(int AHour, int AMin, int ASec, int AMSec, TTime& AValue) noexcept
{
    if (AHour < 0 || AHour > 23 || AMin < 0 || AMin > 59 || ASec < 0 || ASec > 59 || AMSec < 0 || AMSec > 999)
        return false;
    AValue = static_cast<double>(((AHour * 60 + AMin) * 60 + ASec) * 1000 + AMSec) / KMSecsPerDay;
    return true;
}

TDateTime ComposeDateTime(int64_t ADays, int64_t AMsOfDay) noexcept
{
    double fraction = static_cast<double>(AMsOfDay) / KMSecsPerDay;
    return ADays >= 0 ? static_cast<double>(ADays) + fraction : static_cast<double>(ADays) - fraction;
}

void SplitDateTime(TDateTime AValue, int64_t& ADays, int64_t& AMsOfDay) noexcept
{
    double whole = std::trunc(AValue);
    ADays = static_cast<int64_t>(whole);
    AMsOfDay = std::llround(std::fabs(AValue - whole) * KMSecsPerDay);
    if (AMsOfDay >= KMSecsPerDay) {
        ADays += 1;
        AMsOfDay -= KMSecsPerDay;
    }
}

int64_t DateTimeToUnixMs(TDateTime AValue) noexcept
{
    int64_t days, ms;
    SplitDateTime(AValue, days, ms);
    return (days - KUnixDateDelta) * KMSecsPerDay + ms;
}

TDateTime UnixMsToDateTime(int64_t AMs) noexcept
{
    int64_t days = FloorDiv(AMs, KMSecsPerDay);
    return ComposeDateTime(days + KUnixDateDelta, AMs - days * KMSecsPerDay);
}

bool TryISO8601ToDate(std::string_view AText, TDateTime& AValue, bool AReturnUTC) noexcept
{
    size_t pos = 0;
    int year = 0, month = 0, day = 0;
    if (!ReadDigits(AText, pos, 4, year))
        return false;
    if (At(AText, pos, '-')) {
        ++pos;
        if (!ReadDigits(AText, pos, 2, month) || !At(AText, pos, '-'))
            return false;
        ++pos;
        if (!ReadDigits(AText, pos, 2, day))
            return false;
    } else if (!ReadDigits(AText, pos, 2, month) || !ReadDigits(AText, pos, 2, day)) {
        return false;
    }
    TDateTime date;
    if (!TryEncodeDate(year, month, day, date))
        return false;

    int64_t localMs = DateTimeToUnixMs(date);
    int64_t offsetMs = 0;
    if (pos < AText.size()) {
        if (AText[pos] != 'T' && AText[pos] != 't')
            return false;
        ++pos;
        int hour = 0, minute = 0, second = 0;
        if (!ReadDigits(AText, pos, 2, hour))
            return false;
        if (At(AText, pos, ':')) {
            ++pos;
            if (!ReadDigits(AText, pos, 2, minute))
                return false;
            if (At(AText, pos, ':')) {
                ++pos;
                if (!ReadDigits(AText, pos, 2, second))
                    return false;
            }
        } else if (pos + 1 < AText.size() && IsDigit(AText[pos])) {
            if (!ReadDigits(AText, pos, 2, minute))
                return false;
            if (pos + 1 < AText.size() && IsDigit(AText[pos]) && !ReadDigits(AText, pos, 2, second))
                return false;
        }
        double fraction = 0;
        if ((At(AText, pos, '.') || At(AText, pos, ',')) && pos + 1 < AText.size() && IsDigit(AText[pos + 1])) {
            ++pos;
            double scale = 0.1;
            while (pos < AText.size() && IsDigit(AText[pos])) {
                fraction += (AText[pos] - '0') * scale;
                scale /= 10;
                ++pos;
            }
        }
        TTime time;
        if (!TryEncodeTime(hour, minute, second, 0, time))
            return false;
        localMs += ((hour * 60 + minute) * 60 + second) * 1000 + std::llround(fraction * 1000);

        if (At(AText, pos, 'Z') || At(AText, pos, 'z')) {
            ++pos;
        } else if (At(AText, pos, '+') || At(AText, pos, '-')) {
            int sign = AText[pos] == '-' ? -1 : 1;
            ++pos;
            int oh = 0, om = 0;
            if (!ReadDigits(AText, pos, 2, oh))
                return false;
            if (At(AText, pos, ':')) {
                ++pos;
                if (!ReadDigits(AText, pos, 2, om))
                    return false;
            } else if (pos < AText.size() && !ReadDigits(AText, pos, 2, om)) {
                return false;
            }
            if (oh > 23 || om > 59)
                return false;
            offsetMs = sign * (static_cast<int64_t>(oh) * 60 + om) * 60000;
        }
        if (pos != AText.size())
            return false;
    }

    int64_t utcMs = localMs - offsetMs;
    AValue = UnixMsToDateTime(AReturnUTC ? utcMs : utcMs + LocalOffsetMs(utcMs));
    return true;
}

} // namespace platform
