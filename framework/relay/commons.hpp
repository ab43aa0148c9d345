#pragma once
// Shared enumerations of the framework.
#include <cstdint>
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

} // namespace relay
