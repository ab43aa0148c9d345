#include "platform/text/convert.hpp"

#include <charconv>
#include <chrono>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <mutex>

#include "platform/base/gcc_restrict.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/str_to_int.hpp"
#include "platform/text/utf8.hpp"

namespace platform {

namespace {

bool IsDigit(char AChar) noexcept
{
    return AChar >= '0' && AChar <= '9';
}

const char* LangInfo(nl_item AItem)
{
    locale_t current = uselocale(locale_t(0));
    const char* text = current == LC_GLOBAL_LOCALE ? nl_langinfo(AItem) : nl_langinfo_l(AItem, current);
    return text ? text : "";
}

// Turns a strftime date or time pattern into the letter pattern of the settings and finds its
// separator (the first character between two conversions).
void FromStrftime(std::string_view APattern, std::string& AFormat, std::string& ASeparator)
{
    std::string format;
    std::string separator;
    for (size_t i = 0; i < APattern.size(); ++i) {
        char c = APattern[i];
        if (c != '%' || i + 1 >= APattern.size()) {
            format += c;
            if (separator.empty() && !format.empty() && c != ' ')
                separator = std::string(1, c);
            continue;
        }
        char k = APattern[++i];
        while ((k == 'E' || k == 'O' || k == '-' || k == '_' || k == '0') && i + 1 < APattern.size())
            k = APattern[++i]; // modifiers
        // A table, one line a conversion.
        // clang-format off
        switch (k) {
        case 'd': case 'e': format += "dd"; break;
        case 'm': format += "MM"; break;
        case 'y': format += "yy"; break;
        case 'Y': format += "yyyy"; break;
        case 'H': case 'I': case 'k': case 'l': format += "hh"; break;
        case 'M': format += "nn"; break;
        case 'S': format += "ss"; break;
        case 'p': case 'P': format += "AM/PM"; break;
        MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
        case 'D': format += "MM/dd/yy"; if (separator.empty()) separator = "/"; break;
        case 'F': format += "yyyy-MM-dd"; if (separator.empty()) separator = "-"; break;
        case 'T': format += "hh:nn:ss"; if (separator.empty()) separator = ":"; break;
        case 'R': format += "hh:nn"; if (separator.empty()) separator = ":"; break;
        MIROVANDEL_GCC12_FALSE_RESTRICT_END
        default: break;
        }
        // clang-format on
    }
    if (!format.empty())
        AFormat = format;
    if (!separator.empty())
        ASeparator = separator;
}

// Reads an unsigned decimal number of at most AMaxDigits digits at APos.
bool ReadNumber(std::string_view AText, size_t& APos, int& AValue, int& ADigits, int AMaxDigits = 4) noexcept
{
    int v = 0, n = 0;
    while (APos < AText.size() && IsDigit(AText[APos])) {
        if (++n > AMaxDigits)
            return false;
        v = v * 10 + (AText[APos] - '0');
        ++APos;
    }
    if (n == 0)
        return false;
    AValue = v;
    ADigits = n;
    return true;
}

bool Match(std::string_view AInput, size_t& APos, std::string_view AWord) noexcept
{
    if (AWord.empty() || AInput.substr(APos, AWord.size()) != AWord)
        return false;
    APos += AWord.size();
    return true;
}

int CurrentYear() noexcept
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// Reads a date at APos, leaving APos after it.
bool ScanDate(std::string_view AText, size_t& APos, TDateTime& AValue, const TFormatSettings& ASettings) noexcept
{
    // order of year, month and day by their first letters in the pattern; month/day/year
    // when the pattern names none
    char order[3] = {'m', 'd', 'y'};
    {
        int found = 0;
        char seen[3] = {0, 0, 0};
        for (char c : ASettings.ShortDateFormat) {
            char l = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            if ((l == 'y' || l == 'm' || l == 'd') && l != seen[0] && l != seen[1] && found < 3)
                seen[found++] = l;
        }
        if (found == 3)
            for (int k = 0; k < 3; ++k)
                order[k] = seen[k];
    }
    int values[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        if (k > 0 && !Match(AText, APos, ASettings.DateSeparator))
            return false;
        if (!ReadNumber(AText, APos, values[k], digits[k]))
            return false;
    }
    int year = 0, month = 0, day = 0;
    for (int k = 0; k < 3; ++k) {
        if (order[k] == 'y') {
            year = values[k];
            if (digits[k] <= 2) {
                int current = CurrentYear();
                year += current / 100 * 100;
                if (year > current + 50)
                    year -= 100;
                else if (year <= current - 50)
                    year += 100;
            }
        } else if (order[k] == 'm') {
            month = values[k];
        } else {
            day = values[k];
        }
    }
    return TryEncodeDate(year, month, day, AValue);
}

bool ScanTime(std::string_view AText, size_t& APos, TTime& AValue, const TFormatSettings& ASettings) noexcept
{
    int hour = 0, minute = 0, second = 0, n = 0;
    if (!ReadNumber(AText, APos, hour, n, 2) || !Match(AText, APos, ASettings.TimeSeparator) ||
        !ReadNumber(AText, APos, minute, n, 2))
        return false;
    int msec = 0;
    if (Match(AText, APos, ASettings.TimeSeparator)) {
        if (!ReadNumber(AText, APos, second, n, 2))
            return false;
        size_t save = APos;
        if ((Match(AText, APos, ".") || Match(AText, APos, ASettings.DecimalSeparator)) && APos < AText.size() &&
            IsDigit(AText[APos])) {
            double fraction = 0, scale = 0.1;
            while (APos < AText.size() && IsDigit(AText[APos])) {
                fraction += (AText[APos] - '0') * scale;
                scale /= 10;
                ++APos;
            }
            msec = static_cast<int>(fraction * 1000 + 0.5);
            if (msec > 999)
                msec = 999;
        } else {
            APos = save;
        }
    }
    // AM / PM, with or without a blank before it
    size_t save = APos;
    while (APos < AText.size() && AText[APos] == ' ')
        ++APos;
    std::string_view rest = AText.substr(APos, 2);
    if (AsciiSameText(rest, "AM") || AsciiSameText(rest, "PM")) {
        if (hour < 1 || hour > 12)
            return false;
        bool pm = AsciiSameText(rest, "PM");
        hour = hour % 12 + (pm ? 12 : 0);
        APos += 2;
    } else {
        APos = save;
    }
    return TryEncodeTime(hour, minute, second, msec, AValue);
}

// The whole text read by one scanner; AValue changes only when it all reads.
template <class T>
bool ScanWhole(bool (*AScan)(std::string_view, size_t&, T&, const TFormatSettings&) noexcept, std::string_view AText,
               T& AValue, const TFormatSettings& ASettings) noexcept
{
    size_t pos = 0;
    T value;
    if (!AScan(AText, pos, value, ASettings) || pos != AText.size())
        return false;
    AValue = value;
    return true;
}

} // namespace

TFormatSettings TFormatSettings::Create()
{
    TFormatSettings settings;
    std::string decimal = LangInfo(RADIXCHAR);
    if (!decimal.empty())
        settings.DecimalSeparator = decimal;
    FromStrftime(LangInfo(D_FMT), settings.ShortDateFormat, settings.DateSeparator);
    FromStrftime(LangInfo(T_FMT), settings.ShortTimeFormat, settings.TimeSeparator);
    return settings;
}

TFormatSettings& FormatSettings()
{
    static TFormatSettings settings = TFormatSettings::Create();
    return settings;
}

bool TryStrToFloat(std::string_view AText, double& AValue, const TFormatSettings& ASettings) noexcept
{
    // rebuild the text in the neutral form from_chars reads, checking the grammar on the way
    std::string neutral;
    size_t i = 0;
    if (i < AText.size() && (AText[i] == '+' || AText[i] == '-')) {
        if (AText[i] == '-')
            neutral += '-';
        ++i;
    }
    bool digits = false, separator = false;
    while (i < AText.size()) {
        if (IsDigit(AText[i])) {
            neutral += AText[i++];
            digits = true;
        } else if (!separator && Match(AText, i, ASettings.DecimalSeparator)) {
            neutral += '.';
            separator = true;
        } else {
            break;
        }
    }
    if (!digits)
        return false;
    if (i < AText.size() && (AText[i] == 'e' || AText[i] == 'E')) {
        neutral += 'e';
        ++i;
        if (i < AText.size() && (AText[i] == '+' || AText[i] == '-'))
            neutral += AText[i++];
        bool expDigits = false;
        while (i < AText.size() && IsDigit(AText[i])) {
            neutral += AText[i++];
            expDigits = true;
        }
        if (!expDigits)
            return false;
    }
    if (i != AText.size())
        return false;
    double value = 0;
    auto [end, ec] = std::from_chars(neutral.data(), neutral.data() + neutral.size(), value);
    if (ec != std::errc() || end != neutral.data() + neutral.size())
        return false;
    AValue = value;
    return true;
}

bool TryStrToDate(std::string_view AText, TDateTime& AValue, const TFormatSettings& ASettings) noexcept
{
    return ScanWhole(ScanDate, AText, AValue, ASettings);
}

bool TryStrToTime(std::string_view AText, TTime& AValue, const TFormatSettings& ASettings) noexcept
{
    return ScanWhole(ScanTime, AText, AValue, ASettings);
}

bool TryStrToDateTime(std::string_view AText, TDateTime& AValue, const TFormatSettings& ASettings) noexcept
{
    size_t pos = 0;
    TDateTime date;
    if (!ScanDate(AText, pos, date, ASettings))
        return false;
    if (pos == AText.size()) {
        AValue = date;
        return true;
    }
    size_t blanks = pos;
    while (pos < AText.size() && AText[pos] == ' ')
        ++pos;
    TTime time;
    if (pos == blanks || !ScanTime(AText, pos, time, ASettings) || pos != AText.size())
        return false;
    int64_t days, dateMs, timeDays, timeMs;
    SplitDateTime(date, days, dateMs);
    SplitDateTime(time, timeDays, timeMs);
    AValue = ComposeDateTime(days, timeMs);
    return true;
}

std::string Format(std::string_view ATemplate, const std::vector<std::string>& AArgs)
{
    auto fail = [&] {
        throw EConvertError("Format '" + std::string(ATemplate) + "' invalid or incompatible with argument");
    };
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < ATemplate.size(); ++i) {
        char c = ATemplate[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= ATemplate.size())
            fail();
        if (ATemplate[i] == '%') {
            out += '%';
            continue;
        }
        // [index ":"] ["-"] [width] ["." precision] type
        size_t index = next;
        size_t save = i;
        size_t number = 0;
        bool haveNumber = false;
        while (i < ATemplate.size() && IsDigit(ATemplate[i])) {
            number = number * 10 + static_cast<size_t>(ATemplate[i] - '0');
            haveNumber = true;
            if (number > 100000)
                fail();
            ++i;
        }
        if (haveNumber && i < ATemplate.size() && ATemplate[i] == ':') {
            index = number;
            ++i;
        } else {
            i = save;
        }
        bool left = false;
        if (i < ATemplate.size() && ATemplate[i] == '-') {
            left = true;
            ++i;
        }
        size_t width = 0;
        while (i < ATemplate.size() && IsDigit(ATemplate[i])) {
            width = width * 10 + static_cast<size_t>(ATemplate[i] - '0');
            if (width > 100000)
                fail();
            ++i;
        }
        size_t precision = std::string::npos;
        if (i < ATemplate.size() && ATemplate[i] == '.') {
            ++i;
            precision = 0;
            while (i < ATemplate.size() && IsDigit(ATemplate[i])) {
                precision = precision * 10 + static_cast<size_t>(ATemplate[i] - '0');
                if (precision > 100000)
                    fail();
                ++i;
            }
        }
        if (i >= ATemplate.size() || (ATemplate[i] != 's' && ATemplate[i] != 'S') || index >= AArgs.size())
            fail();
        std::string_view arg = AArgs[index];
        next = index + 1;
        if (precision != std::string::npos)
            arg = Utf16Left(arg, precision);
        size_t length = Utf16Length(arg);
        std::string pad(width > length ? width - length : 0, ' ');
        if (left)
            out.append(arg).append(pad);
        else
            out.append(pad).append(arg);
    }
    return out;
}

std::string_view Utf16Left(std::string_view AText, size_t ACount) noexcept
{
    size_t units = 0, i = 0;
    while (i < AText.size()) {
        unsigned char c = static_cast<unsigned char>(AText[i]);
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        size_t w = len == 4 ? 2 : 1;
        if (units + w > ACount || i + len > AText.size())
            break;
        units += w;
        i += len;
    }
    return AText.substr(0, i);
}

} // namespace platform
