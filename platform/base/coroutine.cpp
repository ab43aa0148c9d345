#include "platform/base/coroutine.hpp"

#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/context/stack_traits.hpp>
#include <boost/context/detail/fcontext.hpp>

#include "platform/http/http_limits.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

namespace asio = boost::asio;
namespace bctx = boost::context;

namespace {

thread_local TCoroutine* GCurrent = nullptr;
thread_local uint32_t GThreadFlags = 0;
constinit std::atomic<uint32_t> GFlagsTaken{0};
thread_local void* GThreadPointers[TLocalPointer::KSlots] = {};
constinit std::atomic<size_t> GPointersTaken{0};

// Stacks kept for reuse beyond the ones in use.
constexpr size_t KKeptStacks = 64;

size_t PageSize()
{
    static const size_t KSize = bctx::stack_traits::page_size();
    return KSize;
}

// Stacks of coroutines dropped while suspended (their loop went away with them): never resumed,
// never reused.
std::mutex GAbandonedLock;
std::vector<bctx::stack_context>* GAbandoned = nullptr;

} // namespace

// ---- TStackPool ------------------------------------------------------------------------------

TStackPool& TStackPool::Instance()
{
    static TStackPool* pool = new TStackPool; // outlives every coroutine, whatever ends first
    return *pool;
}

size_t TStackPool::StackSize() const
{
    const size_t page = PageSize();
    return (limits::KCoroutineStackBytes + page - 1) / page * page + page; // and the guard page
}

bctx::stack_context TStackPool::Take()
{
    {
        std::lock_guard lock(FLock);
        if (!FFree.empty()) {
            bctx::stack_context stack = FFree.back();
            FFree.pop_back();
            return stack;
        }
    }
    const size_t size = StackSize();
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED)
        throw std::bad_alloc();
    // Below the stack: a page that faults, so a stack that overflows ends the program at once.
    if (::mprotect(base, PageSize(), PROT_NONE) != 0) {
        ::munmap(base, size);
        throw std::bad_alloc();
    }
    bctx::stack_context stack;
    stack.size = size;
    stack.sp = static_cast<char*>(base) + size;
    return stack;
}

void TStackPool::Give(bctx::stack_context AStack) noexcept
{
    {
        std::lock_guard lock(FLock);
        if (FFree.size() < KKeptStacks) {
            try {
                FFree.push_back(AStack);
                return;
            } catch (...) {
            }
        }
    }
    ::munmap(static_cast<char*>(AStack.sp) - AStack.size, AStack.size);
}

#if defined(__SANITIZE_ADDRESS__)
__attribute__((no_sanitize_address))
#endif
size_t
TStackPool::DeepestUse()
{
    std::lock_guard lock(FLock);
    size_t deepest = 0;
    for (const bctx::stack_context& s : FFree) {
        // A fresh stack is all zero; what a coroutine wrote stays until the stack is unmapped.
        const auto* low = static_cast<const unsigned char*>(s.sp) - s.size + PageSize();
        const auto* high = static_cast<const unsigned char*>(s.sp);
        const auto* p = low;
        while (p < high && *p == 0)
            ++p;
        deepest = std::max(deepest, static_cast<size_t>(high - p));
    }
    return deepest;
}

// ---- TLocalFlag ------------------------------------------------------------------------------

TLocalFlag::TLocalFlag() noexcept : FBit(uint32_t(1) << (GFlagsTaken.fetch_add(1) % 32)) {}

bool TLocalFlag::Get() const noexcept
{
    const TCoroutine* co = GCurrent;
    return ((co ? co->FFlags : GThreadFlags) & FBit) != 0;
}

void TLocalFlag::Set(bool AValue) noexcept
{
    TCoroutine* co = GCurrent;
    uint32_t& flags = co ? co->FFlags : GThreadFlags;
    flags = AValue ? flags | FBit : flags & ~FBit;
}

// ---- TLocalPointer ---------------------------------------------------------------------------

TLocalPointer::TLocalPointer() noexcept : FSlot(GPointersTaken.fetch_add(1) % KSlots) {}

void* TLocalPointer::Get() const noexcept
{
    const TCoroutine* co = GCurrent;
    return co ? co->FPointers[FSlot] : GThreadPointers[FSlot];
}

void TLocalPointer::Set(void* AValue) noexcept
{
    TCoroutine* co = GCurrent;
    (co ? co->FPointers[FSlot] : GThreadPointers[FSlot]) = AValue;
}

// ---- TCoroutine ------------------------------------------------------------------------------

TCoroutine::TCoroutine(ICoroutineHost& AHost, std::function<void()> AWork, std::function<void(bool)> ADone)
    : FHost(AHost), FWork(std::move(AWork)), FDone(std::move(ADone))
{
}

