#include "platform/net/url_encoding.hpp"

#include "platform/base/exception.hpp"
#include "platform/net/percent_decoding.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/str_to_int.hpp" // EConvertError
#include "platform/text/utf8.hpp"

namespace platform {

namespace {

// Byte length of the UTF-8 sequence starting with ALead (the text is valid UTF-8 here).
size_t SequenceLength(unsigned char ALead) noexcept
{
    if (ALead < 0x80)
        return 1;
    if (ALead >= 0xF0)
        return 4;
    if (ALead >= 0xE0)
        return 3;
    return 2;
}

// A "%" without two hexadecimal digits: the message names the position just after the "%",
// counted in UTF-16 units from 0, and, when two characters follow, those two characters.
[[noreturn]] void RefuseEscape(std::string_view AText, size_t AOffset)
{
    const size_t after = Utf16Length(AText.substr(0, AOffset)) + 1;
    size_t j = AOffset + 1;
    size_t units = 0;
    std::string pair;
    while (j < AText.size() && units < 2) {
        size_t len = SequenceLength(static_cast<unsigned char>(AText[j]));
        if (j + len > AText.size())
            len = AText.size() - j;
        pair.append(AText.substr(j, len));
        units += len == 4 ? 2 : 1;
        j += len;
    }
    if (units < 2)
        throw EConvertError("Error decoding URL style (%XX) encoded string at position " + std::to_string(after));
    throw EConvertError("Invalid URL encoded character (%" + pair + ") at position " + std::to_string(after));
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
    return Utf8Sanitize(PercentDecode(text, {.PlusIsSpace = true, .DoublePercent = true}, &RefuseEscape));
}

} // namespace platform
