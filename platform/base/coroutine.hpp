#pragma once
// Stackful coroutines for code written to wait (a database statement, say) that runs on an event
// loop: a wait suspends the coroutine, the loop goes on with its other work, and the coroutine
// resumes on the loop once the wait is over. Code on any other thread (a test, a tool, a thread
// that lost its loop) waits as before: AwaitHandle polls, TAwaitQueue blocks.
//
// A coroutine runs on its host's thread. A host may give its loop to another thread while a
// coroutine runs (the coroutine blocked without suspending): that coroutine then finishes on the
// thread it kept and never suspends again.
//
// Across a suspension the coroutine may come back on another thread and other coroutines run
// meanwhile: nothing may hold a std::mutex across one, and thread_local state set before one is
// not the coroutine's own after it.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/context/detail/fcontext.hpp>
#include <boost/context/stack_context.hpp>

namespace platform {

// What runs coroutines: an event loop, told of every run of one on its thread.
class ICoroutineHost {
public:
    virtual boost::asio::io_context& Context() = 0;
    // A coroutine begins or resumes on the host's thread; the token names that run.
    virtual uint64_t BeginRun() = 0;
    // The run is about to suspend: false when the host gave its loop to another thread meanwhile
    // (the coroutine must then block instead).
    virtual bool PauseRun(uint64_t AToken) = 0;
    // The coroutine ended: false when the host gave its loop to another thread meanwhile.
    virtual bool EndRun(uint64_t AToken) = 0;

protected:
    ~ICoroutineHost() = default;
};

// A flag of the calling code's own: of its coroutine when it runs on one (other coroutines run on
// the same thread while it is suspended), of its thread otherwise. At most 32 in a program.
class TLocalFlag {
public:
    TLocalFlag() noexcept;
    bool Get() const noexcept;
    void Set(bool AValue) noexcept;

private:
    uint32_t FBit;
};

// A pointer of the calling code's own, kept as TLocalFlag keeps a flag. At most 4 in a program.
class TLocalPointer {
public:
    static constexpr size_t KSlots = 4;
    TLocalPointer() noexcept;
    void* Get() const noexcept;
    void Set(void* AValue) noexcept;

private:
    size_t FSlot;
};

class TCoroutine : public std::enable_shared_from_this<TCoroutine> {
public:
    // Runs AWork on a new coroutine of AHost, at once (call it on the host's thread). ADone
    // follows on the thread that ran its end, off the coroutine's stack, with whether that
    // thread still runs the host's loop. AWork must not throw, nor wait inside a catch block
    // (the exception being handled belongs to the thread).
    static void Start(ICoroutineHost& AHost, std::function<void()> AWork, std::function<void(bool)> ADone);
    // The coroutine the calling code runs on, or null.
    static TCoroutine* Current() noexcept;

    ICoroutineHost& Host() { return FHost; }
    // Readies a suspension: false when the coroutine must not suspend (its host left the thread).
    // After true, the caller arranges a Resume (from the host's loop) and calls Suspend.
    bool TryPause();
    void Suspend();
    // On the host's loop: goes on with a suspended coroutine until its next suspension or end.
    void Resume();

    TCoroutine(ICoroutineHost& AHost, std::function<void()> AWork, std::function<void(bool)> ADone);
    ~TCoroutine();
    TCoroutine(const TCoroutine&) = delete;
    TCoroutine& operator=(const TCoroutine&) = delete;

private:
    friend class TLocalFlag;
    friend class TLocalPointer;
    static void Entry(boost::context::detail::transfer_t AFrom);
    void Body() noexcept;

    ICoroutineHost& FHost;
    std::function<void()> FWork;
    std::function<void(bool)> FDone;
    boost::context::stack_context FStack;
    boost::context::detail::fcontext_t FSelf = nullptr;   // the coroutine, while suspended or not begun
    boost::context::detail::fcontext_t FCaller = nullptr; // who resumed it, while it runs
    uint64_t FToken = 0;
    uint32_t FFlags = 0; // TLocalFlag
    void* FPointers[TLocalPointer::KSlots] = {};
    bool FEnded = false;
    // Sanitizers are told of every switch of stacks (unused in a build without them).
    [[maybe_unused]] const void* FCallerBottom = nullptr;
    [[maybe_unused]] size_t FCallerSize = 0;
    [[maybe_unused]] void* FFakeStack = nullptr;
    [[maybe_unused]] void* FTsanFiber = nullptr;
    [[maybe_unused]] void* FTsanCaller = nullptr;
};

// The stacks coroutines run on: fixed size (limits::KCoroutineStackBytes) with a guard page below,
// kept for reuse up to a bound.
class TStackPool {
public:
    static TStackPool& Instance();
    boost::context::stack_context Take();
    void Give(boost::context::stack_context AStack) noexcept;
    // The deepest any stack in the pool was used so far, in bytes (tests: does the deepest route fit).
    size_t DeepestUse();
    size_t StackSize() const;

private:
    std::mutex FLock;
    std::vector<boost::context::stack_context> FFree;
};

// Waits until AHandle can be read (ARead) or written, for ATimeoutMs at most (negative: without
// limit). Returns as poll() does: 1 ready, 0 timed out (errno ETIMEDOUT), -1 failed (errno).
// On a coroutine it suspends meanwhile, so the loop goes on; elsewhere it polls.
int AwaitHandle(int AHandle, bool ARead, int ATimeoutMs);

// Waits ADelay: on a coroutine it suspends meanwhile, so the loop goes on; elsewhere it sleeps.
void AwaitFor(std::chrono::steady_clock::duration ADelay);

// Waiting for a state that another thread changes under ALock (a session pool's free one, say):
// a coroutine suspends (the lock released meanwhile), any other thread blocks on a
// condition_variable. Wait returns after a Notify, at AUntil, or spuriously: check the state again.
class TAwaitQueue {
public:
    using TClock = std::chrono::steady_clock;
    void WaitUntil(std::unique_lock<std::mutex>& ALock, TClock::time_point AUntil);
    void Wait(std::unique_lock<std::mutex>& ALock) { WaitUntil(ALock, TClock::time_point::max()); }
    // Wakes every waiter (with or without the lock held).
    void NotifyAll();

private:
    struct TWaiter;
    std::condition_variable FBlocked;
    std::mutex FWaitersLock; // after the caller's lock
    std::list<std::shared_ptr<TWaiter>> FWaiters;
};

} // namespace platform
