#include "platform/text/str_to_int.hpp"

#include "platform/text/ascii.hpp"

namespace platform {

bool TryStrToInt(std::string_view s, int32_t& AValue) noexcept
{
    size_t i = 0;
    const size_t n = s.size();
    while (i < n && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i < n && (s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return false;  // no digits at all

    uint64_t value = 0;
    if (hex) {
        for (; i < n; ++i) {
            int d = HexDigitValue(s[i]);
            if (d < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(d);
            if (value > 0xFFFFFFFFull)
                return false;
        }
        uint32_t bits = static_cast<uint32_t>(value);
        if (negative)
            bits = 0u - bits;
        AValue = static_cast<int32_t>(bits);
        return true;
    }
    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    for (; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(s[i] - '0');
        if (value > limit)
            return false;
    }
    AValue = negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
    return true;
}

int32_t StrToInt(std::string_view AText)
{
    int32_t value = 0;
    if (!TryStrToInt(AText, value)) {
        std::string message = "'";
        message.append(AText);
        message += "' is not a valid integer value for Integer type";
        throw EConvertError(std::move(message));
    }
    return value;
}

} // namespace platform