TCoroutine::~TCoroutine()
{
    if (FStack.sp) {
        if (FEnded || !FSelf) {
            TStackPool::Instance().Give(FStack);
        } else {
            std::lock_guard lock(GAbandonedLock);
            if (!GAbandoned)
                GAbandoned = new std::vector<bctx::stack_context>;
            GAbandoned->push_back(FStack);
        }
    }
#if defined(__SANITIZE_THREAD__)
    if (FTsanFiber)
        __tsan_destroy_fiber(FTsanFiber);
#endif
}

TCoroutine* TCoroutine::Current() noexcept
{
    return GCurrent;
}

void TCoroutine::Start(ICoroutineHost& AHost, std::function<void()> AWork, std::function<void(bool)> ADone)
{
    auto co = std::make_shared<TCoroutine>(AHost, std::move(AWork), std::move(ADone));
    try {
        co->FStack = TStackPool::Instance().Take();
    } catch (const std::bad_alloc&) {
        // No stack to be had: the work runs on the caller's, and blocks where it waits.
        const uint64_t token = AHost.BeginRun();
        co->FWork();
        const bool owns = AHost.EndRun(token);
        co->FDone(owns);
        return;
    }
    // The guard page is below the usable part.
    co->FSelf = bctx::detail::make_fcontext(co->FStack.sp, co->FStack.size - PageSize(), &TCoroutine::Entry);
#if defined(__SANITIZE_THREAD__)
    co->FTsanFiber = __tsan_create_fiber(0);
#endif
    co->Resume();
}

// The first code on the coroutine's stack: nothing in it may use the sanitizer's stack before it
// is told of the switch.
#if defined(__SANITIZE_ADDRESS__)
__attribute__((no_sanitize_address))
#endif
void TCoroutine::Entry(bctx::detail::transfer_t AFrom)
{
    auto* self = static_cast<TCoroutine*>(AFrom.data);
    self->FCaller = AFrom.fctx;
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(nullptr, &self->FCallerBottom, &self->FCallerSize);
#endif
    self->Body();
    self->FEnded = true;
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_start_switch_fiber(nullptr, self->FCallerBottom, self->FCallerSize);
#endif
#if defined(__SANITIZE_THREAD__)
    __tsan_switch_to_fiber(self->FTsanCaller, 0);
#endif
    bctx::detail::jump_fcontext(self->FCaller, nullptr);
    __builtin_unreachable(); // the stack is given back once it has left it
}

void TCoroutine::Body() noexcept
{
    FWork();
}

bool TCoroutine::TryPause()
{
    return FHost.PauseRun(FToken);
}

void TCoroutine::Suspend()
{
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_start_switch_fiber(&FFakeStack, FCallerBottom, FCallerSize);
#endif
#if defined(__SANITIZE_THREAD__)
    __tsan_switch_to_fiber(FTsanCaller, 0);
#endif
    const bctx::detail::transfer_t from = bctx::detail::jump_fcontext(FCaller, this);
    FCaller = from.fctx;
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(FFakeStack, &FCallerBottom, &FCallerSize);
#endif
}

void TCoroutine::Resume()
{
    auto self = shared_from_this();
    FToken = FHost.BeginRun();
    TCoroutine* const previous = std::exchange(GCurrent, this);
#if defined(__SANITIZE_ADDRESS__)
    void* fake = nullptr;
    __sanitizer_start_switch_fiber(&fake, static_cast<char*>(FStack.sp) - FStack.size, FStack.size);
#endif
#if defined(__SANITIZE_THREAD__)
    FTsanCaller = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(FTsanFiber, 0);
#endif
    const bctx::detail::transfer_t from = bctx::detail::jump_fcontext(FSelf, this);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#endif
    GCurrent = previous;
    if (!FEnded) {
        FSelf = from.fctx; // suspended: whatever it waits for resumes it
        return;
    }
    FSelf = nullptr;
    TStackPool::Instance().Give(std::exchange(FStack, {}));
    const bool owns = FHost.EndRun(FToken);
    auto done = std::move(FDone);
    FWork = nullptr;
    done(owns);
}

// ---- waits -----------------------------------------------------------------------------------

