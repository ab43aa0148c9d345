#include "framework/relay/core.hpp"

#include "framework/relay/commons.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/gcc_restrict.hpp"

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

std::string TRelayCore::NormalizePath(const std::string& APath)
{
    size_t first = APath.find_first_not_of('/');
    if (first == std::string::npos)
        return "/";
    size_t last = APath.find_last_not_of('/');
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    return "/" + APath.substr(first, last - first + 1);
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
}

// --- pending callbacks ---

TRelayCore& TRelayCore::AddCallback(const TRelayCallback& ACallback)
{
    GetInstance();
    if (!FPendingCallbacks)
        FPendingCallbacks = new std::vector<TRelayCallback>();
    FPendingCallbacks->push_back(ACallback);
    return *FInstance;
}

TRelayCore& TRelayCore::AddCallbacks(TCallbacks ACallbacks)
{
    GetInstance();
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
                                 const TRelayCallback& ACallback)
{
    GetInstance();
    AttachPendingCallbacks(AHTTPType, APath);
    return AddRoute(AHTTPType, APath, ACallback);
}

// --- adapters ---

TRelayCallback TRelayCore::GetCallback(const TRelayCallbackRequestResponse& ACallbackRequest)
{
    return [ACallbackRequest](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc&) {
        ACallbackRequest(ARequest, AResponse);
    };
}

TRelayCallback TRelayCore::GetCallback(const TRelayCallbackResponse& ACallbackResponse)
{
    return [ACallbackResponse](TRelayRequest&, TRelayResponse& AResponse, const TProc&) {
        ACallbackResponse(AResponse);
    };
}

TRelayCallback TRelayCore::GetCallback(const TRelayCallbackRequest& ACallbackRequest)
{
    return [ACallbackRequest](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc&) {
        AResponse.Status(TResponseStatus::NoContent);
        ACallbackRequest(ARequest);
    };
}

// --- middleware ---

TRelayCore& TRelayCore::Use(const std::string& APath, const TRelayCallback& ACallback)
{
    GetInstance();
    FRootTree->RegisterMiddleware(NormalizePath(APath), ACallback);
    return *FInstance;
}

TRelayCore& TRelayCore::Use(const TRelayCallback& ACallback)
{
    GetInstance();
    FRootTree->RegisterMiddleware("/", ACallback);
    return *FInstance;
}

TRelayCore& TRelayCore::Use(const std::string& APath, TCallbacks ACallbacks)
{
    GetInstance();
    for (const TRelayCallback& callback : ACallbacks)
        Use(APath, callback);
    return *FInstance;
}

TRelayCore& TRelayCore::Use(TCallbacks ACallbacks)
{
    GetInstance();
    for (const TRelayCallback& callback : ACallbacks)
        Use(callback);
    return *FInstance;
}

TRelayCore& TRelayCore::Use(const std::string& APath, std::initializer_list<TRelayCallback> ACallbacks)
{
    return Use(APath, TCallbacks(ACallbacks.begin(), ACallbacks.size()));
}

TRelayCore& TRelayCore::Use(std::initializer_list<TRelayCallback> ACallbacks)
{
    return Use(TCallbacks(ACallbacks.begin(), ACallbacks.size()));
}

// --- methods ---

TRelayCore& TRelayCore::All(const std::string& APath, const TRelayCallback& ACallback)
{
    for (platform::TMethodType method : {platform::mtAny, platform::mtGet, platform::mtPut, platform::mtPost,
                                         platform::mtHead, platform::mtDelete, platform::mtPatch})
        Register(method, APath, ACallback);
    return *FInstance;
}
TRelayCore& TRelayCore::All(const std::string& APath, const TRelayCallbackRequestResponse& ACallback) { return All(APath, GetCallback(ACallback)); }
TRelayCore& TRelayCore::All(const std::string& APath, const TRelayCallbackRequest& ACallback) { return All(APath, GetCallback(ACallback)); }
TRelayCore& TRelayCore::All(const std::string& APath, const TRelayCallbackResponse& ACallback) { return All(APath, GetCallback(ACallback)); }

#define RELAY_METHOD_OVERLOADS(NAME, METHOD)                                                                      \
    TRelayCore& TRelayCore::NAME(const std::string& APath, const TRelayCallback& ACallback)                      \
    {                                                                                                             \
        return Register(METHOD, APath, ACallback);                                                                \
    }                                                                                                             \
    TRelayCore& TRelayCore::NAME(const std::string& APath, const TRelayCallbackRequestResponse& ACallback)       \
    {                                                                                                             \
        return Register(METHOD, APath, GetCallback(ACallback));                                                   \
    }                                                                                                             \
    TRelayCore& TRelayCore::NAME(const std::string& APath, const TRelayCallbackRequest& ACallback)               \
    {                                                                                                             \
        return Register(METHOD, APath, GetCallback(ACallback));                                                   \
    }                                                                                                             \
    TRelayCore& TRelayCore::NAME(const std::string& APath, const TRelayCallbackResponse& ACallback)              \
    {                                                                                                             \
        return Register(METHOD, APath, GetCallback(ACallback));                                                   \
    }

RELAY_METHOD_OVERLOADS(Get, platform::mtGet)
RELAY_METHOD_OVERLOADS(Put, platform::mtPut)
RELAY_METHOD_OVERLOADS(Patch, platform::mtPatch)
RELAY_METHOD_OVERLOADS(Head, platform::mtHead)
RELAY_METHOD_OVERLOADS(Post, platform::mtPost)
RELAY_METHOD_OVERLOADS(Delete, platform::mtDelete)

#undef RELAY_METHOD_OVERLOADS

} // namespace relay
