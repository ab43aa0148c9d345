// The web-service object. Stand-in until the framework's server provider is in.
#include "platform/base/exception.hpp"
#include "service/ws_relay.hpp"

namespace service {

TWsRelay::TWsRelay()
{
    throw platform::Exception("The web service is not available yet");
}

TWsRelay& TWsRelay::Port(int32_t)
{
    return *this;
}

TWsRelay& TWsRelay::Path(const std::string& AValue)
{
    FPath = AValue;
    return *this;
}

bool TWsRelay::Active() const
{
    return false;
}

void TWsRelay::Power() {}

} // namespace service
