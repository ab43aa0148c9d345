// Product insert route (placeholder until the data layer is in).
#include "platform/base/exception.hpp"
#include "service/ws_relay.hpp"

namespace service {

void TWsRelayHandlers::PostGrava(relay::TRelayRequest&, relay::TRelayResponse&, const TNext&)
{
    throw platform::Exception("not available yet");
}

} // namespace service
