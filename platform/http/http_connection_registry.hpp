#pragma once
// What an event loop knows of its connections: the list of them (for the deadline checks, the
// stop and the connection cap), the ones idle between requests, longest idle first (the one to
// close at the cap is found without looking at the others), and the check of their deadlines
// every limits::KDeadlineCheckInterval, on the loop, while it holds any.
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/intrusive/list.hpp>

namespace platform::http {

class TConnection;

// A connection's place in its loop's list of idle connections.
struct TIdleEntry : boost::intrusive::list_base_hook<> {
    explicit TIdleEntry(TConnection& AOwner) : Owner(AOwner) {}
    TConnection& Owner;
    std::chrono::steady_clock::rep Since = 0; // under the registry's idle lock
};

class TConnectionRegistry {
public:
    using TClock = std::chrono::steady_clock;
    using TEntry = std::list<std::shared_ptr<TConnection>>::iterator;

    TConnectionRegistry() = default;
    ~TConnectionRegistry() = default;
    TConnectionRegistry(const TConnectionRegistry&) = delete;
    TConnectionRegistry& operator=(const TConnectionRegistry&) = delete;

    // The loop that owns the registry: the deadline checks run on AContext from here on. Detach
    // drops their timer and the connections still held; the owner calls it before AContext goes
    // (their sockets and the timer are AContext's).
    void Attach(boost::asio::io_context& AContext);
    void Detach();

    // The connections held; added and removed on the loop's thread. The first one added starts
    // the deadline checks, which end when none is left.
    void Add(const std::shared_ptr<TConnection>& AConnection);
    void Remove(TConnection& AConnection);
    // The connections held at this moment (any thread).
    std::vector<std::shared_ptr<TConnection>> Connections();

    // The connections that wait idle between requests (or silent since they were accepted).
    // Any thread; a connection is on the list from SetIdle to SetBusy.
    void SetIdle(TIdleEntry& AEntry, TClock::rep ASince);
    void SetBusy(TIdleEntry& AEntry);
    size_t IdleCount();
    // Since when the longest idle connection not yet chosen to make room waits; 0: none.
    TClock::rep LongestIdleSince();
    // Chooses that connection to make room (TConnection::ClaimEviction) and takes it off the
    // list; ASince: since when it waits. Null when there is none.
    std::shared_ptr<TConnection> ChooseLongestIdle(TClock::rep& ASince);

private:
    void ScheduleCheck();
    void CheckDeadlines();

    // Before the connections: one dropped with the list leaves the idle list in its destructor.
    std::mutex FIdleLock;
    boost::intrusive::list<TIdleEntry> FIdle;

    std::optional<boost::asio::steady_timer> FCheck; // from Attach to Detach
    bool FCheckScheduled = false;                    // loop thread only
    std::mutex FLock;                                // guards FConnections
    std::list<std::shared_ptr<TConnection>> FConnections;
};

} // namespace platform::http
