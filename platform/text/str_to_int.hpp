#pragma once
// The platform's text-to-integer conversion (what settings such as the HTTP port go through).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/exception.hpp"

namespace platform {

// A text that does not convert.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

inline constexpr const char* KInvalidInteger = "'%s' is not a valid integer value for %s type";

// Leading blanks, then at most one sign, then decimal digits, or hexadecimal digits after "$",
// "x", "X", "0x" or "0X". Nothing may follow the digits. Decimal values must fit a signed
// 32-bit integer; hexadecimal values may use all 32 bits ($FFFFFFFF is -1), as the platform does.
// Fails with EConvertError "'<text>' is not a valid integer value for Integer type".
int32_t StrToInt(std::string_view AText);

// The same conversion without the error: false when the text does not convert.
bool TryStrToInt(std::string_view AText, int32_t& AValue) noexcept;

// Like TryStrToInt, for 64 bits and without leading blanks: at most one sign, then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow.
bool TryStrToInt64(std::string_view AText, int64_t& AValue) noexcept;

} // namespace platform
