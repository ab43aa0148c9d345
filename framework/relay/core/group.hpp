#pragma once
// A group registration object: one path prefix in front of every path registered through it.
// Every registration goes at once to the core; the group's only state is its prefix, so what
// was registered keeps the prefix it was registered with.
#include <memory>
#include <string>
#include <vector>

#include "framework/relay/commons.hpp"
#include "framework/relay/core/group/contract.hpp"
#include "framework/relay/core/route.hpp"
#include "platform/base/object.hpp"

namespace relay {

template <class TCore>
class TRelayCoreGroup : public IRelayCoreGroup<TCore>, public std::enable_shared_from_this<TRelayCoreGroup<TCore>> {
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
        return Self();
    }

    std::shared_ptr<IRelayCoreRoute<TCore>> Route(const std::string& APath) override
    {
        return TCore::Route(JoinPrefix(APath));
    }

    TSelf AddCallback(const TRelayCallback& ACallback) override
    {
        TCore::AddCallback(ACallback);
        return Self();
    }
    TSelf AddCallbacks(const std::vector<TRelayCallback>& ACallbacks) override
    {
        detail::AddEachCallback<TCore>(ACallbacks);
        return Self();
    }

    TSelf Use(const TRelayCallback& ACallback) override
    {
        TCore::Use(JoinPrefix("/"), ACallback);
        return Self();
    }
    TSelf Use(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) override
    {
        detail::UseSequence<TCore>(JoinPrefix("/"), AMiddleware, ACallback);
        return Self();
    }
    TSelf Use(const std::vector<TRelayCallback>& ACallbacks) override
    {
        TCore::Use(JoinPrefix("/"), ACallbacks);
        return Self();
    }
    TSelf Use(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) override
    {
        detail::UseSequence<TCore>(JoinPrefix("/"), ACallbacks, ACallback);
        return Self();
    }

    TCore& End() override { return static_cast<TCore&>(*FRelayCore); }

protected:
    TSelf Register(TCoreMethod ACoreMethod, const std::string& APath, const TRelayCallbackForm& ACallback) override
    {
        ACoreMethod(JoinPrefix(APath), ACallback);
        return Self();
    }

private:
    TRelayCoreGroup() : FRelayCore(detail::CoreObject<TCore>()) {}

    TSelf Self() { return this->shared_from_this(); }
    // The prefix, "/", then APath without its leading and trailing "/".
    std::string JoinPrefix(const std::string& APath) const { return JoinSlashPath(FPrefix, APath); }

    platform::TObject* FRelayCore;  // the core instance; not owned
    std::string FPrefix;
};

} // namespace relay
