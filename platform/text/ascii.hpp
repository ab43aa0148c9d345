#pragma once
#include <string>
#include <string_view>

namespace platform {

// Case-insensitive comparison of ASCII letters only (protocol tokens: header names, media types).
bool AsciiSameText(std::string_view A, std::string_view B) noexcept;
bool AsciiStartsWithText(std::string_view AText, std::string_view APrefix) noexcept;
std::string AsciiLower(std::string_view AText);
// Removes every character of code 32 or below from both ends.
std::string_view TrimControl(std::string_view AText) noexcept;
// True when every byte is below 0x80.
bool IsAsciiText(std::string_view AText) noexcept;
// The value of a hexadecimal digit (either case), or -1 for any other character.
inline int HexDigitValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace platform
