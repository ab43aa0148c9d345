#pragma once
// Shared enumerations and path helpers of the framework.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace relay {

// HTTP statuses; each member's value is its status number.
enum class TResponseStatus : uint16_t {
    Continue = 100,
    SwitchingProtocols = 101,
    OK = 200,
    Created = 201,
    Accepted = 202,
    NonAuthoritativeInformation = 203,
    NoContent = 204,
    ResetContent = 205,
    PartialContent = 206,
    MultipleChoices = 300,
    MovedPermanently = 301,
    Found = 302,
    SeeOther = 303,
    NotModified = 304,
    TemporaryRedirect = 307,
    PermanentRedirect = 308,
    BadRequest = 400,
    Unauthorized = 401,
    PaymentRequired = 402,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    NotAcceptable = 406,
    RequestTimeout = 408,
    Conflict = 409,
    Gone = 410,
    LengthRequired = 411,
    PreconditionFailed = 412,
    PayloadTooLarge = 413,
    URITooLong = 414,
    UnsupportedMediaType = 415,
    RangeNotSatisfiable = 416,
    ExpectationFailed = 417,
    UnprocessableEntity = 422,
    TooManyRequests = 429,
    InternalServerError = 500,
    NotImplemented = 501,
    BadGateway = 502,
    ServiceUnavailable = 503,
    GatewayTimeout = 504,
    HTTPVersionNotSupported = 505,
};

constexpr int32_t StatusToInteger(TResponseStatus AStatus) noexcept
{
    return static_cast<int32_t>(static_cast<uint16_t>(AStatus));
}

enum class TMessageType : uint8_t { Default = 0, Error = 1, Warning = 2, Information = 3 };

// The member's name as declared: "Default", "Error", "Warning", "Information".
constexpr std::string_view MessageTypeName(TMessageType AType) noexcept
{
    switch (AType) {
    case TMessageType::Default: return "Default";
    case TMessageType::Error: return "Error";
    case TMessageType::Warning: return "Warning";
    case TMessageType::Information: return "Information";
    }
    return {};
}

// Media types the framework names: form requests (members 0 and 1) and Render (TextHtml).
enum class TMediaType : uint8_t {
    MultipartFormData = 0,
    ApplicationXWwwFormUrlencoded = 1,
    ApplicationJson = 2,
    ApplicationOctetStream = 3,
    ApplicationXml = 4,
    ApplicationJavascript = 5,
    ApplicationPdf = 6,
    ApplicationTypescript = 7,
    ApplicationZip = 8,
    TextPlain = 9,
    TextCss = 10,
    TextCsv = 11,
    TextHtml = 12,
    ImageJpeg = 13,
    ImagePng = 14,
    ImageGif = 15,
    ApplicationXDownload = 16,
};

// The MIME text of a member; empty for a value outside the enumeration.
constexpr std::string_view MediaTypeText(TMediaType AType) noexcept
{
    switch (AType) {
    case TMediaType::MultipartFormData: return "multipart/form-data";
    case TMediaType::ApplicationXWwwFormUrlencoded: return "application/x-www-form-urlencoded";
    case TMediaType::ApplicationJson: return "application/json";
    case TMediaType::ApplicationOctetStream: return "application/octet-stream";
    case TMediaType::ApplicationXml: return "application/xml";
    case TMediaType::ApplicationJavascript: return "application/javascript";
    case TMediaType::ApplicationPdf: return "application/pdf";
    case TMediaType::ApplicationTypescript: return "application/typescript";
    case TMediaType::ApplicationZip: return "application/zip";
    case TMediaType::TextPlain: return "text/plain";
    case TMediaType::TextCss: return "text/css";
    case TMediaType::TextCsv: return "text/csv";
    case TMediaType::TextHtml: return "text/html";
    case TMediaType::ImageJpeg: return "image/jpeg";
    case TMediaType::ImagePng: return "image/png";
    case TMediaType::ImageGif: return "image/gif";
    case TMediaType::ApplicationXDownload: return "application/x-download";
    }
    return {};
}

