// History lines of the product routes.
#include "framework/relay/request.hpp"
#include "service/ws_relay.hpp"

namespace service {

std::string TWsRelayHandlers::ClientAddress(const relay::TRelayRequest& ARequest)
{
    return ARequest.RawWebRequest().RemoteAddr();
}

void TWsRelayHandlers::HistoryTrim()
{
    THistory::Trim();
}

void TWsRelayHandlers::AddressedLine(const relay::TRelayRequest& ARequest, int32_t AValue,
                                     const std::string& ARouteText)
{
    THistory::Add(AddressedHistoryLine(ClientAddress(ARequest), AValue, ARouteText));
}

void TWsRelayHandlers::BareLine(int32_t AValue, const std::string& ARouteText)
{
    THistory::Add(BareHistoryLine(AValue, ARouteText));
}

void TWsRelayHandlers::CurrentCountLine(const relay::TRelayRequest& ARequest, const std::string& ARouteText)
{
    const std::string address = ClientAddress(ARequest);
    THistory::Add(AddressedHistoryLine(address, TotalResolvidos.load(), ARouteText));
}

} // namespace service
