#pragma once
// What a route registration object offers: callbacks of several methods, and middleware, on one
// fixed path. Handed out as std::shared_ptr; each operation returns the same object.
#include <memory>
#include <string>
#include <vector>

#include "framework/relay/callback.hpp"

namespace relay {

template <class TCore>
class IRelayCoreRoute {
public:
    using TSelf = std::shared_ptr<IRelayCoreRoute<TCore>>;
    // The core's registration operation of one method (TCore::Get, TCore::Post...).
    using TCoreMethod = TCore& (*)(const std::string& APath, const TRelayCallbackForm& ACallback);

    virtual ~IRelayCoreRoute() = default;

    // Queues a callback on the core's pending list (it attaches to the next method registration).
    virtual TSelf AddCallback(const TRelayCallback& ACallback) = 0;
    virtual TSelf AddCallbacks(const std::vector<TRelayCallback>& ACallbacks) = 0;

    // Middleware on the route's path (not a callback for every method).
    virtual TSelf All(const TRelayCallback& ACallback) = 0;
    virtual TSelf All(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) = 0;
    virtual TSelf All(const std::vector<TRelayCallback>& ACallbacks) = 0;
    virtual TSelf All(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) = 0;

    // Route callbacks on the route's path, in any of the four forms, handed unchanged to the
    // core's operation of the same method.
    TSelf Get(const TRelayCallbackForm& ACallback) { return Register(&TCore::Get, ACallback); }
    TSelf Put(const TRelayCallbackForm& ACallback) { return Register(&TCore::Put, ACallback); }
    TSelf Head(const TRelayCallbackForm& ACallback) { return Register(&TCore::Head, ACallback); }
    TSelf Post(const TRelayCallbackForm& ACallback) { return Register(&TCore::Post, ACallback); }
    TSelf Patch(const TRelayCallbackForm& ACallback) { return Register(&TCore::Patch, ACallback); }
    TSelf Delete(const TRelayCallbackForm& ACallback) { return Register(&TCore::Delete, ACallback); }

    // The core, so a chain can go on with core-level calls; the route stays usable.
    virtual TCore& End() = 0;

protected:
    // Calls ACoreMethod with the route's path and the callback; returns the route.
    virtual TSelf Register(TCoreMethod ACoreMethod, const TRelayCallbackForm& ACallback) = 0;
};

} // namespace relay
