#pragma once
// The class through which a program creates the framework's core and starts, stops and queries
// the server: TRelayCore -> TRelayProviderAbstract -> TRelayProvider -> TRelay.
#include "framework/relay/provider/console.hpp"

namespace relay {

class TRelay : public TRelayProvider {
public:
    // Makes the core as a TRelay. Fails with "The Relay instance has already been created"
    // when a core exists.
    static TRelay* Create();

protected:
    TRelay() = default;
    friend class TRelayCore;
};

} // namespace relay
