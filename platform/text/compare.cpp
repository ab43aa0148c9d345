#include "platform/text/compare.hpp"

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include "platform/text/ascii.hpp"

namespace platform {

bool SameTextLocale(std::string_view ALeft, std::string_view ARight)
{
    bool asciiLeft = IsAsciiText(ALeft);
    bool asciiRight = IsAsciiText(ARight);
    if (asciiLeft && asciiRight)
        return AsciiSameText(ALeft, ARight);
    // Full folding can turn one character into several ("ß" -> "ss"), so the lengths of the
    // two texts say nothing when only one side is ASCII; let ICU decide.
    icu::UnicodeString left =
        icu::UnicodeString::fromUTF8(icu::StringPiece(ALeft.data(), static_cast<int32_t>(ALeft.size())));
    icu::UnicodeString right =
        icu::UnicodeString::fromUTF8(icu::StringPiece(ARight.data(), static_cast<int32_t>(ARight.size())));
    return left.caseCompare(right, U_FOLD_CASE_DEFAULT) == 0;
}

} // namespace platform
