#pragma once
// The provider contract: start and stop the server, and the two process-wide callbacks.
// Everything here is class-level: a process has at most one server.
#include "framework/relay/callback.hpp"
#include "framework/relay/core.hpp"

namespace relay {

class TRelayProviderAbstract : public TRelayCore {
public:
    // Makes the core as an object of this class (see TRelayCore::CreateAs).
    static TRelayProviderAbstract* Create() { return CreateAs<TRelayProviderAbstract>(); }

    // Left to the provider below: on this class it fails with EAbstractError.
    static void Listen();
    // Fails with Exception "StopListen not implemented".
    static void StopListen();

    // Store the callback, replacing the previous one; an empty one clears it.
    static void SetOnListen(const TProc& AOnListen);
    static void SetOnStopListen(const TProc& AOnStopListen);
    // Call the stored callback when one is set; its exception passes to the caller.
    static void FireOnListen();
    static void FireOnStopListen();

private:
    static TProc& OnListenRef();
    static TProc& OnStopListenRef();
};

} // namespace relay
