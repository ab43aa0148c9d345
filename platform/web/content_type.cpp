#include "platform/web/content_type.hpp"

#include <vector>

#include "platform/text/ascii.hpp"

namespace platform {

namespace {

struct TParameter {
    std::string_view Name;
    std::string_view Value;
    bool HasValue = false;
};

// Splits "type/subtype; a=b; c="x;y"" at the semicolons outside quoted strings.
std::vector<std::string_view> SplitItems(std::string_view AHeader)
{
    std::vector<std::string_view> items;
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < AHeader.size(); ++i) {
        const char c = AHeader[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            items.push_back(AHeader.substr(start, i - start));
            start = i + 1;
        }
    }
    items.push_back(AHeader.substr(start));
    return items;
}

TParameter ParseParameter(std::string_view AItem)
{
    TParameter p;
    const size_t eq = AItem.find('=');
    if (eq == std::string_view::npos) {
        p.Name = TrimControl(AItem);
    } else {
        p.Name = TrimControl(AItem.substr(0, eq));
        p.Value = TrimControl(AItem.substr(eq + 1));
        p.HasValue = true;
    }
    return p;
}

std::string Unquote(std::string_view AValue)
{
    if (AValue.size() < 2 || AValue.front() != '"' || AValue.back() != '"')
        return std::string(AValue);
    std::string out;
    for (size_t i = 1; i + 1 < AValue.size(); ++i) {
        if (AValue[i] == '\\' && i + 2 < AValue.size())
            ++i;
        out += AValue[i];
    }
    return out;
}

} // namespace

std::string StripCharsetParameter(std::string_view AHeader)
{
    const std::vector<std::string_view> items = SplitItems(AHeader);
    bool hasCharset = false;
    for (size_t i = 1; i < items.size() && !hasCharset; ++i)
        hasCharset = AsciiSameText(ParseParameter(items[i]).Name, "charset");
    if (!hasCharset)
        return std::string(AHeader);

    std::string out(TrimControl(items[0]));
    for (size_t i = 1; i < items.size(); ++i) {
        const TParameter p = ParseParameter(items[i]);
        if (p.Name.empty() || AsciiSameText(p.Name, "charset"))
            continue;
        out += "; ";
        out += p.Name;
        if (p.HasValue) {
            out += '=';
            out += p.Value;
        }
    }
    return out;
}

std::string CharsetParameter(std::string_view AHeader)
{
    const std::vector<std::string_view> items = SplitItems(AHeader);
    for (size_t i = 1; i < items.size(); ++i) {
        const TParameter p = ParseParameter(items[i]);
        if (AsciiSameText(p.Name, "charset"))
            return Unquote(p.Value);
    }
    return {};
}

} // namespace platform
