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
    // The core's registration operation of one method (TCore::Get, TCore::Post...).
    using TCoreMethod = TCore& (*)(const std::string& APath, const TRelayCallbackForm& ACallback);

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

    // Route callbacks on the prefixed path, in any of the four forms, handed unchanged to the
    // core's operation of the same method.
    TSelf Get(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(&TCore::Get, APath, ACallback);
    }
    TSelf Put(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(&TCore::Put, APath, ACallback);
    }
    TSelf Head(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(&TCore::Head, APath, ACallback);
    }
    TSelf Post(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(&TCore::Post, APath, ACallback);
    }
    TSelf Patch(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(&TCore::Patch, APath, ACallback);
    }
    TSelf Delete(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(&TCore::Delete, APath, ACallback);
    }

    // The core, so a chain can go on with core-level calls; the group stays usable.
    virtual TCore& End() = 0;

protected:
    // Calls ACoreMethod with the prefixed path and the callback; returns the group.
    virtual TSelf Register(TCoreMethod ACoreMethod, const std::string& APath, const TRelayCallbackForm& ACallback) = 0;
};

} // namespace relay
