#include "platform/text/compare.hpp"

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include "platform/text/ascii.hpp"

namespace platform {

bool SameTextLocale(std::string_view A, std::string_view B)
{
    bool asciiA = IsAsciiText(A);
    bool asciiB = IsAsciiText(B);
    if (asciiA && asciiB)
        return AsciiSameText(A, B);
    // Full folding can turn one character into several ("ß" -> "ss"), so the lengths of the
    // two texts say nothing when only one side is ASCII; let ICU decide.
    icu::UnicodeString ua = icu::UnicodeString::fromUTF8(icu::StringPiece(A.data(), static_cast<int32_t>(A.size())));
    icu::UnicodeString ub = icu::UnicodeString::fromUTF8(icu::StringPiece(B.data(), static_cast<int32_t>(B.size())));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

} // namespace platform
