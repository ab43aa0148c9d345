#pragma once
// The process-wide core: the one core object, the root of the router tree and the pending
// callbacks, all class-level, with the registration operations programs call.
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/relay/callback.hpp"
#include "framework/relay/commons.hpp"
#include "framework/relay/core/router_tree.hpp"
#include "platform/base/object.hpp"
#include "platform/web/method_type.hpp"

namespace relay {

class TRelayCore;
template <class TCore>
class IRelayCoreGroup;
template <class TCore>
class IRelayCoreRoute;
using PRelayCore = TRelayCore**;
using PRelayRouterTree = TRelayRouterTree**;

// Hands the core's class-level state to code that holds its own copy of it. Owns nothing.
class TRelayModule {
public:
    TRelayModule(PRelayCore ASelfInstance, PRelayCore ADefaultRelayCoreInstance, PRelayRouterTree ARelayRouterTree)
        : FSelfInstance(ASelfInstance), FDefaultRelayCoreInstance(ADefaultRelayCoreInstance),
          FRelayRouterTree(ARelayRouterTree)
    {
    }

    // Points the core's class-level state at the state the record describes; returns that core.
    TRelayCore* ToRelay() const;

private:
    PRelayCore SelfInstance() const noexcept { return FSelfInstance; }
    PRelayCore DefaultRelayCoreInstance() const noexcept { return FDefaultRelayCoreInstance; }
    PRelayRouterTree RelayRouterTree() const noexcept { return FRelayRouterTree; }

    PRelayCore FSelfInstance;
    PRelayCore FDefaultRelayCoreInstance;
    PRelayRouterTree FRelayRouterTree;
};

class TRelayCore : public platform::TObject {
public:
    using TCallbacks = std::span<const TRelayCallback>;

    ~TRelayCore() override = default;

    // Makes the core as an object of class T (TRelayCore or a class derived from it; T's default
    // constructor must be reachable from TRelayCore, e.g. public or with TRelayCore a friend).
    // A second creation, of any class, fails with "The Relay instance has already been created"
    // and frees the new object; the first core stays.
    template <class T>
    static T* CreateAs()
    {
        static_assert(std::is_base_of_v<TRelayCore, T>, "the core class derives from TRelayCore");
        std::unique_ptr<T> object(new T());
        Install(object.get());
        return object.release();
    }
    static TRelayCore* Create() { return CreateAs<TRelayCore>(); }

    static TRelayModule ToModule();

    // Queues callbacks for the next method registration, made anywhere, on any path. An empty
    // callback (here and for Use) is refused before anything is queued or registered.
    static TRelayCore& AddCallback(const TRelayCallback& ACallback);
    static TRelayCore& AddCallbacks(TCallbacks ACallbacks);
    static TRelayCore& AddCallbacks(std::initializer_list<TRelayCallback> ACallbacks);

    // Middleware; the pending callbacks stay queued.
    static TRelayCore& Use(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Use(const TRelayCallback& ACallback);
    static TRelayCore& Use(const std::string& APath, TCallbacks ACallbacks);
    static TRelayCore& Use(TCallbacks ACallbacks);
    static TRelayCore& Use(const std::string& APath, std::initializer_list<TRelayCallback> ACallbacks);
    static TRelayCore& Use(std::initializer_list<TRelayCallback> ACallbacks);

    // Route callbacks, in any of the four forms (the short ones adapted here, a new adapter per
    // registration). The pending callbacks attach ahead of the callback. An empty callback is
    // refused before anything is registered.
    static TRelayCore& Get(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(platform::mtGet, APath, ACallback);
    }
    static TRelayCore& Put(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(platform::mtPut, APath, ACallback);
    }
    static TRelayCore& Patch(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(platform::mtPatch, APath, ACallback);
    }
    static TRelayCore& Head(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(platform::mtHead, APath, ACallback);
    }
    static TRelayCore& Post(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(platform::mtPost, APath, ACallback);
    }
    static TRelayCore& Delete(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Register(platform::mtDelete, APath, ACallback);
    }
    // Every method, mtAny first; the pending callbacks attach under mtAny only. The seven
    // registrations share one callable, so a callback with state of its own keeps one state.
    static TRelayCore& All(const std::string& APath, const TRelayCallbackForm& ACallback);

    // A new group with an empty prefix, and a new route on APath (kept unchanged; each of its
    // registrations normalises it), both over the core.
    static std::shared_ptr<IRelayCoreGroup<TRelayCore>> Group();
    static std::shared_ptr<IRelayCoreRoute<TRelayCore>> Route(const std::string& APath);

    // The core; a plain TRelayCore is made when there is none yet.
    static TRelayCore* GetInstance();
    static std::string Version() { return "3.1.4"; }

    // The root of the router tree, which every request walks.
    static TRelayRouterTree& RootTree();
    // "/" followed by APath without "/" at either end.
    static std::string NormalizePath(const std::string& APath) { return JoinSlashPath({}, APath); }
    // Frees the core, the tree and the pending callbacks. Runs by itself at program end.
    static void ReleaseAll();

protected:
    TRelayCore() = default;

private:
    friend class TRelayModule;

    static void Install(TRelayCore* AObject);
    // The stored form of a callback: the full form as it is, a short form in a new adapter that
    // never calls Next (the request-only one sets 204 first). Refuses an empty callback.
    static TRelayCallback GetCallback(const TRelayCallbackForm& ACallback);
    static TRelayCore& AddRoute(platform::TMethodType AHTTPType, const std::string& APath,
                                const TRelayCallback& ACallback);
    static TRelayCore& AttachPendingCallbacks(platform::TMethodType AHTTPType, const std::string& APath);
    static std::vector<TRelayCallback> TakePendingCallbacks();
    // One method registration: adapts the callback, then attaches the pending callbacks and it.
    static TRelayCore& Register(platform::TMethodType AHTTPType, const std::string& APath,
                                const TRelayCallbackForm& ACallback);

    static TRelayCore* FInstance;
    static TRelayRouterTree* FRootTree;
    static std::vector<TRelayCallback>* FPendingCallbacks;
};

inline constexpr const char* KRelayEmptyCallback = "An empty callback cannot be registered";

} // namespace relay
