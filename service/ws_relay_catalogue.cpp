// Catalogue lookup routes (placeholders until the data layer is in).
#include "platform/base/exception.hpp"
#include "service/ws_relay.hpp"

namespace service {

void TWsRelayHandlers::GetDescricao(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

void TWsRelayHandlers::GetUm2(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

void TWsRelayHandlers::GetUm(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

void TWsRelayHandlers::GetDesc(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

void TWsRelayHandlers::GetDesc200(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

void TWsRelayHandlers::GetDescIni(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

} // namespace service
