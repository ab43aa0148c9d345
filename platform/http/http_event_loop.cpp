#include "platform/http/http_event_loop.hpp"

#include <algorithm>
#include <csignal>
#include <future>
#include <system_error>

#include <boost/asio/post.hpp>

#include "platform/http/http_limits.hpp"
#include "platform/http/http_loop_watchdog.hpp"

namespace platform::http {

namespace asio = boost::asio;

void BlockSigPipe()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TEventLoop::TEventLoop(TLoopWatchdog* AWatchdog) : FWatchdog(AWatchdog)
{
    FRegistry.Attach(FContext);
}

TEventLoop::~TEventLoop()
{
    StopThread();
    FRegistry.Detach(); // while the context is still there
}

namespace {

// Set on a thread whose route code blocked while the loop went on elsewhere: it leaves the loop
// once the handler it runs returns.
thread_local bool GLeaveLoop = false;

std::atomic<uint64_t> GThreadsCreated{0};
std::atomic<int> GThreadsAlive{0};

// What a runner thread is told to do next.
constexpr int KWait = 0, KRunLoop = 1, KNotNeeded = 2, KEnd = 3;

} // namespace

uint64_t TEventLoop::ThreadsCreated()
{
    return GThreadsCreated.load();
}

int TEventLoop::ThreadsAlive()
{
    return GThreadsAlive.load();
}

void TEventLoop::StartThread()
{
    FWork.emplace(FContext.get_executor());
    {
        std::lock_guard lock(FRunnersLock);
        FStopping = false;
    }
    TRunner* runner = TakeRunner();
    Tell(*runner, KRunLoop);
}

TEventLoop::TRunner* TEventLoop::TakeRunner()
{
    std::lock_guard lock(FRunnersLock);
    // Threads that ended since (more were parked than kept).
    for (auto it = FRunners.begin(); it != FRunners.end();) {
        if (it->Ended) {
            it->Thread.join();
            it = FRunners.erase(it);
        } else {
            ++it;
        }
    }
    if (!FParked.empty()) {
        TRunner* runner = FParked.back();
        FParked.pop_back();
        return runner;
    }
    TRunner& runner = FRunners.emplace_back();
    try {
        runner.Thread = std::thread([this, &runner] { RunnerMain(runner); });
    } catch (...) {
        FRunners.pop_back();
        throw;
    }
    GThreadsCreated.fetch_add(1);
    return &runner;
}

void TEventLoop::Tell(TRunner& ARunner, int AGo)
{
    {
        std::lock_guard lock(FRunnersLock);
        ARunner.Go = AGo;
    }
    FRunnerTold.notify_all();
}

void TEventLoop::RunnerMain(TRunner& ARunner)
{
    BlockSigPipe();
    GThreadsAlive.fetch_add(1);
    std::unique_lock lock(FRunnersLock);
    for (;;) {
        // A parked thread left unused for a while ends.
        if (!FRunnerTold.wait_for(lock, limits::KSpareThreadLinger, [&] { return ARunner.Go != KWait; })) {
            auto parked = std::find(FParked.begin(), FParked.end(), &ARunner);
            if (parked != FParked.end()) {
                FParked.erase(parked);
                ARunner.Ended = true;
                break;
            }
            continue;
        }
        const int go = std::exchange(ARunner.Go, KWait);
        if (go == KEnd)
            break;
        if (go == KRunLoop) {
            lock.unlock();
            GLeaveLoop = false;
            // One handler at a time, so that a thread whose route code blocked leaves as soon
            // as that handler returns.
            while (!GLeaveLoop && FContext.run_one() != 0) {
            }
            lock.lock();
        }
        // The loop went to another thread (or stops): parked for the next hand-off, when there
        // is room.
        if (FStopping || FParked.size() >= static_cast<size_t>(limits::KSpareLoopThreads)) {
            ARunner.Ended = true;
            break;
        }
        FParked.push_back(&ARunner);
    }
    GThreadsAlive.fetch_sub(1);
}

void TEventLoop::ReleaseSpareThreads()
{
    std::list<TRunner> spare;
    {
        std::lock_guard lock(FRunnersLock);
        for (TRunner* r : FParked)
            r->Go = KEnd;
        FParked.clear();
        FRunnerTold.notify_all();
        for (auto it = FRunners.begin(); it != FRunners.end();) {
            auto next = std::next(it);
            if (it->Ended || it->Go == KEnd)
                spare.splice(spare.end(), FRunners, it);
            it = next;
        }
    }
    for (auto& r : spare)
        r.Thread.join();
}

void TEventLoop::StopThread()
{
    std::list<TRunner> runners;
    {
        std::lock_guard lock(FRunnersLock);
        if (FRunners.empty())
            return;
        FStopping = true;
        for (TRunner* r : FParked)
            r->Go = KEnd;
        FParked.clear();
        FRunnerTold.notify_all();
        runners.swap(FRunners);
    }
    FWork.reset();
    FContext.stop();
    // A thread still in route code ends once that returns: it finds the loop stopped.
    for (auto& r : runners)
        r.Thread.join();
}

void TEventLoop::Run()
{
    FContext.restart();
    FContext.run();
}

void TEventLoop::RunAndWait(const std::function<void()>& AWork)
{
    std::promise<void> done;
    asio::post(FContext, [&] {
        try {
            AWork();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

uint64_t TEventLoop::BeginRun()
{
    const uint64_t token = (++FChains << 1) | 1;
    FChainSince.store(TClock::now().time_since_epoch().count(), std::memory_order_relaxed);
    FChainState.store(token, std::memory_order_seq_cst);
    if (FWatchdog)
        FWatchdog->ChainBegun();
    return token;
}

bool TEventLoop::PauseRun(uint64_t AToken)
{
    uint64_t expected = AToken;
    return FChainState.compare_exchange_strong(expected, AToken & ~uint64_t(1), std::memory_order_acq_rel);
}

bool TEventLoop::EndRun(uint64_t AToken)
{
    if (PauseRun(AToken))
        return true;
    GLeaveLoop = true;
    return false;
}

uint64_t TEventLoop::HandOffIfBlocked(TClock::time_point ANow, TClock::duration AAfter)
{
    uint64_t state = FChainState.load(std::memory_order_seq_cst);
    if ((state & 1) == 0)
        return state >> 1;
    const TClock::time_point since{TClock::duration(FChainSince.load(std::memory_order_relaxed))};
    if (ANow - since < AAfter)
        return state >> 1;
    // The thread for the loop first: when none can be had, the run keeps the loop for now.
    TRunner* runner = nullptr;
    try {
        runner = TakeRunner();
    } catch (const std::system_error&) {
        return state >> 1;
    }
    // The blocked thread keeps its request; the other one runs the loop from here, unless the
    // run ended meanwhile.
    const bool blocked = FChainState.compare_exchange_strong(state, state & ~uint64_t(1), std::memory_order_acq_rel);
    Tell(*runner, blocked ? KRunLoop : KNotNeeded);
    return state >> 1;
}

} // namespace platform::http
