#pragma once
// What a group registration object offers: one path prefix in front of every path registered
// through it. Handed out as std::shared_ptr; each operation returns the same object.
#include <memory>
#include <string>
#include <vector>

#include "framework/relay/callback.hpp"
#include "framework/relay/core/route/contract.hpp"

namespace relay {

template <class TCore>
class IRelayCoreGroup {
public:
    using TSelf = std::shared_ptr<IRelayCoreGroup<TCore>>;

    virtual ~IRelayCoreGroup() = default;

    // "/" and APrefix without its leading and trailing "/"; replaces the previous prefix for
    // registrations made from now on.
    virtual TSelf Prefix(const std::string& APrefix) = 0;
    // A new route on the prefixed path; later prefix changes do not move it.
    virtual std::shared_ptr<IRelayCoreRoute<TCore>> Route(const std::string& APath) = 0;
    // Queues a callback on the core's pending list (it attaches to the next method registration).
    virtual TSelf AddCallback(const TRelayCallback& ACallback) = 0;
    virtual TSelf AddCallbacks(const std::vector<TRelayCallback>& ACallbacks) = 0;

    // Middleware on the prefix path; every callback here is middleware.
    virtual TSelf Use(const TRelayCallback& ACallback) = 0;
    virtual TSelf Use(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) = 0;
    virtual TSelf Use(const std::vector<TRelayCallback>& ACallbacks) = 0;
    virtual TSelf Use(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) = 0;

    virtual TSelf Get(const std::string& APath, const TRelayCallback& ACallback) = 0;
    virtual TSelf Get(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Get(const std::string& APath, const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Get(const std::string& APath, const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Put(const std::string& APath, const TRelayCallback& ACallback) = 0;
    virtual TSelf Put(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Put(const std::string& APath, const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Put(const std::string& APath, const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Head(const std::string& APath, const TRelayCallback& ACallback) = 0;
    virtual TSelf Head(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Head(const std::string& APath, const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Head(const std::string& APath, const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Post(const std::string& APath, const TRelayCallback& ACallback) = 0;
    virtual TSelf Post(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Post(const std::string& APath, const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Post(const std::string& APath, const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Patch(const std::string& APath, const TRelayCallback& ACallback) = 0;
    virtual TSelf Delete(const std::string& APath, const TRelayCallback& ACallback) = 0;
    virtual TSelf Patch(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Patch(const std::string& APath, const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Patch(const std::string& APath, const TRelayCallbackResponse& ACallback) = 0;
    virtual TSelf Delete(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) = 0;
    virtual TSelf Delete(const std::string& APath, const TRelayCallbackRequest& ACallback) = 0;
    virtual TSelf Delete(const std::string& APath, const TRelayCallbackResponse& ACallback) = 0;

    // The core, so a chain can go on with core-level calls; the group stays usable.
    virtual TCore& End() = 0;
};

} // namespace relay
