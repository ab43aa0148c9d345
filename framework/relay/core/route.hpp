#pragma once
// A route registration object: every registration goes at once to the core on the one path the
// route was made with (the core normalises it each time). The route keeps no registration of
// its own, so it may be dropped at any point of a chain.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/relay/core/registration.hpp"
#include "framework/relay/core/route/contract.hpp"

namespace relay {

template <class TCore>
class TRelayCoreRoute : public detail::TRegistration<TCore, IRelayCoreRoute<TCore>, TRelayCoreRoute<TCore>> {
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
    TSelf This() { return this->Self(); }
    const std::string& Path() const noexcept { return FPath; }

    TSelf All(const TRelayCallback& ACallback) override { return this->UseOn(FPath, ACallback); }
    TSelf All(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) override
    {
        return this->UseOn(FPath, AMiddleware, ACallback);
    }
    TSelf All(const std::vector<TRelayCallback>& ACallbacks) override { return this->UseOn(FPath, ACallbacks); }
    TSelf All(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) override
    {
        return this->UseOn(FPath, ACallbacks, ACallback);
    }

protected:
    TSelf Register(TCoreMethod ACoreMethod, const TRelayCallbackForm& ACallback) override
    {
        ACoreMethod(FPath, ACallback);
        return This();
    }

private:
    explicit TRelayCoreRoute(std::string APath) : FPath(std::move(APath)) {}

    const std::string FPath;
};

} // namespace relay
