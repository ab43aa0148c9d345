#pragma once
// A route registration object: every registration goes at once to the core on the one path the
// route was made with (the core normalises it each time). The route keeps no registration of
// its own, so it may be dropped at any point of a chain.
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "framework/relay/core/route/contract.hpp"
#include "platform/base/object.hpp"

namespace relay {

namespace detail {

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

} // namespace detail

template <class TCore>
class TRelayCoreRoute : public IRelayCoreRoute<TCore>, public std::enable_shared_from_this<TRelayCoreRoute<TCore>> {
public:
    using typename IRelayCoreRoute<TCore>::TSelf;

    // APath is kept exactly as given.
    explicit TRelayCoreRoute(std::string APath) : FPath(std::move(APath)), FRelayCore(detail::CoreObject<TCore>()) {}

    // The object's own interface (one more reference to it).
    TSelf This() { return this->shared_from_this(); }
    const std::string& Path() const noexcept { return FPath; }

    TSelf AddCallback(const TRelayCallback& ACallback) override
    {
        TCore::AddCallback(ACallback);
        return This();
    }
    TSelf AddCallbacks(const std::vector<TRelayCallback>& ACallbacks) override
    {
        for (const TRelayCallback& callback : ACallbacks)
            AddCallback(callback);
        return This();
    }

    TSelf All(const TRelayCallback& ACallback) override
    {
        TCore::Use(FPath, ACallback);
        return This();
    }
    TSelf All(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) override
    {
        const std::vector<TRelayCallback> sequence{AMiddleware, ACallback};
        TCore::Use(FPath, sequence);
        return This();
    }
    TSelf All(const std::vector<TRelayCallback>& ACallbacks) override
    {
        TCore::Use(FPath, ACallbacks);
        return This();
    }
    TSelf All(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) override
    {
        TCore::Use(FPath, ACallbacks);
        const std::vector<TRelayCallback> last{ACallback};
        TCore::Use(FPath, last);
        return This();
    }

#define RELAY_ROUTE_METHOD(NAME, FORM)                                                                     \
    TSelf NAME(const FORM& ACallback) override                                                            \
    {                                                                                                      \
        TCore::NAME(FPath, ACallback);                                                                     \
        return This();                                                                                     \
    }
    RELAY_ROUTE_METHOD(Get, TRelayCallback)
    RELAY_ROUTE_METHOD(Get, TRelayCallbackRequestResponse)
    RELAY_ROUTE_METHOD(Get, TRelayCallbackRequest)
    RELAY_ROUTE_METHOD(Get, TRelayCallbackResponse)
    RELAY_ROUTE_METHOD(Put, TRelayCallback)
    RELAY_ROUTE_METHOD(Put, TRelayCallbackRequestResponse)
    RELAY_ROUTE_METHOD(Put, TRelayCallbackRequest)
    RELAY_ROUTE_METHOD(Put, TRelayCallbackResponse)
    RELAY_ROUTE_METHOD(Head, TRelayCallback)
    RELAY_ROUTE_METHOD(Head, TRelayCallbackRequestResponse)
    RELAY_ROUTE_METHOD(Head, TRelayCallbackRequest)
    RELAY_ROUTE_METHOD(Head, TRelayCallbackResponse)
    RELAY_ROUTE_METHOD(Post, TRelayCallback)
    RELAY_ROUTE_METHOD(Post, TRelayCallbackRequestResponse)
    RELAY_ROUTE_METHOD(Post, TRelayCallbackRequest)
    RELAY_ROUTE_METHOD(Post, TRelayCallbackResponse)
    RELAY_ROUTE_METHOD(Patch, TRelayCallback)
    RELAY_ROUTE_METHOD(Delete, TRelayCallback)
    RELAY_ROUTE_METHOD(Patch, TRelayCallbackRequestResponse)
    RELAY_ROUTE_METHOD(Patch, TRelayCallbackRequest)
    RELAY_ROUTE_METHOD(Patch, TRelayCallbackResponse)
    RELAY_ROUTE_METHOD(Delete, TRelayCallbackRequestResponse)
    RELAY_ROUTE_METHOD(Delete, TRelayCallbackRequest)
    RELAY_ROUTE_METHOD(Delete, TRelayCallbackResponse)
#undef RELAY_ROUTE_METHOD

    TCore& End() override { return static_cast<TCore&>(*FRelayCore); }

private:
    const std::string FPath;
    platform::TObject* FRelayCore;  // the core instance; not owned
};

} // namespace relay
