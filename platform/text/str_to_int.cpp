#include "platform/text/str_to_int.hpp"

#include <limits>
#include <type_traits>

#include "platform/text/ascii.hpp"

namespace platform {

namespace {

// The sign and digits both widths read: decimal values must fit TInt, hexadecimal ones may use
// all of its bits.
template <class TInt>
bool TryReadInteger(std::string_view AText, TInt& AValue) noexcept
{
    using TBits = std::make_unsigned_t<TInt>;
    size_t i = 0;
    const size_t n = AText.size();
    bool negative = false;
    if (i < n && (AText[i] == '+' || AText[i] == '-')) {
        negative = AText[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && (AText[i] == '$' || AText[i] == 'x' || AText[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && AText[i] == '0' && (AText[i + 1] == 'x' || AText[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return false; // no digits at all

    TBits value = 0;
    if (hex) {
        for (; i < n; ++i) {
            int d = HexDigitValue(AText[i]);
            if (d < 0 || value > (std::numeric_limits<TBits>::max() >> 4))
                return false;
            value = value * 16 + static_cast<unsigned>(d);
        }
    } else {
        const TBits limit = TBits(std::numeric_limits<TInt>::max()) + (negative ? 1 : 0);
        for (; i < n; ++i) {
            if (AText[i] < '0' || AText[i] > '9')
                return false;
            unsigned d = static_cast<unsigned>(AText[i] - '0');
            if (value > (limit - d) / 10)
                return false;
            value = value * 10 + d;
        }
    }
    AValue = static_cast<TInt>(negative ? TBits(0 - value) : value);
    return true;
}

} // namespace

bool TryStrToInt(std::string_view AText, int32_t& AValue) noexcept
{
    size_t blanks = 0;
    while (blanks < AText.size() && AText[blanks] == ' ')
        ++blanks;
    return TryReadInteger(AText.substr(blanks), AValue);
}

bool TryStrToInt64(std::string_view AText, int64_t& AValue) noexcept
{
    return TryReadInteger(AText, AValue);
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
