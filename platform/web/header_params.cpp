#include "platform/web/header_params.hpp"

namespace platform {

namespace {

bool IsBlank(char AChar) noexcept
{
    return AChar == ' ' || AChar == '\t';
}

std::string_view TrimBlanks(std::string_view AText) noexcept
{
    size_t b = 0, e = AText.size();
    while (b < e && IsBlank(AText[b]))
        ++b;
    while (e > b && IsBlank(AText[e - 1]))
        --e;
    return AText.substr(b, e - b);
}

} // namespace

bool ParseHeaderParams(std::string_view AText, THeaderParams& AParams)
{
    size_t i = 0;
    const size_t n = AText.size();
    while (i < n) {
        // name: up to "=" or ";"
        size_t nameStart = i;
        while (i < n && AText[i] != '=' && AText[i] != ';')
            ++i;
        std::string_view name = TrimBlanks(AText.substr(nameStart, i - nameStart));
        if (i >= n || AText[i] == ';') {
            ++i; // a piece without "=" is skipped
            continue;
        }
        ++i; // "="
        while (i < n && IsBlank(AText[i]))
            ++i;
        std::string value;
        if (i < n && AText[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                char c = AText[i];
                if (c == '\\' && i + 1 < n && (AText[i + 1] == '"' || AText[i + 1] == '\\')) {
                    value += AText[i + 1];
                    i += 2;
                } else if (c == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    value += c;
                    ++i;
                }
            }
            if (!closed)
                return false;
            // anything between the closing quote and the next ";" is ignored
            while (i < n && AText[i] != ';')
                ++i;
        } else {
            size_t valueStart = i;
            while (i < n && AText[i] != ';')
                ++i;
            value = std::string(TrimBlanks(AText.substr(valueStart, i - valueStart)));
        }
        if (i < n)
            ++i; // ";"
        if (!name.empty())
            AParams.emplace_back(std::string(name), std::move(value));
    }
    return true;
}

} // namespace platform
