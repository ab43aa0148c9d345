#pragma once
// Percent-decoding ("%XX"), the one decoder of every text the web layer decodes: request paths,
// query and form fields, the router's parameter values, RFC 5987 file names.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

struct TPercentRules {
    // "+" stands for a space (query and form text); elsewhere it stays.
    bool PlusIsSpace = false;
    // "%%" stands for one "%".
    bool DoublePercent = false;
};

// Called for a "%" that two hexadecimal digits do not follow, with the whole text and the
// offset of that "%". It may throw to refuse the text; when it returns, the "%" is kept as it is.
using TMalformedEscape = void (*)(std::string_view AText, std::size_t AOffset);

// The bytes AText stands for: each "%" followed by two hexadecimal digits (either case) becomes
// that byte. The result is not checked as UTF-8; callers that need text sanitize it.
std::string PercentDecode(std::string_view AText, TPercentRules ARules = {}, TMalformedEscape AOnMalformed = nullptr);

} // namespace platform
