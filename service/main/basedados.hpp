#pragma once
// The data form: the product database's connection and its two queries, with settings fixed
// in the program. A plain object (never shown, no window of its own); the program body
// creates the one instance, BaseDados, after the main window.
//
// Requests use the database concurrently, but a connection and its queries serve one request
// at a time. So the form keeps a small pool of sessions, each one connection (FdConnection1)
// with the lookup query (fdQuery1) and the insert query (FDQuery2) bound to it, made and
// connected only when a request first needs one, and closed again once idle for a minute
// (data_limits.hpp). A request leases a session with Use() and holds it from its test of
// Connected through its last column read or its insert.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/object.hpp"
#include "platform/data/data_limits.hpp"
#include "platform/data/fd_connection.hpp"
#include "platform/data/fd_query.hpp"

namespace service {

class TBaseDados : public platform::TObject {
public:
    // One connection with its two queries; never used by two threads at once.
    class TSession {
    public:
        explicit TSession(const platform::TFDStrings& AParams);
        platform::TFDConnection FdConnection1; // declared first: the queries point to it
        platform::TFDQuery fdQuery1;
        platform::TFDQuery FDQuery2;

    private:
        friend class TBaseDados;
        bool FOpen = false;                               // its connection, as the pool last saw it
        uint64_t FParamsVersion = 0;                      // the settings it was given last
        std::chrono::steady_clock::time_point FIdleSince; // when it last came back
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

    using TClock = std::chrono::steady_clock;

    // The pool's limits (platform/data/data_limits.hpp gives the reasons).
    static constexpr size_t KDefaultMaxSessions = platform::data_limits::KMaxSessions;
    static constexpr std::chrono::seconds KDefaultRetryGrowth = platform::data_limits::KRetryGrowth;
    static constexpr std::chrono::seconds KDefaultIdleClose = platform::data_limits::KSessionIdleClose;

    TBaseDados();
    ~TBaseDados() override;
    TBaseDados(const TBaseDados&) = delete;
    TBaseDados& operator=(const TBaseDados&) = delete;

    // A session for one request, its connection open. An idle session with an open connection
    // comes first (the most recently used); without one, an idle or new session is connected
    // while fewer than MaxSessions are open. A connect that fails while other sessions are
    // open fails no request: the request waits for one of them, and the pool holds at the
    // number the server accepted until RetryGrowth has passed. Only when no session is open
    // does the connect's error reach the caller (the server down, the login refused, no
    // client library).
    TLease Use();

    size_t MaxSessions() const;
    void SetMaxSessions(size_t AValue); // at least 1
    void SetRetryGrowth(TClock::duration AValue);
    // A session idle longer than this closes its connection (a thread of the form's own does it).
    void SetIdleClose(TClock::duration AValue);
    size_t SessionCount() const;   // sessions made so far
    size_t ConnectedCount() const; // of those, how many hold an open connection (idle ones)
    size_t OpenCount() const;      // sessions with an open connection, idle or in use
    size_t WaitingCount() const;   // requests that wait in Use for a session

    // The connection settings every session starts from (Server, User_Name, Password,
    // Database, Port, DriverID).
    platform::TFDStrings Params() const;
    // Changes one setting for sessions connected afterwards; idle ones close their connection
    // now, ones in use when they come back. For tests and tools; the program keeps the fixed
    // settings.
    void SetParam(const std::string& AName, const std::string& AValue);

private:
    static constexpr size_t KNoHold = std::numeric_limits<size_t>::max();

    // An idle session whose connection is open (AOpen) or closed, taken off the idle list.
    TSession* TakeIdle(bool AOpen);
    size_t IdleOpenCount() const;
    bool MayConnect() const;
    void SetOpen(TSession& ASession, bool AOpen);
    void Release(TSession& ASession) noexcept;
    // The thread that closes the connections of sessions idle longer than FIdleClose.
    void CloseIdle();

    mutable std::mutex FLock;
    std::condition_variable FFree; // a session came back, a connect ended, a limit changed
    platform::TFDStrings FParams;
    uint64_t FParamsVersion = 0;
    size_t FMaxSessions = KDefaultMaxSessions;
    std::vector<std::unique_ptr<TSession>> FSessions;
    std::vector<TSession*> FIdle; // the last released at the back
    size_t FOpenCount = 0;        // sessions whose FOpen is set
    size_t FConnecting = 0;       // connects in progress
    size_t FWaiting = 0;          // requests waiting in Use for a session
    // After a refused connect: open plus connecting sessions held at this number until
    // FRetryGrowthAt; KNoHold otherwise.
    size_t FGrowthLimit = KNoHold;
    TClock::time_point FRetryGrowthAt;
    TClock::duration FRetryGrowth = KDefaultRetryGrowth;
    TClock::duration FIdleClose = KDefaultIdleClose;
    std::condition_variable FIdleWake; // a session to watch, a new idle time, the end
    // When CloseIdle looks again: max while no open session is idle (a release then wakes it),
    // min while it is awake.
    TClock::time_point FIdleCheckAt = TClock::time_point::min();
    bool FStopping = false;
    std::thread FIdleCloser; // last: started once everything it uses is made
};

// The single instance; set by the program body.
extern TBaseDados* BaseDados;

} // namespace service
