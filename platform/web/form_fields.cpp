#include "platform/web/form_fields.hpp"

#include "platform/net/percent_decoding.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/pieces.hpp"
#include "platform/text/utf8.hpp"
#include "platform/web/header_params.hpp"

namespace platform {

std::string FormDecode(std::string_view AText)
{
    std::string bytes = PercentDecode(AText, {.PlusIsSpace = true});
    return IsAsciiText(bytes) ? bytes : Utf8Sanitize(bytes);
}

void ExtractUrlEncodedFields(std::string_view AText, std::vector<std::string>& ALines)
{
    ForEachPiece(AText, "&", [&](std::string_view APiece) {
        if (APiece.empty())
            return;
        size_t eq = APiece.find('=');
        if (eq == std::string_view::npos)
            ALines.push_back(FormDecode(APiece));
        else
            ALines.push_back(FormDecode(APiece.substr(0, eq)) + "=" + FormDecode(APiece.substr(eq + 1)));
    });
}

std::string_view MediaTypeOf(std::string_view AContentType) noexcept
{
    size_t semi = AContentType.find(';');
    std::string_view type = AContentType.substr(0, semi);
    size_t b = 0, e = type.size();
    while (b < e && (type[b] == ' ' || type[b] == '\t'))
        ++b;
    while (e > b && (type[e - 1] == ' ' || type[e - 1] == '\t'))
        --e;
    return type.substr(b, e - b);
}

bool IsMediaType(std::string_view AContentType, std::string_view AMediaType) noexcept
{
    return AsciiSameText(MediaTypeOf(AContentType), AMediaType);
}

std::optional<std::string> ContentTypeParameter(std::string_view AContentType, std::string_view AName)
{
    size_t semi = AContentType.find(';');
    if (semi == std::string_view::npos)
        return std::nullopt;
    THeaderParams params;
    if (!ParseHeaderParams(AContentType.substr(semi + 1), params))
        return std::nullopt;
    for (const auto& [name, value] : params)
        if (AsciiSameText(name, AName))
            return value;
    return std::nullopt;
}

} // namespace platform
