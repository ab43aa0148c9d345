#pragma once
#include <string>
#include <string_view>

namespace platform {

// Case-insensitive comparison of ASCII letters only (protocol tokens: header names, media types).
bool AsciiSameText(std::string_view ALeft, std::string_view ARight) noexcept;
bool AsciiStartsWithText(std::string_view AText, std::string_view APrefix) noexcept;
std::string AsciiLower(std::string_view AText);
// Removes every character of code 32 or below from both ends.
std::string_view TrimControl(std::string_view AText) noexcept;
// True when every byte is below 0x80.
bool IsAsciiText(std::string_view AText) noexcept;
// The value of a hexadecimal digit (either case), or -1 for any other character.
inline int HexDigitValue(char AChar) noexcept
{
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

} // namespace platform
