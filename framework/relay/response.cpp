#include "framework/relay/response.hpp"

namespace relay {

TRelayResponse::TRelayResponse(platform::TWebResponse& AWebResponse) : FWebResponse(&AWebResponse)
{
    FWebResponse->SetStatusCode(StatusToInteger(TResponseStatus::OK));
}

TRelayResponse::~TRelayResponse()
{
    delete FContent;
}

TRelayResponse& TRelayResponse::Send(const std::string& AContent)
{
    FWebResponse->SetContent(AContent);
    return *this;
}

TRelayResponse& TRelayResponse::Content(platform::TObject* AContent)
{
    FContent = AContent;
    return *this;
}

TRelayResponse& TRelayResponse::ContentType(const std::string& AContentType)
{
    FWebResponse->SetContentType(AContentType);
    return *this;
}

TRelayResponse& TRelayResponse::Status(int AStatus)
{
    FWebResponse->SetStatusCode(AStatus);
    return *this;
}

int TRelayResponse::Status() const
{
    return FWebResponse->StatusCode();
}

TRelayResponse& TRelayResponse::AddHeader(const std::string& AName, const std::string& AValue)
{
    FWebResponse->SetCustomHeader(AName, AValue);
    return *this;
}

TRelayResponse& TRelayResponse::RemoveHeader(const std::string& AName)
{
    int index = FWebResponse->IndexOfName(AName);
    if (index >= 0)
        FWebResponse->DeleteCustomHeader(index);
    return *this;
}

TRelayResponse& TRelayResponse::RedirectTo(const std::string& ALocation)
{
    return RedirectTo(ALocation, TResponseStatus::SeeOther);
}

TRelayResponse& TRelayResponse::RedirectTo(const std::string& ALocation, TResponseStatus AStatus)
{
    AddHeader("Location", ALocation);
    return Status(AStatus);
}

} // namespace relay
