#include "platform/text/ascii.hpp"

namespace platform {

namespace {
inline char Lower(char AChar) noexcept
{
    return (AChar >= 'A' && AChar <= 'Z') ? static_cast<char>(AChar + 32) : AChar;
}
} // namespace

bool AsciiSameText(std::string_view ALeft, std::string_view ARight) noexcept
{
    if (ALeft.size() != ARight.size())
        return false;
    for (size_t i = 0; i < ALeft.size(); ++i)
        if (Lower(ALeft[i]) != Lower(ARight[i]))
            return false;
    return true;
}

bool AsciiStartsWithText(std::string_view AText, std::string_view APrefix) noexcept
{
    return AText.size() >= APrefix.size() && AsciiSameText(AText.substr(0, APrefix.size()), APrefix);
}

std::string AsciiLower(std::string_view AText)
{
    std::string r(AText);
    for (auto& c : r)
        c = Lower(c);
    return r;
}

std::string_view TrimControl(std::string_view AText) noexcept
{
    size_t b = 0, e = AText.size();
    while (b < e && static_cast<unsigned char>(AText[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(AText[e - 1]) <= 32)
        --e;
    return AText.substr(b, e - b);
}

bool IsAsciiText(std::string_view AText) noexcept
{
    for (unsigned char c : AText)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace platform
