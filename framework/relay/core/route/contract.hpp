#pragma once
// What a route registration object offers: callbacks of several methods, and middleware, on one
// fixed path. Handed out as std::shared_ptr; each operation returns the same object.
#include <memory>
#include <vector>

#include "framework/relay/callback.hpp"

namespace relay {

template <class TCore>
class IRelayCoreRoute {
public:
    using TSelf = std::shared_ptr<IRelayCoreRoute<TCore>>;

    virtual ~IRelayCoreRoute() = default;

    // Queues a callback on the core's pending list (it attaches to the next method registration).
    virtual TSelf AddCallback(const TRelayCallback& ACallback) = 0;
    virtual TSelf AddCallbacks(const std::vector<TRelayCallback>& ACallbacks) = 0;

    // Middleware on the route's path (not a callback for every method).
    virtual TSelf All(const TRelayCallback& ACallback) = 0;
    virtual TSelf All(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) = 0;
    virtual TSelf All(const std::vector<TRelayCallback>& ACallbacks) = 0;
    virtual TSelf All(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) = 0;

    virtual TSelf Get(const TRelayCallback& ACallback) = 0;
    virtual TSelf Get(const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Get(const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Get(const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Put(const TRelayCallback& ACallback) = 0;
    virtual TSelf Put(const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Put(const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Put(const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Head(const TRelayCallback& ACallback) = 0;
    virtual TSelf Head(const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Head(const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Head(const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Post(const TRelayCallback& ACallback) = 0;
    virtual TSelf Post(const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Post(const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Post(const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Patch(const TRelayCallback& ACallback) = 0;
    virtual TSelf Delete(const TRelayCallback& ACallback) = 0;
    virtual TSelf Patch(const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Patch(const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Patch(const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Delete(const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Delete(const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Delete(const TRelayCallbackResponse& ACallback) = 0;

    // The core, so a chain can go on with core-level calls; the route stays usable.
    virtual TCore& End() = 0;
};

} // namespace relay
