#pragma once
// One I/O thread of the HTTP server: an Asio event loop, the threads that run it and the requests'
// route code, each on a coroutine of the loop (platform::TCoroutine): a database wait suspends it
// and the loop goes on. Route code that blocks without suspending (a slow disk, say) for longer
// than limits::KChainHandOffAfter keeps its thread: the loop's watchdog (TLoopWatchdog) gives the
// loop to another thread, one kept parked for that when there is one, so its other connections
// go on; the blocked thread ends its request, posts its connection back to the loop and is
// parked in turn. The connections the loop holds, and their deadlines, are its registry's
// (TConnectionRegistry).
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

#include "platform/base/coroutine.hpp"
#include "platform/http/http_connection_registry.hpp"

namespace platform::http {

class TLoopWatchdog;

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

    // The connections it holds, their idle list and their deadline checks.
    TConnectionRegistry& Registry() { return FRegistry; }

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

    // Declared before the context: connections that its queued handlers still hold leave the
    // idle list when the context drops them, so the registry must outlive it. Its timer and
    // the connections it still holds are the context's: dropped before it (Detach).
    TConnectionRegistry FRegistry;
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
};

} // namespace platform::http
