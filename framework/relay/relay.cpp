#include "framework/relay/relay.hpp"

namespace relay {

TRelay* TRelay::Create()
{
    return TRelayCore::CreateAs<TRelay>();
}

namespace {

// Keep-alive is on from before the program body runs (when this unit is part of the program).
const bool KKeepAliveOn = (TRelayProvider::SetKeepAlive(true), true);

} // namespace

} // namespace relay
