#include "platform/base/process_tuning.hpp"

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace platform {

namespace {

using TClock = std::chrono::steady_clock;

// Why these two allocator settings keep a long-running server's size flat:
// - Every thread that allocates gets an arena of its own by default (up to eight per core), and
//   each keeps pages resident under the few long-lived blocks it holds.
// - By default the mmap threshold rises to the largest mapped block ever freed (a batch of
//   history lines, a large body); from then on such blocks come from the heap and fragment it.
void TuneAllocator()
{
    if (!std::getenv("MALLOC_ARENA_MAX"))
        ::mallopt(M_ARENA_MAX, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    if (!std::getenv("MALLOC_MMAP_THRESHOLD_"))
        ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

void IgnoreSigPipe()
{
    struct sigaction old {};
    if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
}

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Trims the allocator's arenas on its own thread, after memory was freed.
class TMemoryTrimmer {
public:
    void Start()
    {
        std::thread([this] { Run(); }).detach(); // lives as long as the process
        FStarted.store(true, std::memory_order_release);
    }

    void Note()
    {
        if (!FStarted.load(std::memory_order_acquire))
            return;
        FLastFree.store(TClock::now().time_since_epoch().count(), std::memory_order_relaxed);
        if (!FPending.exchange(true, std::memory_order_acq_rel)) {
            std::lock_guard lock(FLock);
            FWake.notify_one();
        }
    }

private:
    void Run()
    {
        TClock::time_point lastTrim = TClock::now();
        std::unique_lock lock(FLock);
        for (;;) {
            FWake.wait(lock, [this] { return FPending.load(std::memory_order_acquire); });
            // Once nothing was freed for a moment, or once a second while memory keeps being freed.
            for (;;) {
                const TClock::time_point lastFree{TClock::duration(FLastFree.load(std::memory_order_relaxed))};
                const TClock::time_point due =
                    std::min(lastFree + std::chrono::milliseconds(100), lastTrim + std::chrono::seconds(1));
                if (TClock::now() >= due)
                    break;
                FWake.wait_until(lock, due);
            }
            FPending.store(false, std::memory_order_release);
            lock.unlock();
            ::malloc_trim(0);
            lastTrim = TClock::now();
            lock.lock();
        }
    }

    std::atomic<bool> FStarted{false};
    std::atomic<bool> FPending{false};
    std::atomic<TClock::rep> FLastFree{0};
    std::mutex FLock;
    std::condition_variable FWake;
};

TMemoryTrimmer& Trimmer()
{
    static TMemoryTrimmer* trimmer = new TMemoryTrimmer(); // never freed: its thread outlives main
    return *trimmer;
}

} // namespace

void TuneProcess()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TuneAllocator();
        IgnoreSigPipe();
        RaiseDescriptorLimit();
        Trimmer().Start();
    });
}

void ReleaseFreedMemory()
{
    Trimmer().Note();
}

} // namespace platform
