#pragma once
// The request and reply objects of the HTTP server, as the web request handler and the framework
// see them, and the events the server asks its owner.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/web/web_request.hpp"
#include "platform/web/web_response.hpp"

namespace platform {

// (scheme, credentials text, user name, password, handled)
using TParseAuthenticationEvent = std::function<void(const std::string& AAuthType, const std::string& AAuthData,
                                                     std::string& VUsername, std::string& VPassword, bool& VHandled)>;
// (port, use TLS)
using TQuerySSLPortEvent = std::function<void(uint16_t APort, bool& VUseSSL)>;

// The request as the server parsed it. Header lines are kept as received, so readers get them
// without a second parse.
class THTTPAppRequest : public TWebRequest {
public:
    const TStrings* RawHeaders() const override { return &FRawHeaders; }

    // Basic credentials, decoded only when no authentication handler took the header.
    const std::string& AuthUserName() const { return FAuthUserName; }
    const std::string& AuthPassword() const { return FAuthPassword; }

    void AddRawHeader(std::string ALine) { FRawHeaders.push_back(std::move(ALine)); }
    void SetAuth(std::string AUser, std::string APassword)
    {
        FAuthUserName = std::move(AUser);
        FAuthPassword = std::move(APassword);
    }

private:
    TStrings FRawHeaders;
    std::string FAuthUserName;
    std::string FAuthPassword;
};

// Where a reply goes: the connection its request came on.
class IReplyTarget {
public:
    // Sends the reply (or starts to: the rest goes out once the client takes it). Throws
    // Exception when the client has gone.
    virtual void SendReply(const TWebResponse& AResponse) = 0;

protected:
    ~IReplyTarget() = default;
};

// The reply, handed to the connection by SendResponse.
class THTTPAppResponse : public TWebResponse {
public:
    explicit THTTPAppResponse(IReplyTarget& ATarget) : FTarget(ATarget) {}

protected:
    void DoSendResponse() override { FTarget.SendReply(*this); }

private:
    IReplyTarget& FTarget;
};

} // namespace platform
