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

} // namespace platform
