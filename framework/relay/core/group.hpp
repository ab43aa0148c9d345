#pragma once
// A group registration object: one path prefix in front of every path registered through it.
// Every registration goes at once to the core; the group's only state is its prefix, so what
// was registered keeps the prefix it was registered with.
#include <memory>
#include <string>
#include <vector>

#include "framework/relay/commons.hpp"
#include "framework/relay/core/group/contract.hpp"
#include "framework/relay/core/registration.hpp"

namespace relay {

template <class TCore>
class TRelayCoreGroup : public detail::TRegistration<TCore, IRelayCoreGroup<TCore>, TRelayCoreGroup<TCore>> {
public:
    using typename IRelayCoreGroup<TCore>::TSelf;
    using typename IRelayCoreGroup<TCore>::TCoreMethod;

    // A new group over the core, with an empty prefix. Made only here: every registration hands
    // the group out again as a shared pointer, which needs one to exist.
    static std::shared_ptr<TRelayCoreGroup> Create() { return std::shared_ptr<TRelayCoreGroup>(new TRelayCoreGroup()); }

    const std::string& CurrentPrefix() const noexcept { return FPrefix; }

    TSelf Prefix(const std::string& APrefix) override
    {
        FPrefix = JoinSlashPath({}, APrefix);
        return this->Self();
    }

    std::shared_ptr<IRelayCoreRoute<TCore>> Route(const std::string& APath) override
    {
        return TCore::Route(JoinPrefix(APath));
    }

    TSelf Use(const TRelayCallback& ACallback) override { return this->UseOn(JoinPrefix("/"), ACallback); }
    TSelf Use(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) override
    {
        return this->UseOn(JoinPrefix("/"), AMiddleware, ACallback);
    }
    TSelf Use(const std::vector<TRelayCallback>& ACallbacks) override
    {
        return this->UseOn(JoinPrefix("/"), ACallbacks);
    }
    TSelf Use(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) override
    {
        return this->UseOn(JoinPrefix("/"), ACallbacks, ACallback);
    }

protected:
    TSelf Register(TCoreMethod ACoreMethod, const std::string& APath, const TRelayCallbackForm& ACallback) override
    {
        ACoreMethod(JoinPrefix(APath), ACallback);
        return this->Self();
    }

private:
    TRelayCoreGroup() = default;

    // The prefix, "/", then APath without its leading and trailing "/".
    std::string JoinPrefix(const std::string& APath) const { return JoinSlashPath(FPrefix, APath); }

    std::string FPrefix;
};

} // namespace relay
