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
          FRelayRouterTree(ARelayRouterTree) {}

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

    // Queues callbacks for the next method registration, made anywhere, on any path.
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

    // Every method, mtAny first; the pending callbacks attach under mtAny only.
    static TRelayCore& All(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& All(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& All(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& All(const std::string& APath, const TRelayCallbackResponse& ACallback);

    static TRelayCore& Get(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Get(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& Get(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& Get(const std::string& APath, const TRelayCallbackResponse& ACallback);

    static TRelayCore& Put(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Put(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& Put(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& Put(const std::string& APath, const TRelayCallbackResponse& ACallback);

    static TRelayCore& Patch(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Patch(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& Patch(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& Patch(const std::string& APath, const TRelayCallbackResponse& ACallback);

    static TRelayCore& Head(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Head(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& Head(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& Head(const std::string& APath, const TRelayCallbackResponse& ACallback);

    static TRelayCore& Post(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Post(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& Post(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& Post(const std::string& APath, const TRelayCallbackResponse& ACallback);

    static TRelayCore& Delete(const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& Delete(const std::string& APath, const TRelayCallbackRequestResponse& ACallback);
    static TRelayCore& Delete(const std::string& APath, const TRelayCallbackRequest& ACallback);
    static TRelayCore& Delete(const std::string& APath, const TRelayCallbackResponse& ACallback);

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
    static std::string NormalizePath(const std::string& APath);
    // Frees the core, the tree and the pending callbacks. Runs by itself at program end.
    static void ReleaseAll();

protected:
    TRelayCore() = default;

private:
    friend class TRelayModule;

    static void Install(TRelayCore* AObject);
    static TRelayCallback GetCallback(const TRelayCallbackRequestResponse& ACallbackRequest);
    static TRelayCallback GetCallback(const TRelayCallbackResponse& ACallbackResponse);
    static TRelayCallback GetCallback(const TRelayCallbackRequest& ACallbackRequest);
    static TRelayCore& AddRoute(platform::TMethodType AHTTPType, const std::string& APath, const TRelayCallback& ACallback);
    static TRelayCore& AttachPendingCallbacks(platform::TMethodType AHTTPType, const std::string& APath);
    static std::vector<TRelayCallback> TakePendingCallbacks();
    static TRelayCore& Register(platform::TMethodType AHTTPType, const std::string& APath, const TRelayCallback& ACallback);

    static TRelayCore* FInstance;
    static TRelayRouterTree* FRootTree;
    static std::vector<TRelayCallback>* FPendingCallbacks;
};

} // namespace relay
