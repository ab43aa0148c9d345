#pragma once
// One I/O thread of the HTTP server: an Asio event loop, the connections it holds, a check of
// their deadlines every limits::KDeadlineCheckInterval, and the requests' route code, each on a
// coroutine of the loop (platform::TCoroutine): a database wait suspends it and the loop goes on.
// Route code that blocks without suspending (a slow disk, say) for longer than
// limits::KChainHandOffAfter keeps its thread: the loop's watchdog (TLoopWatchdog) gives the
// loop to another thread, one kept parked for that when there is one, so its other connections
// go on; the blocked thread ends its request and is parked in turn.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/intrusive/list.hpp>

#include "platform/base/coroutine.hpp"

namespace platform::http {

class TConnection;
class TLoopWatchdog;

// A connection's place in its loop's list of idle connections.
struct TIdleEntry : boost::intrusive::list_base_hook<> {
    explicit TIdleEntry(TConnection& AOwner) : Owner(AOwner) {}
    TConnection& Owner;
    std::chrono::steady_clock::rep Since = 0; // under the loop's idle lock
};

// Blocks SIGPIPE for the calling thread: a write to a client that has gone then only fails with
// its error code, whatever the program does with the signal. Every thread of the server calls it.
void BlockSigPipe();

class TEventLoop final : public ICoroutineHost {
public:
    using TClock = std::chrono::steady_clock;

    // AWatchdog: hands the loop over when route code blocks it; null: never (a loop run by
    // its caller, ServeConnectedSocket).
    explicit TEventLoop(TLoopWatchdog* AWatchdog = nullptr);
    ~TEventLoop();
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    boost::asio::io_context& Context() override { return FContext; }

    // Runs the loop on a thread of its own until StopThread.
    void StartThread();
    // Ends the loop and joins its threads. Handlers still queued are dropped.
    void StopThread();
    // Runs the loop on the calling thread until it has nothing left to do.
    void Run();
    // Runs AWork on the loop's thread and waits for it (from another thread only).
    void RunAndWait(const std::function<void()>& AWork);

    // Runs of route code on the loop's thread (a coroutine begins or resumes, and suspends or
    // ends). EndRun and PauseRun are false when the loop went to another thread meanwhile: the
    // caller then no longer runs the loop, must leave the loop's state alone (post to it instead)
    // and return from its handler.
    uint64_t BeginRun() override;
    bool PauseRun(uint64_t AToken) override;
    bool EndRun(uint64_t AToken) override;
    // Watchdog: gives the loop to another thread when its route code has run for AAfter;
    // returns the number of runs begun so far (to see whether the loop is busy).
    uint64_t HandOffIfBlocked(TClock::time_point ANow, TClock::duration AAfter);

    // Watchdog, once requests stopped coming: ends and joins the threads parked for hand-offs.
    void ReleaseSpareThreads();

    // Threads made to run loops so far, and alive now, in the whole process.
    static uint64_t ThreadsCreated();
    static int ThreadsAlive();

    // The connections held; added and removed on the loop's thread. The first one added starts
    // the deadline checks, which end when none is left.
    void Add(const std::shared_ptr<TConnection>& AConnection);
    void Remove(TConnection& AConnection);
    // The connections held at this moment (any thread).
    std::vector<std::shared_ptr<TConnection>> Connections();

    // The connections that wait idle between requests (or silent since they were accepted),
    // longest idle first, so that the one to close at the connection cap is found without
    // looking at the others. Any thread; a connection is on the list from SetIdle to SetBusy.
    void SetIdle(TIdleEntry& AEntry, TClock::rep ASince);
    void SetBusy(TIdleEntry& AEntry);
    size_t IdleCount();
    // Since when the longest idle connection not yet chosen to make room waits; 0: none.
    TClock::rep LongestIdleSince();
    // Chooses that connection to make room (TConnection::ClaimEviction) and takes it off the
    // list; ASince: since when it waits. Null when there is none.
    std::shared_ptr<TConnection> ChooseLongestIdle(TClock::rep& ASince);

private:
    struct TRunner {
        std::thread Thread;
        int Go = 0;         // KWait, KRunLoop, KNotNeeded, KEnd; under FRunnersLock
        bool Ended = false; // under FRunnersLock
    };
    // A thread to run the loop once told to go: a parked one, or a new one.
    TRunner* TakeRunner();
    void RunnerMain(TRunner& ARunner);
    void Tell(TRunner& ARunner, int AGo);
    void ScheduleCheck();
    void CheckDeadlines();

    // Declared before the context: connections that its queued handlers still hold leave the
    // list when the context drops them.
    std::mutex FIdleLock;
    boost::intrusive::list<TIdleEntry> FIdle;

    boost::asio::io_context FContext;
    TLoopWatchdog* const FWatchdog;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> FWork;

    // (runs begun << 1) | 1 while one runs; written by the thread that runs it, and by the
    // watchdog when it takes the loop away from that thread.
    std::atomic<uint64_t> FChainState{0};
    std::atomic<TClock::rep> FChainSince{0};
    uint64_t FChains = 0; // the thread that runs the loop
    std::mutex FRunnersLock;
    std::condition_variable FRunnerTold;
    std::list<TRunner> FRunners;
    std::vector<TRunner*> FParked; // threads that gave the loop away, kept for the next hand-off
    bool FStopping = false;        // under FRunnersLock

    boost::asio::steady_timer FCheck;
    bool FCheckScheduled = false; // loop thread only
    std::mutex FLock;             // guards FConnections
    std::list<std::shared_ptr<TConnection>> FConnections;
};

} // namespace platform::http
