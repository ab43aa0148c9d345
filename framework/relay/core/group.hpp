#pragma once
// A group registration object: one path prefix in front of every path registered through it.
// Every registration goes at once to the core; the group's only state is its prefix, so what
// was registered keeps the prefix it was registered with.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/relay/core/group/contract.hpp"
#include "framework/relay/core/route.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "platform/base/object.hpp"

namespace relay {

namespace detail {

// The text without its leading and trailing "/" characters (only "/", only at the two ends).
inline std::string TrimSlashes(std::string_view AText)
{
    size_t b = AText.find_first_not_of('/');
    if (b == std::string_view::npos)
        return {};
    size_t e = AText.find_last_not_of('/');
    return std::string(AText.substr(b, e - b + 1));
}

} // namespace detail

template <class TCore>
class TRelayCoreGroup : public IRelayCoreGroup<TCore>, public std::enable_shared_from_this<TRelayCoreGroup<TCore>> {
public:
    using typename IRelayCoreGroup<TCore>::TSelf;

    TRelayCoreGroup() : FRelayCore(detail::CoreObject<TCore>()) {}

    const std::string& CurrentPrefix() const noexcept { return FPrefix; }

    TSelf Prefix(const std::string& APrefix) override
    {
        MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
        FPrefix = "/" + detail::TrimSlashes(APrefix);
        MIROVANDEL_GCC12_FALSE_RESTRICT_END
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
        for (const TRelayCallback& callback : ACallbacks)
            AddCallback(callback);
        return Self();
    }

    TSelf Use(const TRelayCallback& ACallback) override
    {
        TCore::Use(JoinPrefix("/"), ACallback);
        return Self();
    }
    TSelf Use(const TRelayCallback& AMiddleware, const TRelayCallback& ACallback) override
    {
        const std::vector<TRelayCallback> sequence{AMiddleware, ACallback};
        TCore::Use(JoinPrefix("/"), sequence);
        return Self();
    }
    TSelf Use(const std::vector<TRelayCallback>& ACallbacks) override
    {
        TCore::Use(JoinPrefix("/"), ACallbacks);
        return Self();
    }
    TSelf Use(const std::vector<TRelayCallback>& ACallbacks, const TRelayCallback& ACallback) override
    {
        const std::string path = JoinPrefix("/");
        TCore::Use(path, ACallbacks);
        const std::vector<TRelayCallback> last{ACallback};
        TCore::Use(path, last);
        return Self();
    }

#define RELAY_GROUP_METHOD(NAME, FORM)                                                                     \
    TSelf NAME(const std::string& APath, const FORM& ACallback) override                                  \
    {                                                                                                      \
        TCore::NAME(JoinPrefix(APath), ACallback);                                                         \
        return Self();                                                                                     \
    }
    RELAY_GROUP_METHOD(Get, TRelayCallback)
    RELAY_GROUP_METHOD(Get, TRelayCallbackRequestResponse)
    RELAY_GROUP_METHOD(Get, TRelayCallbackRequest)
    RELAY_GROUP_METHOD(Get, TRelayCallbackResponse)
    RELAY_GROUP_METHOD(Put, TRelayCallback)
    RELAY_GROUP_METHOD(Put, TRelayCallbackRequestResponse)
    RELAY_GROUP_METHOD(Put, TRelayCallbackRequest)
    RELAY_GROUP_METHOD(Put, TRelayCallbackResponse)
    RELAY_GROUP_METHOD(Head, TRelayCallback)
    RELAY_GROUP_METHOD(Head, TRelayCallbackRequestResponse)
    RELAY_GROUP_METHOD(Head, TRelayCallbackRequest)
    RELAY_GROUP_METHOD(Head, TRelayCallbackResponse)
    RELAY_GROUP_METHOD(Post, TRelayCallback)
    RELAY_GROUP_METHOD(Post, TRelayCallbackRequestResponse)
    RELAY_GROUP_METHOD(Post, TRelayCallbackRequest)
    RELAY_GROUP_METHOD(Post, TRelayCallbackResponse)
    RELAY_GROUP_METHOD(Patch, TRelayCallback)
    RELAY_GROUP_METHOD(Delete, TRelayCallback)
    RELAY_GROUP_METHOD(Patch, TRelayCallbackRequestResponse)
    RELAY_GROUP_METHOD(Patch, TRelayCallbackRequest)
    RELAY_GROUP_METHOD(Patch, TRelayCallbackResponse)
    RELAY_GROUP_METHOD(Delete, TRelayCallbackRequestResponse)
    RELAY_GROUP_METHOD(Delete, TRelayCallbackRequest)
    RELAY_GROUP_METHOD(Delete, TRelayCallbackResponse)
#undef RELAY_GROUP_METHOD

    TCore& End() override { return static_cast<TCore&>(*FRelayCore); }

private:
    TSelf Self() { return this->shared_from_this(); }
    // The prefix, "/", then APath without its leading and trailing "/".
    std::string JoinPrefix(const std::string& APath) const { return FPrefix + "/" + detail::TrimSlashes(APath); }

    platform::TObject* FRelayCore;  // the core instance; not owned
    std::string FPrefix;
};

} // namespace relay
