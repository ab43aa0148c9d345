#include "service/main/basedados.hpp"

#include <algorithm>
#include <exception>

namespace service {

TBaseDados* BaseDados = nullptr;

TBaseDados::TSession::TSession(const platform::TFDStrings& AParams) : fdQuery1(&FdConnection1), FDQuery2(&FdConnection1)
{
    FdConnection1.Params = AParams;
    FdConnection1.ResourceOptions.AutoReconnect = true;
    FdConnection1.LoginPrompt = false;
}

TBaseDados::TLease::TLease(TBaseDados& AOwner, TSession& ASession)
    : FdConnection1(ASession.FdConnection1), fdQuery1(ASession.fdQuery1), FDQuery2(ASession.FDQuery2), FOwner(AOwner),
      FSession(ASession)
{
}

TBaseDados::TLease::~TLease()
{
    FOwner.Release(FSession);
}

TBaseDados::TBaseDados()
{
    FParams.Add("Server=127.0.0.1");
    FParams.Add("User_Name=Pelvador");
    FParams.Add("Password=Rwt507kpxm%");
    FParams.Add("Database=base_produtos");
    FParams.Add("Port=3389");
    FParams.Add("DriverID=MySQL");
    FIdleCloser = std::thread([this] { CloseIdle(); });
}

TBaseDados::~TBaseDados()
{
    {
        std::lock_guard guard(FLock);
        FStopping = true;
    }
    FIdleWake.notify_all();
    FIdleCloser.join();
}

void TBaseDados::CloseIdle()
{
    std::unique_lock guard(FLock);
    while (!FStopping) {
        const TClock::time_point now = TClock::now();
        TClock::time_point next = TClock::time_point::max();
        TSession* due = nullptr;
        for (auto it = FIdle.begin(); it != FIdle.end(); ++it) {
            TSession* s = *it;
            if (!s->FOpen)
                continue;
            if (now - s->FIdleSince >= FIdleClose) {
                due = s;
                FIdle.erase(it);
                break;
            }
            next = std::min(next, s->FIdleSince + FIdleClose);
        }
        if (!due) {
            FIdleCheckAt = next;
            if (next == TClock::time_point::max())
                FIdleWake.wait(guard);
            else
                FIdleWake.wait_until(guard, next);
            FIdleCheckAt = TClock::time_point::min();
            continue;
        }
        // Off the idle list while it closes (counted open until closed): no request takes it.
        guard.unlock();
        due->FdConnection1.Close();
        guard.lock();
        SetOpen(*due, false);
        FIdle.insert(FIdle.begin(), due);
        FFree.notify_all(); // a pool held at what the server accepted may connect again
    }
}

TBaseDados::TSession* TBaseDados::TakeIdle(bool AOpen)
{
    for (auto it = FIdle.rbegin(); it != FIdle.rend(); ++it) {
        if ((*it)->FOpen != AOpen)
            continue;
        TSession* s = *it;
        FIdle.erase(std::next(it).base());
        return s;
    }
    return nullptr;
}

bool TBaseDados::MayConnect() const
{
    const size_t busy = FOpenCount + FConnecting;
    if (busy >= FMaxSessions)
        return false;
    if (busy < FGrowthLimit)
        return true;
    // Held at what the server accepted: one attempt to grow once the time has come.
    return FConnecting == 0 && TClock::now() >= FRetryGrowthAt;
}

void TBaseDados::SetOpen(TSession& ASession, bool AOpen)
{
    if (ASession.FOpen == AOpen)
        return;
    ASession.FOpen = AOpen;
    if (AOpen)
        ++FOpenCount;
    else
        --FOpenCount;
}

TBaseDados::TLease TBaseDados::Use()
{
    std::unique_lock guard(FLock);
    for (;;) {
        if (TSession* s = TakeIdle(true))
            return TLease(*this, *s);
        if (!MayConnect()) {
            ++FWaiting;
            if (FGrowthLimit != KNoHold && TClock::now() < FRetryGrowthAt)
                FFree.wait_until(guard, FRetryGrowthAt);
            else
                FFree.wait(guard);
            --FWaiting;
            continue;
        }

        TSession* s = TakeIdle(false);
        if (!s) {
            FSessions.push_back(std::make_unique<TSession>(FParams));
            s = FSessions.back().get();
            s->FParamsVersion = FParamsVersion;
        } else if (s->FParamsVersion != FParamsVersion) {
            s->FdConnection1.Params = FParams;
            s->FParamsVersion = FParamsVersion;
        }
        ++FConnecting;
        guard.unlock();
        std::exception_ptr failure;
        try {
            s->FdConnection1.Open();
        } catch (...) {
            failure = std::current_exception();
        }
        guard.lock();
        --FConnecting;
        FFree.notify_all();
        if (!failure) {
            SetOpen(*s, true);
            FGrowthLimit = KNoHold; // the server took one more
            return TLease(*this, *s);
        }

        // Parked, not dropped: it is connected again when a connect is due.
        FIdle.insert(FIdle.begin(), s);
        // A connect still in progress may open a session that can serve this request.
        FFree.wait(guard, [this] { return FConnecting == 0 || IdleOpenCount() > 0; });
        if (FOpenCount == 0)
            std::rethrow_exception(failure);
        // The server takes no more connections (its own limit, or this login's): hold the pool
        // at the ones it accepted and wait for one of them.
        FGrowthLimit = FOpenCount;
        FRetryGrowthAt = TClock::now() + FRetryGrowth;
    }
}

void TBaseDados::Release(TSession& ASession) noexcept
{
    {
        std::lock_guard guard(FLock);
        // Results are not needed once the request has read them.
        ASession.fdQuery1.Close();
        // Settings changed while it was in use: it connects again with the new ones.
        if (ASession.FParamsVersion != FParamsVersion)
            ASession.FdConnection1.Close();
        // A statement may have found the connection gone and failed to make it again.
        SetOpen(ASession, ASession.FdConnection1.Connected());
        ASession.FIdleSince = TClock::now();
        FIdle.push_back(&ASession);
        // Sessions come back in time order, so a closer waiting for an earlier one needs no word.
        if (ASession.FOpen && FIdleCheckAt == TClock::time_point::max())
            FIdleWake.notify_one();
    }
    FFree.notify_all();
}

size_t TBaseDados::MaxSessions() const
{
    std::lock_guard guard(FLock);
    return FMaxSessions;
}

void TBaseDados::SetMaxSessions(size_t AValue)
{
    {
        std::lock_guard guard(FLock);
        FMaxSessions = std::max<size_t>(AValue, 1);
    }
    FFree.notify_all();
}

void TBaseDados::SetRetryGrowth(TClock::duration AValue)
{
    {
        std::lock_guard guard(FLock);
        FRetryGrowth = AValue;
        if (FGrowthLimit != KNoHold)
            FRetryGrowthAt = std::min(FRetryGrowthAt, TClock::now() + AValue);
    }
    FFree.notify_all();
}

void TBaseDados::SetIdleClose(TClock::duration AValue)
{
    {
        std::lock_guard guard(FLock);
        // Bounded, so that an idle time added to a point in time cannot overflow.
        FIdleClose = std::clamp<TClock::duration>(AValue, TClock::duration::zero(), std::chrono::hours(24 * 365));
    }
    FIdleWake.notify_all();
}

size_t TBaseDados::SessionCount() const
{
    std::lock_guard guard(FLock);
    return FSessions.size();
}

size_t TBaseDados::IdleOpenCount() const
{
    return static_cast<size_t>(
        std::count_if(FIdle.begin(), FIdle.end(), [](TSession* ASession) { return ASession->FOpen; }));
}

size_t TBaseDados::ConnectedCount() const
{
    std::lock_guard guard(FLock);
    return IdleOpenCount();
}

size_t TBaseDados::OpenCount() const
{
    std::lock_guard guard(FLock);
    return FOpenCount;
}

size_t TBaseDados::WaitingCount() const
{
    std::lock_guard guard(FLock);
    return FWaiting;
}

platform::TFDStrings TBaseDados::Params() const
{
    std::lock_guard guard(FLock);
    return FParams;
}

void TBaseDados::SetParam(const std::string& AName, const std::string& AValue)
{
    {
        std::lock_guard guard(FLock);
        FParams.SetValue(AName, AValue);
        ++FParamsVersion;
        for (TSession* s : FIdle) {
            s->FdConnection1.Close();
            SetOpen(*s, false);
            s->FdConnection1.Params = FParams;
            s->FParamsVersion = FParamsVersion;
        }
    }
    FFree.notify_all();
}

} // namespace service
