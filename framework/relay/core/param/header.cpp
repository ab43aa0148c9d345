#include "framework/relay/core/param/header.hpp"

#include <string_view>
#include <unordered_map>

#include "platform/text/ascii.hpp"
#include "platform/text/compare.hpp"

namespace relay {

std::unique_ptr<TStrings> TRelayCoreParamHeader::RawHeaderLines(const platform::TWebRequest& AWebRequest)
{
    auto lines = std::make_unique<TStrings>();
    // The server keeps the lines it parsed; no second parse of the request.
    if (const platform::TStrings* raw = AWebRequest.RawHeaders())
        *lines = *raw;
    return lines;
}

std::unique_ptr<TStringDictionary> TRelayCoreParamHeader::GetHeaders(const platform::TWebRequest& AWebRequest)
{
    auto headers = std::make_unique<TStringDictionary>();
    std::unique_ptr<TStrings> lines = RawHeaderLines(AWebRequest);

    // Names and raw values (after the first ":") of every line, in order.
    std::vector<std::pair<std::string_view, std::string_view>> split;
    split.reserve(lines->size());
    for (const std::string& line : *lines) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            split.emplace_back(std::string_view(), std::string_view());
        else
            split.emplace_back(std::string_view(line).substr(0, colon), std::string_view(line).substr(colon + 1));
    }

    // Value of the first line of each name; header names are ASCII tokens, so folding ASCII
    // letters finds that line in one pass. Other names fall back to the locale-aware scan.
    std::unordered_map<std::string, std::string_view> firstValue;
    for (const auto& [name, value] : split)
        if (platform::IsAsciiText(name))
            firstValue.emplace(platform::AsciiLower(name), value);

    for (const auto& [name, value] : split) {
        std::string_view first;
        if (platform::IsAsciiText(name)) {
            first = firstValue.find(platform::AsciiLower(name))->second;
        } else {
            for (const auto& [otherName, otherValue] : split)
                if (platform::SameTextLocale(otherName, name)) {
                    first = otherValue;
                    break;
                }
        }
        headers->AddOrSetValue(std::string(name), std::string(platform::TrimControl(first)));
    }
    return headers;
}

} // namespace relay
