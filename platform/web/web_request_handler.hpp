#pragma once
// The process's one web request handler: keeps the pool of web modules and runs each request
// through one of them.
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/adaptive_mutex.hpp"
#include "platform/web/request_limits.hpp"
#include "platform/web/web_module.hpp"

namespace platform {

inline constexpr const char* KMaximumConnectionsExceeded =
    "Maximum number of concurrent connections exceeded.  Please try again later";

class TWebRequestHandler {
public:
    TWebRequestHandler() = default;
    ~TWebRequestHandler();
    TWebRequestHandler(const TWebRequestHandler&) = delete;
    TWebRequestHandler& operator=(const TWebRequestHandler&) = delete;

    // The factory of the pool's modules. Setting a different one frees the idle modules;
    // modules of the old one still in use are freed when their request ends.
    void SetWebModuleClass(TWebModuleClass AClass);
    TWebModuleClass WebModuleClass() const;

    // Modules in use at once; a request beyond it is refused (default limits::KMaxRequestsInWork).
    void SetMaxConnections(int AValue);
    int MaxConnections() const;
    int ActiveCount() const;
    int InactiveCount() const;

private:
    struct TPooled {
        std::unique_ptr<TWebModule> Module;
        unsigned Generation = 0;
    };

public:
    // One module taken for one request; the module goes back to the pool with the lease.
    class TLease {
    public:
        TLease() = default;
        TLease(TLease&& AOther) noexcept : FHandler(AOther.FHandler), FModule(std::move(AOther.FModule))
        {
            AOther.FHandler = nullptr;
        }
        TLease& operator=(TLease&& AOther) noexcept;
        ~TLease() { Release(); }
        explicit operator bool() const { return FHandler != nullptr; }
        void Release();

    private:
        friend class TWebRequestHandler;
        TLease(TWebRequestHandler* AHandler, TPooled AModule) : FHandler(AHandler), FModule(std::move(AModule)) {}
        TWebRequestHandler* FHandler = nullptr;
        TPooled FModule;
    };

    // Takes a module (idle or new) for a request: the server takes it before the request's
    // turn to run, so a refusal costs no thread. Throws EWebBrokerException
    // KMaximumConnectionsExceeded when all modules are in use.
    TLease Reserve();
    // Dispatches the request through the leased module and sends the reply when handled and
    // not yet sent; the module goes back to the pool before it returns. Returns whether the
    // request was handled.
    bool HandleRequest(TLease& ALease, TWebRequest& ARequest, TWebResponse& AResponse);
    // Both at once (the module's code does not run when Reserve refuses).
    bool HandleRequest(TWebRequest& ARequest, TWebResponse& AResponse);

private:
    TPooled Acquire();
    void Release(TPooled AModule);

    mutable TAdaptiveMutex FLock;
    TWebModuleClass FWebModuleClass = nullptr;
    unsigned FGeneration = 0;
    int FMaxConnections = limits::KMaxRequestsInWork;
    int FActive = 0;
    std::vector<TPooled> FIdle;
};

// The handler every HTTP server of the process uses. Made on first use; lives until the
// program ends.
TWebRequestHandler& WebRequestHandler();

} // namespace platform