namespace {

int PollHandle(int AHandle, bool ARead, int ATimeoutMs)
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point until = TClock::now() + std::chrono::milliseconds(std::max(ATimeoutMs, 0));
    pollfd wait{AHandle, static_cast<short>(ARead ? POLLIN : POLLOUT), 0};
    for (;;) {
        int left = -1;
        if (ATimeoutMs >= 0)
            left = static_cast<int>(
                std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(until - TClock::now()).count()));
        const int rc = ::poll(&wait, 1, left);
        if (rc == 0)
            errno = ETIMEDOUT;
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

// One suspended wait for a handle: the first of readiness and timeout resumes the coroutine.
struct THandleWait {
    THandleWait(asio::io_context& AContext, int AHandle) : Descriptor(AContext, AHandle), Timer(AContext) {}
    ~THandleWait()
    {
        if (Descriptor.is_open())
            Descriptor.release(); // the handle is not ours to close
    }
    void Finish(int AResult, int AError)
    {
        if (Done)
            return;
        Done = true;
        Result = AResult;
        Error = AError;
        Coroutine->Resume();
    }
    asio::posix::stream_descriptor Descriptor;
    asio::steady_timer Timer;
    std::shared_ptr<TCoroutine> Coroutine;
    bool Done = false;
    int Result = -1;
    int Error = 0;
};

} // namespace

int AwaitHandle(int AHandle, bool ARead, int ATimeoutMs)
{
    TCoroutine* co = TCoroutine::Current();
    if (!co)
        return PollHandle(AHandle, ARead, ATimeoutMs);
    std::shared_ptr<THandleWait> wait;
    try {
        wait = std::make_shared<THandleWait>(co->Host().Context(), AHandle);
    } catch (...) {
        return PollHandle(AHandle, ARead, ATimeoutMs); // the loop cannot watch it
    }
    if (!co->TryPause())
        return PollHandle(AHandle, ARead, ATimeoutMs);
    wait->Coroutine = co->shared_from_this();
    wait->Descriptor.async_wait(
        ARead ? asio::posix::descriptor_base::wait_read : asio::posix::descriptor_base::wait_write,
        [wait](const boost::system::error_code& AError) {
            if (AError == asio::error::operation_aborted && wait->Done)
                return;
            wait->Finish(AError ? -1 : 1, AError.value());
        });
    if (ATimeoutMs >= 0) {
        wait->Timer.expires_after(std::chrono::milliseconds(ATimeoutMs));
        wait->Timer.async_wait([wait](const boost::system::error_code& AError) {
            if (!AError)
                wait->Finish(0, ETIMEDOUT);
        });
    }
    co->Suspend();
    wait->Descriptor.release();
    wait->Timer.cancel();
    wait->Coroutine.reset();
    if (wait->Result <= 0)
        errno = wait->Error;
    return wait->Result;
}

void AwaitFor(std::chrono::steady_clock::duration ADelay)
{
    TCoroutine* co = TCoroutine::Current();
    if (!co || !co->TryPause()) {
        std::this_thread::sleep_for(ADelay);
        return;
    }
    // Resumed by the loop this coroutine runs on, so not before it has suspended.
    asio::steady_timer timer(co->Host().Context(), ADelay);
    timer.async_wait([co = co->shared_from_this()](const boost::system::error_code&) { co->Resume(); });
    co->Suspend();
}

struct TAwaitQueue::TWaiter {
    std::shared_ptr<TCoroutine> Coroutine;
    std::atomic<bool> Woken{false};
    // Resumes the coroutine once, whoever wakes it first.
    void Wake()
    {
        if (Woken.exchange(true))
            return;
        asio::post(Coroutine->Host().Context(), [co = Coroutine] { co->Resume(); });
    }
};

void TAwaitQueue::WaitUntil(std::unique_lock<std::mutex>& ALock, TClock::time_point AUntil)
{
    TCoroutine* co = TCoroutine::Current();
    if (!co || !co->TryPause()) {
        if (AUntil == TClock::time_point::max())
            FBlocked.wait(ALock);
        else
            FBlocked.wait_until(ALock, AUntil);
        return;
    }
    auto waiter = std::make_shared<TWaiter>();
    waiter->Coroutine = co->shared_from_this();
    std::optional<asio::steady_timer> timer;
    {
        std::lock_guard lock(FWaitersLock);
        FWaiters.push_back(waiter);
    }
    if (AUntil != TClock::time_point::max()) {
        timer.emplace(co->Host().Context(), AUntil);
        timer->async_wait([waiter](const boost::system::error_code& AError) {
            if (!AError)
                waiter->Wake();
        });
    }
    // Not held while suspended: other coroutines of this thread take it meanwhile.
    ALock.unlock();
    co->Suspend();
    if (timer)
        timer->cancel();
    {
        std::lock_guard lock(FWaitersLock);
        FWaiters.remove(waiter); // woken by the timer: still listed
    }
    waiter->Coroutine.reset();
    ALock.lock();
}

void TAwaitQueue::NotifyAll()
{
    std::list<std::shared_ptr<TWaiter>> woken;
    {
        std::lock_guard lock(FWaitersLock);
        woken.swap(FWaiters);
    }
    for (auto& w : woken)
        w->Wake();
    FBlocked.notify_all();
}

} // namespace platform
