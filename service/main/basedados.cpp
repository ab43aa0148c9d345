#include "service/main/basedados.hpp"

#include <algorithm>

namespace service {

TBaseDados* BaseDados = nullptr;

TBaseDados::TSession::TSession(const platform::TFDStrings& AParams)
    : fdQuery1(&FdConnection1), FDQuery2(&FdConnection1) {
    FdConnection1.Params = AParams;
    FdConnection1.ResourceOptions.AutoReconnect = true;
    FdConnection1.LoginPrompt = false;
}

TBaseDados::TLease::TLease(TBaseDados& AOwner, TSession& ASession)
    : FdConnection1(ASession.FdConnection1),
      fdQuery1(ASession.fdQuery1),
      FDQuery2(ASession.FDQuery2),
      FOwner(AOwner),
      FSession(ASession) {}

TBaseDados::TLease::~TLease() { FOwner.Release(FSession); }

TBaseDados::TBaseDados() {
    FParams.Add("Server=127.0.0.1");
    FParams.Add("User_Name=Pelvador");
    FParams.Add("Password=Rwt507kpxm%");
    FParams.Add("Database=base_produtos");
    FParams.Add("Port=3389");
    FParams.Add("DriverID=MySQL");
}

TBaseDados::~TBaseDados() = default;

TBaseDados::TLease TBaseDados::Use() {
    std::unique_lock Guard(FLock);
    for (;;) {
        if (!FIdle.empty()) {
            TSession* S = FIdle.back();
            FIdle.pop_back();
            return TLease(*this, *S);
        }
        if (FSessions.size() < FMaxSessions) {
            FSessions.push_back(std::make_unique<TSession>(FParams));
            return TLease(*this, *FSessions.back());
        }
        FFree.wait(Guard);
    }
}

void TBaseDados::Release(TSession& ASession) noexcept {
    {
        std::lock_guard Guard(FLock);
        // Results are not needed once the request has read them.
        ASession.fdQuery1.Close();
        FIdle.push_back(&ASession);
    }
    FFree.notify_one();
}

size_t TBaseDados::MaxSessions() const {
    std::lock_guard Guard(FLock);
    return FMaxSessions;
}

void TBaseDados::SetMaxSessions(size_t AValue) {
    {
        std::lock_guard Guard(FLock);
        FMaxSessions = std::max<size_t>(AValue, 1);
    }
    FFree.notify_all();
}

size_t TBaseDados::SessionCount() const {
    std::lock_guard Guard(FLock);
    return FSessions.size();
}

size_t TBaseDados::ConnectedCount() const {
    std::lock_guard Guard(FLock);
    size_t N = 0;
    for (TSession* S : FIdle)
        if (S->FdConnection1.Connected()) ++N;
    return N;
}

platform::TFDStrings TBaseDados::Params() const {
    std::lock_guard Guard(FLock);
    return FParams;
}

void TBaseDados::SetParam(const std::string& AName, const std::string& AValue) {
    std::lock_guard Guard(FLock);
    FParams.SetValue(AName, AValue);
    for (TSession* S : FIdle) {
        S->FdConnection1.Close();
        S->FdConnection1.Params = FParams;
    }
}

} // namespace service