// Operators of bracket keys such as "price[gte]"; ordinals 0 to 10.
enum class TLhsBracketsType : uint8_t {
    Equal,
    NotEqual,
    LessThan,
    LessThanOrEqual,
    GreaterThan,
    GreaterThanOrEqual,
    Range,
    Like,
    Contains,
    StartsWith,
    EndsWith,
};

inline constexpr TLhsBracketsType KLhsBracketsTypes[] = {
    TLhsBracketsType::Equal,           TLhsBracketsType::NotEqual,    TLhsBracketsType::LessThan,
    TLhsBracketsType::LessThanOrEqual, TLhsBracketsType::GreaterThan, TLhsBracketsType::GreaterThanOrEqual,
    TLhsBracketsType::Range,           TLhsBracketsType::Like,        TLhsBracketsType::Contains,
    TLhsBracketsType::StartsWith,      TLhsBracketsType::EndsWith,
};

// A set of operators: bit n stands for the operator of ordinal n.
class TLhsBrackets {
public:
    constexpr TLhsBrackets() noexcept = default;
    constexpr TLhsBrackets(std::initializer_list<TLhsBracketsType> ATypes) noexcept
    {
        for (TLhsBracketsType t : ATypes)
            Include(t);
    }

    constexpr bool Has(TLhsBracketsType AType) const noexcept { return (FBits & Bit(AType)) != 0; }
    constexpr TLhsBrackets& Include(TLhsBracketsType AType) noexcept
    {
        FBits |= Bit(AType);
        return *this;
    }
    constexpr TLhsBrackets& Exclude(TLhsBracketsType AType) noexcept
    {
        FBits = static_cast<uint16_t>(FBits & ~Bit(AType));
        return *this;
    }
    constexpr bool IsEmpty() const noexcept { return FBits == 0; }
    constexpr uint16_t Bits() const noexcept { return FBits; }
    constexpr bool operator==(const TLhsBrackets&) const noexcept = default;

private:
    static constexpr uint16_t Bit(TLhsBracketsType AType) noexcept
    {
        return static_cast<uint16_t>(1u << static_cast<unsigned>(AType));
    }
    uint16_t FBits = 0;
};

// The key suffix of an operator. Case-sensitive: "[startsWith]" and "[endsWith]" have a capital W.
constexpr std::string_view BracketSuffix(TLhsBracketsType AType) noexcept
{
    switch (AType) {
    case TLhsBracketsType::Equal: return "[eq]";
    case TLhsBracketsType::NotEqual: return "[ne]";
    case TLhsBracketsType::LessThan: return "[lt]";
    case TLhsBracketsType::LessThanOrEqual: return "[lte]";
    case TLhsBracketsType::GreaterThan: return "[gt]";
    case TLhsBracketsType::GreaterThanOrEqual: return "[gte]";
    case TLhsBracketsType::Range: return "[range]";
    case TLhsBracketsType::Like: return "[like]";
    case TLhsBracketsType::Contains: return "[contains]";
    case TLhsBracketsType::StartsWith: return "[startsWith]";
    case TLhsBracketsType::EndsWith: return "[endsWith]";
    }
    return {};
}

// The text without its leading and trailing "/" characters (only "/", only at the two ends):
// what every registered path, prefix and group path is normalised with.
constexpr std::string_view TrimSlashes(std::string_view AText) noexcept
{
    const size_t first = AText.find_first_not_of('/');
    if (first == std::string_view::npos)
        return {};
    return AText.substr(first, AText.find_last_not_of('/') - first + 1);
}

// AHead, "/", then AText without its leading and trailing "/" characters.
inline std::string JoinSlashPath(std::string_view AHead, std::string_view AText)
{
    const std::string_view tail = TrimSlashes(AText);
    std::string result;
    result.reserve(AHead.size() + 1 + tail.size());
    result.append(AHead).append(1, '/').append(tail);
    return result;
}

} // namespace relay
