#include "platform/http/http_request_builder.hpp"

#include "platform/net/percent_decoding.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/utf8.hpp"
#include "platform/web/content_type.hpp"

namespace platform::http {

namespace {

// Host header before its port. A bracketed IPv6 literal keeps its brackets whole.
std::string HostWithoutPort(std::string_view AHost)
{
    if (!AHost.empty() && AHost.front() == '[') {
        size_t close = AHost.find(']');
        if (close != std::string_view::npos)
            return std::string(AHost.substr(0, close + 1));
    }
    return std::string(AHost.substr(0, AHost.find(':')));
}

int Base64Value(char AChar)
{
    if (AChar >= 'A' && AChar <= 'Z')
        return AChar - 'A';
    if (AChar >= 'a' && AChar <= 'z')
        return AChar - 'a' + 26;
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0' + 52;
    if (AChar == '+')
        return 62;
    if (AChar == '/')
        return 63;
    return -1;
}

std::string Base64Decode(std::string_view AText)
{
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : AText) {
        int v = Base64Value(c);
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

} // namespace

bool BuildRequest(THTTPAppRequest& ARequest, boost::beast::http::request<boost::beast::http::string_body>&& AMessage,
                  const std::string& ARemoteAddr, const TParseAuthenticationEvent& AOnParseAuthentication)
{
    ARequest.SetMethod(std::string(AMessage.method_string()));
    std::string_view target = AMessage.target();
    if (AsciiStartsWithText(target, "http://") || AsciiStartsWithText(target, "https://")) {
        size_t slash = target.find('/', target.find("//") + 2);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    ARequest.SetRawPathInfo(std::string(path));
    // "+" stays in a path (it is a space only in query and form text); a "%" without two hex
    // digits stays as it is; bytes that are not UTF-8 become U+FFFD.
    ARequest.SetPathInfo(Utf8Sanitize(PercentDecode(path)));
    if (question != std::string_view::npos)
        ARequest.SetQuery(std::string(target.substr(question + 1)));
    ARequest.SetRemoteAddr(ARemoteAddr);
    std::string authorization;
    bool hasAuthorization = false;
    for (const auto& field : AMessage) {
        std::string name(field.name_string());
        std::string value(field.value());
        ARequest.AddRawHeader(name + ": " + value);
        if (AsciiSameText(name, "Host") && ARequest.Host().empty())
            ARequest.SetHost(HostWithoutPort(value));
        else if (AsciiSameText(name, "Content-Type") && ARequest.ContentType().empty())
            ARequest.SetContentType(StripCharsetParameter(value));
        else if (AsciiSameText(name, "Authorization") && !hasAuthorization) {
            authorization = value;
            hasAuthorization = true;
        }
        ARequest.AddHeaderField(std::move(name), std::move(value));
    }
    ARequest.SetRawContent(std::move(AMessage.body()));

    if (hasAuthorization) {
        std::string_view auth = TrimControl(authorization);
        size_t blank = auth.find(' ');
        std::string scheme(auth.substr(0, blank));
        std::string data(blank == std::string_view::npos ? std::string_view() : TrimControl(auth.substr(blank)));
        std::string user, password;
        bool handled = false;
        if (AOnParseAuthentication)
            AOnParseAuthentication(scheme, data, user, password, handled);
        if (!handled) {
            if (!AsciiSameText(scheme, "Basic"))
                return false;
            std::string decoded = Base64Decode(data);
            size_t colon = decoded.find(':');
            user = decoded.substr(0, colon);
            password = colon == std::string::npos ? std::string() : decoded.substr(colon + 1);
        }
        ARequest.SetAuth(std::move(user), std::move(password));
    }
    return true;
}

} // namespace platform::http
