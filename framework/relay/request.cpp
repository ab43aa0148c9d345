#include "framework/relay/request.hpp"

namespace relay {

TRelayRequest::TRelayRequest(platform::TWebRequest& AWebRequest) : FWebRequest(&AWebRequest) {}

TRelayRequest::~TRelayRequest()
{
    FHeaders.reset();
    FQuery.reset();
    FParams.reset();
    FContentFields.reset();
    FCookie.reset();
    delete FBody;
    FBody = nullptr;
    FSessions.reset();
}

const std::string& TRelayRequest::Body() const
{
    return FWebRequest->Content();
}

TRelayRequest& TRelayRequest::Body(platform::TObject* ABody)
{
    FBody = ABody;
    return *this;
}

TRelaySessions& TRelayRequest::Sessions()
{
    if (!FSessions)
        FSessions = std::make_unique<TRelaySessions>();
    return *FSessions;
}

TRelayCoreParam& TRelayRequest::Params()
{
    if (!FParams) {
        FParams = std::make_unique<TRelayCoreParam>(std::make_unique<TStringDictionary>());
        FParams->Required(true);
    }
    return *FParams;
}

std::string TRelayRequest::PathInfo() const
{
    const std::string& path = FWebRequest->PathInfo();
    return path.empty() ? std::string("/") : path;
}

} // namespace relay
