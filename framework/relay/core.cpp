#include "framework/relay/core.hpp"

#include <variant>

#include "framework/relay/commons.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/exception.hpp"

namespace relay {

TRelayCore* TRelayCore::FInstance = nullptr;
TRelayRouterTree* TRelayCore::FRootTree = nullptr;
std::vector<TRelayCallback>* TRelayCore::FPendingCallbacks = nullptr;

namespace {

// Frees the class-level state when the program ends. Made on first use, so it goes before
// anything made earlier.
struct TReleaseAtExit {
    ~TReleaseAtExit() { TRelayCore::ReleaseAll(); }
};

void EnsureReleaseAtExit()
{
    static TReleaseAtExit releaser;
    (void)releaser;
}

// An empty callback would fail only once a request reached it, after its adapter may already
// have answered: refused when it is registered instead.
void RequireAssigned(bool AAssigned)
{
    if (!AAssigned)
        throw platform::Exception(KRelayEmptyCallback);
}

void RequireAssigned(TRelayCore::TCallbacks ACallbacks)
{
    for (const TRelayCallback& callback : ACallbacks)
        RequireAssigned(static_cast<bool>(callback));
}

// One visitor made of several lambdas: one per form of callback.
template <class... F>
struct TOverloaded : F... {
    using F::operator()...;
};
template <class... F>
TOverloaded(F...) -> TOverloaded<F...>;

} // namespace

void TRelayCore::Install(TRelayCore* AObject)
{
    if (FInstance)
        throw platform::Exception("The Relay instance has already been created");
    EnsureReleaseAtExit();
    if (!FRootTree)
        FRootTree = new TRelayRouterTree();
    FInstance = AObject;
}

TRelayCore* TRelayCore::GetInstance()
{
    if (!FInstance)
        Create();
    return FInstance;
}

TRelayRouterTree& TRelayCore::RootTree()
{
    GetInstance();
    return *FRootTree;
}

void TRelayCore::ReleaseAll()
{
    if (TRelayCore* instance = FInstance) {
        FInstance = nullptr;
        delete instance;
    }
    if (TRelayRouterTree* tree = FRootTree) {
        FRootTree = nullptr;
        delete tree;
    }
    if (std::vector<TRelayCallback>* pending = FPendingCallbacks) {
        FPendingCallbacks = nullptr;
        delete pending;
    }
}

TRelayModule TRelayCore::ToModule()
{
    GetInstance();
    return TRelayModule(&FInstance, &FInstance, &FRootTree);
}

TRelayCore* TRelayModule::ToRelay() const
{
    TRelayCore::FInstance = *DefaultRelayCoreInstance();
    TRelayCore::FRootTree = *RelayRouterTree();
    return *SelfInstance();
}

// --- pending callbacks ---

TRelayCore& TRelayCore::AddCallback(const TRelayCallback& ACallback)
{
    GetInstance();
    RequireAssigned(static_cast<bool>(ACallback));
    if (!FPendingCallbacks)
        FPendingCallbacks = new std::vector<TRelayCallback>();
    FPendingCallbacks->push_back(ACallback);
    return *FInstance;
}

TRelayCore& TRelayCore::AddCallbacks(TCallbacks ACallbacks)
{
    GetInstance();
    RequireAssigned(ACallbacks);
    for (const TRelayCallback& callback : ACallbacks)
        AddCallback(callback);
    return *FInstance;
}

TRelayCore& TRelayCore::AddCallbacks(std::initializer_list<TRelayCallback> ACallbacks)
{
    return AddCallbacks(TCallbacks(ACallbacks.begin(), ACallbacks.size()));
}

std::vector<TRelayCallback> TRelayCore::TakePendingCallbacks()
{
    std::vector<TRelayCallback> result;
    if (FPendingCallbacks)
        result.swap(*FPendingCallbacks);
    return result;
}

TRelayCore& TRelayCore::AttachPendingCallbacks(platform::TMethodType AHTTPType, const std::string& APath)
{
    // The list is emptied before anything is registered, so an error drops the rest.
    for (const TRelayCallback& callback : TakePendingCallbacks())
        AddRoute(AHTTPType, APath, callback);
    return *FInstance;
}

TRelayCore& TRelayCore::AddRoute(platform::TMethodType AHTTPType, const std::string& APath,
                                 const TRelayCallback& ACallback)
{
    FRootTree->RegisterRoute(AHTTPType, NormalizePath(APath), ACallback);
    return *FInstance;
}

TRelayCore& TRelayCore::Register(platform::TMethodType AHTTPType, const std::string& APath,
                                 const TRelayCallbackForm& ACallback)
{
    GetInstance();
    const TRelayCallback callback = GetCallback(ACallback);
    AttachPendingCallbacks(AHTTPType, APath);
    return AddRoute(AHTTPType, APath, callback);
}

TRelayCallback TRelayCore::GetCallback(const TRelayCallbackForm& ACallback)
{
    RequireAssigned(ACallback.Assigned());
    return std::visit(TOverloaded{
                          [](const TRelayCallback& AFull) { return AFull; },
                          [](const TRelayCallbackRequestResponse& ACallbackRequest) -> TRelayCallback {
                              return [ACallbackRequest](TRelayRequest& ARequest, TRelayResponse& AResponse,
                                                        const TProc&) { ACallbackRequest(ARequest, AResponse); };
                          },
                          [](const TRelayCallbackRequest& ACallbackRequest) -> TRelayCallback {
                              return
                                  [ACallbackRequest](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc&) {
                                      AResponse.Status(TResponseStatus::NoContent);
                                      ACallbackRequest(ARequest);
                                  };
                          },
                          [](const TRelayCallbackResponse& ACallbackResponse) -> TRelayCallback {
                              return [ACallbackResponse](TRelayRequest&, TRelayResponse& AResponse, const TProc&) {
                                  ACallbackResponse(AResponse);
                              };
                          },
                      },
                      ACallback.Forms());
}

// --- middleware ---

TRelayCore& TRelayCore::Use(const std::string& APath, const TRelayCallback& ACallback)
{
    GetInstance();
    RequireAssigned(static_cast<bool>(ACallback));
    FRootTree->RegisterMiddleware(NormalizePath(APath), ACallback);
    return *FInstance;
}

TRelayCore& TRelayCore::Use(const TRelayCallback& ACallback)
{
    return Use("/", ACallback);
}

TRelayCore& TRelayCore::Use(const std::string& APath, TCallbacks ACallbacks)
{
    GetInstance();
    RequireAssigned(ACallbacks);
    for (const TRelayCallback& callback : ACallbacks)
        Use(APath, callback);
    return *FInstance;
}

TRelayCore& TRelayCore::Use(TCallbacks ACallbacks)
{
    return Use("/", ACallbacks);
}

TRelayCore& TRelayCore::Use(const std::string& APath, std::initializer_list<TRelayCallback> ACallbacks)
{
    return Use(APath, TCallbacks(ACallbacks.begin(), ACallbacks.size()));
}

TRelayCore& TRelayCore::Use(std::initializer_list<TRelayCallback> ACallbacks)
{
    return Use(TCallbacks(ACallbacks.begin(), ACallbacks.size()));
}

// --- every method ---

TRelayCore& TRelayCore::All(const std::string& APath, const TRelayCallbackForm& ACallback)
{
    // Seven registrations of the one callable (or the one adapter), as of one reference-counted
    // callback: copies of this wrapper share it.
    auto shared = std::make_shared<const TRelayCallback>(GetCallback(ACallback));
    const TRelayCallback one = [shared](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc& ANext) {
        (*shared)(ARequest, AResponse, ANext);
    };
    for (platform::TMethodType method : {platform::mtAny, platform::mtGet, platform::mtPut, platform::mtPost,
                                         platform::mtHead, platform::mtDelete, platform::mtPatch})
        Register(method, APath, one);
    return *FInstance;
}

} // namespace relay
