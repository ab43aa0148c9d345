#include "platform/net/url_encoding.hpp"

#include "platform/base/exception.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/str_to_int.hpp"  // EConvertError
#include "platform/text/utf8.hpp"

namespace platform {

namespace {

// Byte length of the UTF-8 sequence starting with c (the text is valid UTF-8 here).
size_t SequenceLength(unsigned char c) noexcept
{
    if (c < 0x80) return 1;
    if (c >= 0xF0) return 4;
    if (c >= 0xE0) return 3;
    return 2;
}

// One character of the text: its bytes and its length in UTF-16 units.
struct TChar {
    std::string_view Bytes;
    size_t Units;
};

TChar CharAt(std::string_view AText, size_t AOffset) noexcept
{
    size_t len = SequenceLength(static_cast<unsigned char>(AText[AOffset]));
    if (AOffset + len > AText.size())
        len = AText.size() - AOffset;
    return {AText.substr(AOffset, len), len == 4 ? 2u : 1u};
}

} // namespace

std::string TNetEncoding::URL::Decode(std::string_view AInput)
{
    // Only "%" escapes and "+" change anything; a text without them decodes to itself
    // (after the UTF-8 reading that every result gets).
    if (AInput.find_first_of("%+") == std::string_view::npos)
        return Utf8Sanitize(AInput);

    // Positions are counted in the characters of the text, so read it as valid UTF-8 first.
    const std::string text = Utf8Sanitize(AInput);
    std::string bytes;
    bytes.reserve(text.size());
    size_t units = 0;  // UTF-16 position of text[i]
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '+') {
            bytes += ' ';
            ++i;
            ++units;
        } else if (c == '%') {
            size_t after = units + 1;  // the position just after the "%"
            if (i + 1 < text.size() && text[i + 1] == '%') {
                bytes += '%';
                i += 2;
                units += 2;
                continue;
            }
            // Two characters must follow.
            size_t j = i + 1;
            size_t have = 0;
            std::string pair;
            while (j < text.size() && have < 2) {
                TChar ch = CharAt(text, j);
                pair.append(ch.Bytes);
                have += ch.Units;
                j += ch.Bytes.size();
            }
            if (have < 2)
                throw EConvertError("Error decoding URL style (%XX) encoded string at position " + std::to_string(after));
            int hi = HexDigitValue(text[i + 1]);
            int lo = pair.size() == 2 ? HexDigitValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                throw EConvertError("Invalid URL encoded character (%" + pair + ") at position " + std::to_string(after));
            bytes += static_cast<char>(hi * 16 + lo);
            i += 3;
            units += 3;
        } else {
            TChar ch = CharAt(text, i);
            bytes.append(ch.Bytes);
            i += ch.Bytes.size();
            units += ch.Units;
        }
    }
    return Utf8Sanitize(bytes);
}

} // namespace platform
