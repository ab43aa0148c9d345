#include "platform/text/utf8.hpp"

namespace platform {

void AppendUtf8(std::string& AOut, char32_t ACodePoint)
{
    if (ACodePoint < 0x80) {
        AOut += static_cast<char>(ACodePoint);
    } else if (ACodePoint < 0x800) {
        AOut += static_cast<char>(0xC0 | (ACodePoint >> 6));
        AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
    } else if (ACodePoint < 0x10000) {
        AOut += static_cast<char>(0xE0 | (ACodePoint >> 12));
        AOut += static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
    } else {
        AOut += static_cast<char>(0xF0 | (ACodePoint >> 18));
        AOut += static_cast<char>(0x80 | ((ACodePoint >> 12) & 0x3F));
        AOut += static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
    }
}

namespace {

// Length of the valid UTF-8 sequence at ABytes (1..4), or 0 when it is not valid.
size_t ValidSequence(const unsigned char* ABytes, size_t ALength) noexcept
{
    unsigned char c = ABytes[0];
    if (c < 0x80)
        return 1;
    auto cont = [&](size_t AIndex) { return AIndex < ALength && (ABytes[AIndex] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (c == 0xE0 && ABytes[1] < 0xA0)
            return 0; // overlong
        if (c == 0xED && ABytes[1] > 0x9F)
            return 0; // surrogates
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (c == 0xF0 && ABytes[1] < 0x90)
            return 0;
        if (c == 0xF4 && ABytes[1] > 0x8F)
            return 0;
        return 4;
    }
    return 0;
}

} // namespace

std::string Utf8Sanitize(std::string_view ABytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(ABytes.data());
    size_t n = ABytes.size();
    // Fast path: most bodies are valid already.
    size_t i = 0;
    while (i < n) {
        size_t len = ValidSequence(p + i, n - i);
        if (len == 0)
            break;
        i += len;
    }
    if (i == n)
        return std::string(ABytes);
    std::string out(ABytes.substr(0, i));
    while (i < n) {
        size_t len = ValidSequence(p + i, n - i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(ABytes.data() + i, len);
            i += len;
        }
    }
    return out;
}

size_t Utf16Length(std::string_view AText) noexcept
{
    size_t units = 0;
    for (unsigned char c : AText) {
        if ((c & 0xC0) != 0x80)
            ++units; // lead byte or ASCII
        if ((c & 0xF8) == 0xF0)
            ++units; // 4-byte sequence: a surrogate pair
    }
    return units;
}

} // namespace platform
