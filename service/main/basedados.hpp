#pragma once
// The data form: the product database's connection and its two queries, with settings fixed
// in the program. A plain object (never shown, no window of its own); the program body
// creates the one instance, BaseDados, after the main window.
//
// Requests use the database concurrently, but a connection and its queries serve one request
// at a time. So the form keeps a small pool of sessions, each one connection (FdConnection1)
// with the lookup query (fdQuery1) and the insert query (FDQuery2) bound to it, made and
// connected only when a request first needs one. A request leases a session with Use() and
// holds it from its test of Connected through its last column read or its insert.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/object.hpp"
#include "platform/data/fd_connection.hpp"
#include "platform/data/fd_query.hpp"

namespace service {

class TBaseDados : public platform::TObject {
public:
    // One connection with its two queries; never used by two threads at once.
    class TSession {
    public:
        explicit TSession(const platform::TFDStrings& AParams);
        platform::TFDConnection FdConnection1;  // declared first: the queries point to it
        platform::TFDQuery fdQuery1;
        platform::TFDQuery FDQuery2;
    };

    // Exclusive use of one session for as long as the lease lives.
    class TLease {
    public:
        ~TLease();
        TLease(const TLease&) = delete;
        TLease& operator=(const TLease&) = delete;
        platform::TFDConnection& FdConnection1;
        platform::TFDQuery& fdQuery1;
        platform::TFDQuery& FDQuery2;

    private:
        friend class TBaseDados;
        TLease(TBaseDados& AOwner, TSession& ASession);
        TBaseDados& FOwner;
        TSession& FSession;
    };

    // As many as the web layer lets requests run at once (32): fewer make requests queue here
    // for a session while the server idles.
    static constexpr size_t KDefaultMaxSessions = 32;

    TBaseDados();
    ~TBaseDados() override;
    TBaseDados(const TBaseDados&) = delete;
    TBaseDados& operator=(const TBaseDados&) = delete;

    // Waits for a free session (the most recently used first), making a new, unconnected
    // one while fewer than MaxSessions exist.
    TLease Use();

    size_t MaxSessions() const;
    void SetMaxSessions(size_t AValue);  // at least 1
    size_t SessionCount() const;         // sessions made so far
    size_t ConnectedCount() const;       // of those, how many hold an open connection (idle ones)

    // The connection settings every session starts from (Server, User_Name, Password,
    // Database, Port, DriverID).
    platform::TFDStrings Params() const;
    // Changes one setting for sessions made afterwards and for idle ones (whose open
    // connection is closed, to reconnect with it). For tests and tools; the program keeps
    // the fixed settings.
    void SetParam(const std::string& AName, const std::string& AValue);

private:
    void Release(TSession& ASession) noexcept;

    mutable std::mutex FLock;
    std::condition_variable FFree;
    platform::TFDStrings FParams;
    size_t FMaxSessions = KDefaultMaxSessions;
    std::vector<std::unique_ptr<TSession>> FSessions;
    std::vector<TSession*> FIdle;  // a stack: the last released is used next
};

// The single instance; set by the program body.
extern TBaseDados* BaseDados;

} // namespace service
