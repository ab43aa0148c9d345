#include "platform/http/http_loop_watchdog.hpp"

#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_limits.hpp"

namespace platform::http {

void TLoopWatchdog::Start(std::vector<TEventLoop*> ALoops)
{
    FLoops = std::move(ALoops);
    FStopping = false;
    FThread = std::thread([this] { Run(); });
}

void TLoopWatchdog::Stop()
{
    if (!FThread.joinable())
        return;
    {
        std::lock_guard lock(FLock);
        FStopping = true;
        FChanged.notify_all();
    }
    FThread.join();
    FLoops.clear();
}

void TLoopWatchdog::Wake()
{
    std::lock_guard lock(FLock);
    FWoken = true;
    FChanged.notify_all();
}

void TLoopWatchdog::Run()
{
    BlockSigPipe();
    using TClock = TEventLoop::TClock;
    std::vector<uint64_t> seen(FLoops.size(), 0);
    TClock::time_point lastActive = TClock::now();
    // Whether any loop began a chain since the last look (and hands off the blocked ones).
    auto look = [&] {
        const auto now = TClock::now();
        bool active = false;
        for (size_t i = 0; i < FLoops.size(); ++i) {
            const uint64_t chains = FLoops[i]->HandOffIfBlocked(now, limits::KChainHandOffAfter);
            active = active || chains != seen[i];
            seen[i] = chains;
        }
        if (active)
            lastActive = now;
        return active;
    };
    std::unique_lock lock(FLock);
    while (!FStopping) {
        look();
        if (TClock::now() - lastActive < limits::KWatchdogRest) {
            FChanged.wait_for(lock, limits::KWatchdogTick);
            continue;
        }
        // Nothing came for a while: sleep until a chain begins. Said before the last look, so a
        // chain that begins meanwhile is either seen by it or wakes us.
        FAsleep.store(true, std::memory_order_seq_cst);
        for (TEventLoop* loop : FLoops)
            loop->ReleaseSpareThreads();
        if (!look())
            FChanged.wait(lock, [this] { return FStopping || FWoken; });
        FAsleep.store(false, std::memory_order_seq_cst);
        FWoken = false;
        lastActive = TClock::now();
    }
}

} // namespace platform::http
