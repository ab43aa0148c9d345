#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string Utf8Sanitize(std::string_view ABytes);
// Number of UTF-16 code units the (valid) UTF-8 text takes: the length the platform's strings have.
size_t Utf16Length(std::string_view AText) noexcept;
// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& AOut, char32_t ACodePoint);

} // namespace platform
