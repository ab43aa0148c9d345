#include "platform/web/web_request_handler.hpp"

#include "platform/base/exception.hpp"

namespace platform {

TWebRequestHandler::~TWebRequestHandler() = default;

void TWebRequestHandler::SetWebModuleClass(TWebModuleClass AClass)
{
    std::vector<TPooled> dropped;
    {
        std::lock_guard lock(FLock);
        if (AClass == FWebModuleClass)
            return;
        FWebModuleClass = AClass;
        ++FGeneration;
        dropped.swap(FIdle);
    }
    // freed outside the lock: a module's destructor may be slow
}

TWebModuleClass TWebRequestHandler::WebModuleClass() const
{
    std::lock_guard lock(FLock);
    return FWebModuleClass;
}

void TWebRequestHandler::SetMaxConnections(int AValue)
{
    std::lock_guard lock(FLock);
    FMaxConnections = AValue;
}

int TWebRequestHandler::MaxConnections() const
{
    std::lock_guard lock(FLock);
    return FMaxConnections;
}

int TWebRequestHandler::ActiveCount() const
{
    std::lock_guard lock(FLock);
    return FActive;
}

int TWebRequestHandler::InactiveCount() const
{
    std::lock_guard lock(FLock);
    return static_cast<int>(FIdle.size());
}

TWebRequestHandler::TPooled TWebRequestHandler::Acquire()
{
    std::lock_guard lock(FLock);
    if (FActive >= FMaxConnections)
        throw EWebBrokerException(KMaximumConnectionsExceeded);
    if (!FIdle.empty()) {
        TPooled m = std::move(FIdle.back());
        FIdle.pop_back();
        ++FActive;
        return m;
    }
    if (!FWebModuleClass)
        throw EWebBrokerException("No web module class is set");
    // Made under the lock: module constructors may write class-level state.
    TPooled m{FWebModuleClass(), FGeneration};
    if (!m.Module)
        throw EWebBrokerException("The web module class made no module");
    ++FActive;
    return m;
}

void TWebRequestHandler::Release(TPooled AModule)
{
    std::unique_ptr<TWebModule> stale;
    std::lock_guard lock(FLock);
    --FActive;
    if (AModule.Generation == FGeneration)
        FIdle.push_back(std::move(AModule));
    else
        stale = std::move(AModule.Module);
}

TWebRequestHandler::TLease& TWebRequestHandler::TLease::operator=(TLease&& AOther) noexcept
{
    if (this != &AOther) {
        Release();
        FHandler = AOther.FHandler;
        FModule = std::move(AOther.FModule);
        AOther.FHandler = nullptr;
    }
    return *this;
}

void TWebRequestHandler::TLease::Release()
{
    if (FHandler) {
        TWebRequestHandler* handler = FHandler;
        FHandler = nullptr;
        handler->Release(std::move(FModule));
    }
}

TWebRequestHandler::TLease TWebRequestHandler::Reserve()
{
    return TLease(this, Acquire());
}

bool TWebRequestHandler::HandleRequest(TLease& ALease, TWebRequest& ARequest, TWebResponse& AResponse)
{
    if (!ALease)
        throw EWebBrokerException("No web module reserved for the request");
    struct TReturn {
        TLease& Lease;
        ~TReturn() { Lease.Release(); }
    } giveBack{ALease};
    bool handled = ALease.FModule.Module->DispatchRequest(ARequest, AResponse);
    if (handled && !AResponse.Sent())
        AResponse.SendResponse();
    return handled;
}

bool TWebRequestHandler::HandleRequest(TWebRequest& ARequest, TWebResponse& AResponse)
{
    TLease lease = Reserve();
    return HandleRequest(lease, ARequest, AResponse);
}

TWebRequestHandler& WebRequestHandler()
{
    static TWebRequestHandler handler;
    return handler;
}

} // namespace platform
