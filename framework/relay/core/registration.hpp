#pragma once
// What a group and a route registration object share: the core they register on, the pending
// callbacks, middleware in its four forms on the object's path, and handing the object out again.
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/relay/callback.hpp"
#include "platform/base/object.hpp"

namespace relay::detail {

// The core object, whether the core hands out a reference or a pointer.
template <class TCore>
platform::TObject* CoreObject()
{
    decltype(auto) core = TCore::GetInstance();
    if constexpr (std::is_pointer_v<std::remove_reference_t<decltype(core)>>)
        return core;
    else
        return &core;
}

// TInterface: the object's contract; TObject: the registration class made from this one.
template <class TCore, class TInterface, class TObject>
class TRegistration : public TInterface, public std::enable_shared_from_this<TObject> {
public:
    using typename TInterface::TSelf;

    TSelf AddCallback(const TRelayCallback& ACallback) override
    {
        TCore::AddCallback(ACallback);
        return Self();
    }
    // Each callback queued in turn, as AddCallback queues one.
    TSelf AddCallbacks(const std::vector<TRelayCallback>& ACallbacks) override
    {
        for (const TRelayCallback& callback : ACallbacks)
            AddCallback(callback);
        return Self();
    }

    TCore& End() override { return static_cast<TCore&>(*FRelayCore); }

protected:
    TRegistration() : FRelayCore(CoreObject<TCore>()) {}

    TSelf Self() { return this->shared_from_this(); }

    // Middleware on APath (a group's Use, a route's All); every callback here is middleware.
    TSelf UseOn(const std::string& APath, const TRelayCallback& ACallback)
    {
        TCore::Use(APath, ACallback);
        return Self();
    }
    // The middleware and the callback as one sequence.
    TSelf UseOn(const std::string& APath, const TRelayCallback& AMiddleware, const TRelayCallback& ACallback)
    {
        const std::vector<TRelayCallback> sequence{AMiddleware, ACallback};
        TCore::Use(APath, sequence);
        return Self();
    }
    TSelf UseOn(const std::string& APath, const std::vector<TRelayCallback>& ACallbacks)
    {
        TCore::Use(APath, ACallbacks);
        return Self();
    }
    // The list, then the callback on its own.
    TSelf UseOn(const std::string& APath, const std::vector<TRelayCallback>& ACallbacks,
                const TRelayCallback& ACallback)
    {
        TCore::Use(APath, ACallbacks);
        const std::vector<TRelayCallback> last{ACallback};
        TCore::Use(APath, last);
        return Self();
    }

private:
    platform::TObject* FRelayCore; // the core instance; not owned
};

} // namespace relay::detail
