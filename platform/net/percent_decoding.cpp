#include "platform/net/percent_decoding.hpp"

#include "platform/text/ascii.hpp"

namespace platform {

std::string PercentDecode(std::string_view AText, TPercentRules ARules, TMalformedEscape AOnMalformed)
{
    std::string out;
    out.reserve(AText.size());
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '+' && ARules.PlusIsSpace) {
            out += ' ';
            continue;
        }
        if (c != '%') {
            out += c;
            continue;
        }
        if (ARules.DoublePercent && i + 1 < AText.size() && AText[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        const int hi = i + 2 < AText.size() ? HexDigitValue(AText[i + 1]) : -1;
        const int lo = hi >= 0 ? HexDigitValue(AText[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            continue;
        }
        if (AOnMalformed)
            AOnMalformed(AText, i);
        out += '%';
    }
    return out;
}

} // namespace platform
