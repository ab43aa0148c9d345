#include "service/main/basedados.hpp"

#include <algorithm>
#include <exception>

#include "platform/base/exception.hpp"
#include "platform/data/data_limits.hpp"

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

TBaseDados::TStopGrace::TStopGrace(TBaseDados* AOwner)
{
    if (!AOwner)
        return;
    const TClock::time_point until = TClock::now() + AOwner->StopGrace();
    FThread = std::thread([this, AOwner, until] {
        std::unique_lock guard(FLock);
        if (!FDone.wait_until(guard, until, [this] { return FStopped; }))
            AOwner->EndWaits();
    });
}

TBaseDados::TStopGrace::~TStopGrace()
{
    if (!FThread.joinable())
        return;
    {
        std::lock_guard guard(FLock);
        FStopped = true;
    }
    FDone.notify_all();
    FThread.join();
}

TBaseDados::TBaseDados() : FPoolWait(platform::data_limits::KPoolWait), FStopGrace(platform::data_limits::KStopGrace)
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
        FFree.NotifyAll(); // a pool held at what the server accepted may connect again
    }
}

TBaseDados::TSession* TBaseDados::TakeIdle(bool AOpen)
{
    for (auto it = FIdle.rbegin(); it != FIdle.rend(); ++it) {
        if ((*it)->FOpen != AOpen)
            continue;
        TSession* s = *it;
        FIdle.erase(std::next(it).base());
        s->FInUse = true;
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
    const TClock::time_point until = TClock::now() + FPoolWait;
    const uint64_t ended = FEndedWaits;
    for (;;) {
        if (FEndedWaits != ended)
            throw platform::Exception("The server is stopping: the database is no longer waited for");
        if (TSession* s = TakeIdle(true))
            return TLease(*this, *s);
        if (!MayConnect()) {
            if (TClock::now() >= until)
                throw platform::Exception(
                    "The database is busy: no connection to it came free within " +
                    std::to_string(std::chrono::duration_cast<std::chrono::seconds>(FPoolWait).count()) + " s");
            ++FWaiting;
            if (FGrowthLimit != KNoHold && TClock::now() < FRetryGrowthAt)
                FFree.WaitUntil(guard, std::min(until, FRetryGrowthAt));
            else
                FFree.WaitUntil(guard, until);
            --FWaiting;
            continue;
        }

        TSession* s = TakeIdle(false);
        if (!s) {
            FSessions.push_back(std::make_unique<TSession>(FParams));
            s = FSessions.back().get();
            s->FParamsVersion = FParamsVersion;
            s->FInUse = true;
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
        FFree.NotifyAll();
        if (!failure) {
            SetOpen(*s, true);
            FGrowthLimit = KNoHold; // the server took one more
            return TLease(*this, *s);
        }

        // Parked, not dropped: it is connected again when a connect is due.
        s->FInUse = false;
        s->FdConnection1.ClearAbort();
        FIdle.insert(FIdle.begin(), s);
        // A connect still in progress may open a session that can serve this request.
        while (FConnecting != 0 && IdleOpenCount() == 0)
            FFree.Wait(guard);
        if (FOpenCount == 0 || FEndedWaits != ended)
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
        // Its wait was ended by a stop: a link of no further use.
        if (ASession.FdConnection1.Aborted()) {
            ASession.FdConnection1.Close();
            ASession.FdConnection1.ClearAbort();
        }
        // A statement may have found the connection gone and failed to make it again.
        SetOpen(ASession, ASession.FdConnection1.Connected());
        ASession.FInUse = false;
        ASession.FIdleSince = TClock::now();
        FIdle.push_back(&ASession);
        // Sessions come back in time order, so a closer waiting for an earlier one needs no word.
        if (ASession.FOpen && FIdleCheckAt == TClock::time_point::max())
            FIdleWake.notify_one();
    }
    FFree.NotifyAll();
}

void TBaseDados::EndWaits()
{
    {
        std::lock_guard guard(FLock);
        ++FEndedWaits;
        for (auto& s : FSessions)
            if (s->FInUse)
                s->FdConnection1.Abort();
    }
    FFree.NotifyAll();
}

TBaseDados::TClock::duration TBaseDados::PoolWait() const
{
    std::lock_guard guard(FLock);
    return FPoolWait;
}

void TBaseDados::SetPoolWait(TClock::duration AValue)
{
    std::lock_guard guard(FLock);
    FPoolWait = AValue;
}

TBaseDados::TClock::duration TBaseDados::StopGrace() const
{
    std::lock_guard guard(FLock);
    return FStopGrace;
}

void TBaseDados::SetStopGrace(TClock::duration AValue)
{
    std::lock_guard guard(FLock);
    FStopGrace = AValue;
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
    FFree.NotifyAll();
}

void TBaseDados::SetRetryGrowth(TClock::duration AValue)
{
    {
        std::lock_guard guard(FLock);
        FRetryGrowth = AValue;
        if (FGrowthLimit != KNoHold)
            FRetryGrowthAt = std::min(FRetryGrowthAt, TClock::now() + AValue);
    }
    FFree.NotifyAll();
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
    FFree.NotifyAll();
}

} // namespace service
