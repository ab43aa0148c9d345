#pragma once
// Watches the server's event loops for route code that blocks one (a database lookup waiting on
// a dead server, say): such a loop goes to a new thread after limits::KChainHandOffAfter, so
// the other connections of that loop (pictures, say) never wait for it. It looks every
// limits::KWatchdogTick while requests come, and sleeps while none do.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::http {

class TEventLoop;

class TLoopWatchdog {
public:
    TLoopWatchdog() = default;
    ~TLoopWatchdog() { Stop(); }
    TLoopWatchdog(const TLoopWatchdog&) = delete;
    TLoopWatchdog& operator=(const TLoopWatchdog&) = delete;

    void Start(std::vector<TEventLoop*> ALoops);
    void Stop();
    // A loop began route code (TEventLoop::BeginChain): wakes the watchdog when it sleeps.
    void ChainBegun()
    {
        if (FAsleep.load(std::memory_order_seq_cst))
            Wake();
    }

private:
    void Run();
    void Wake();

    std::vector<TEventLoop*> FLoops;
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FStopping = false;
    bool FWoken = false;
    std::atomic<bool> FAsleep{false};
    std::thread FThread;
};

} // namespace platform::http
