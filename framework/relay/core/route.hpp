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

// Registrations a group and a route make alike, each on its own path.

// Queues each callback in turn, as AddCallback queues one.
template <class TCore>
void AddEachCallback(const std::vector<TRelayCallback>& ACallbacks)
{
    for (const TRelayCallback& callback : ACallbacks)
        TCore::AddCallback(callback);
}

// Middleware and callback as one sequence.
template <class TCore>
void UseSequence(const std::string& APath, const TRelayCallback& AMiddleware, const TRelayCallback& ACallback)
{
    const std::vector<TRelayCallback> sequence{AMiddleware, ACallback};
    TCore::Use(APath, sequence);
}

// The list, then the callback on its own.
template <class TCore>
void UseSequence(const std::string& APath, const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback)
{
    TCore::Use(APath, ACallbacks);
    const std::vector<TRelayCallback> last{ACallback};
    TCore::Use(APath, last);
}

} // namespace detail

template <class TCore>
class TRelayCoreRoute : public IRelayCoreRoute<TCore>, public std::enable_shared_from_this<TRelayCoreRoute<TCore>> {
public:
    using typename IRelayCoreRoute<TCore>::TSelf;
    using typename IRelayCoreRoute<TCore>::TCoreMethod;

    // A new route on APath, kept exactly as given. Made only here: every registration hands the
    // route out again as a shared pointer, which needs one to exist.
    static std::shared_ptr<TRelayCoreRoute> Create(std::string APath)
    {
        return std::shared_ptr<TRelayCoreRoute>(new TRelayCoreRoute(std::move(APath)));
    }

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
        detail::AddEachCallback<TCore>(ACallbacks);
        return This();
    }

    TSelf All(const TRelayCallback& ACallback) override
    {
        TCore::Use(FPath, ACallback);
        return This();
    }
    TSelf All(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) override
    {
        detail::UseSequence<TCore>(FPath, AMiddleware, ACallback);
        return This();
    }
    TSelf All(const std::vector<TRelayCallback>& ACallbacks) override
    {
        TCore::Use(FPath, ACallbacks);
        return This();
    }
    TSelf All(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) override
    {
        detail::UseSequence<TCore>(FPath, ACallbacks, ACallback);
        return This();
    }

    TCore& End() override { return static_cast<TCore&>(*FRelayCore); }

protected:
    TSelf Register(TCoreMethod ACoreMethod, const TRelayCallbackForm& ACallback) override
    {
        ACoreMethod(FPath, ACallback);
        return This();
    }

private:
    explicit TRelayCoreRoute(std::string APath) : FPath(std::move(APath)), FRelayCore(detail::CoreObject<TCore>()) {}

    const std::string FPath;
    platform::TObject* FRelayCore;  // the core instance; not owned
};

} // namespace relay
