#pragma once
// In-memory web-request layer for tests: a request filled by hand and a response that only
// records what would go out.
#include <memory>
#include <string>

#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/web/web_request.hpp"
#include "platform/web/web_response.hpp"

namespace testing_support {

class TMemoryWebRequest : public platform::TWebRequest {
public:
    TMemoryWebRequest() = default;
    // ARawTarget may carry a query string after "?"; the path keeps its undecoded text.
    TMemoryWebRequest(const std::string& AMethod, const std::string& ARawTarget)
    {
        SetMethod(AMethod);
        SetTarget(ARawTarget);
    }

    void SetTarget(const std::string& ARawTarget)
    {
        auto q = ARawTarget.find('?');
        SetRawPathInfo(ARawTarget.substr(0, q));
        SetPathInfo(ARawTarget.substr(0, q));
        SetQuery(q == std::string::npos ? std::string() : ARawTarget.substr(q + 1));
    }
};

class TMemoryWebResponse : public platform::TWebResponse {
public:
    int SendCount = 0;

protected:
    void DoSendResponse() override { ++SendCount; }
};

// One request/response pair with the framework objects around them.
struct TMemoryExchange {
    TMemoryWebRequest WebRequest;
    TMemoryWebResponse WebResponse;
    std::unique_ptr<relay::TRelayRequest> Request;
    std::unique_ptr<relay::TRelayResponse> Response;

    TMemoryExchange(const std::string& AMethod, const std::string& ARawTarget) : WebRequest(AMethod, ARawTarget)
    {
        Request = std::make_unique<relay::TRelayRequest>(WebRequest);
        Response = std::make_unique<relay::TRelayResponse>(WebResponse);
    }

    relay::TRelayRequest& Req() { return *Request; }
    relay::TRelayResponse& Res() { return *Response; }
    int Status() const { return WebResponse.StatusCode(); }
    const std::string& Content() const { return WebResponse.Content(); }
};

} // namespace testing_support
