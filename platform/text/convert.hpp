#pragma once
// Locale format settings and the text conversions that use them: numbers, dates and times as
// the platform reads them, and message formatting with "%s" placeholders.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/date_time.hpp"

namespace platform {

struct TFormatSettings {
    std::string DecimalSeparator = ".";
    std::string DateSeparator = "/";
    std::string TimeSeparator = ":";
    // Patterns of letters: y year, M (or m) month, d day; h hour, n minute, s second.
    std::string ShortDateFormat = "MM/dd/yy";
    std::string ShortTimeFormat = "hh:nn:ss";

    // A fresh copy of the calling thread's locale settings (LC_NUMERIC and LC_TIME).
    static TFormatSettings Create();
};

// The process-wide settings, read from the process locale on first use. Programs may change
// them (before requests are served: request threads read them without a lock).
TFormatSettings& FormatSettings();

// At most one sign, digits with at most one decimal separator (ASettings.DecimalSeparator) and
// an optional exponent ("1.5", ",5" with a comma locale, "2e3"); no blanks, no thousands
// separators, no "inf" or "nan". False when nothing or something else is there, or the value
// is out of range.
bool TryStrToFloat(std::string_view AText, double& AValue, const TFormatSettings& ASettings) noexcept;

// Day, month and year as numbers separated by the date separator, in the order the short date
// format gives them (its first y, M and d). A year of one or two digits is taken within 50
// years of the current year.
bool TryStrToDate(std::string_view AText, TDateTime& AValue, const TFormatSettings& ASettings) noexcept;
// Hour and minute, optionally seconds and a fraction after "." or the decimal separator,
// separated by the time separator, optionally followed by AM or PM (any case).
bool TryStrToTime(std::string_view AText, TTime& AValue, const TFormatSettings& ASettings) noexcept;
// A date, optionally followed by blanks and a time.
bool TryStrToDateTime(std::string_view AText, TDateTime& AValue, const TFormatSettings& ASettings) noexcept;

// Fills "%s" placeholders from AArgs in order; "%n:s" takes argument n and the next plain "%s"
// the one after it; "%-8s" pads to a width (left aligned with "-"), "%.3s" cuts to a length;
// "%%" is a "%". Any other placeholder, or one beyond the arguments, fails with EConvertError
// "Format '<template>' invalid or incompatible with argument".
std::string Format(std::string_view ATemplate, const std::vector<std::string>& AArgs);

// The first ACount UTF-16 code units of a UTF-8 text (a character that does not fit whole is
// left out): the platform's Copy(AText, 1, ACount).
std::string_view Utf16Left(std::string_view AText, size_t ACount) noexcept;

} // namespace platform
