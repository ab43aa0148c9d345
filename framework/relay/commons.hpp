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

} // namespace relay
