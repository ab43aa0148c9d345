#pragma once
// A gate that holds test handlers until the test opens it, bounded so a failing test cannot hang.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testing_support {

class TGate {
public:
    TGate() = default;
    // ABound: how long Wait holds at most; longer for a test whose gated requests stay in
    // work while thousands of others are answered (slow under the sanitizers).
    explicit TGate(std::chrono::seconds ABound) : FBound(ABound) {}

    void Wait()
    {
        std::unique_lock lock(FLock);
        ++FWaiting;
        FChanged.notify_all();
        FChanged.wait_for(lock, FBound, [&] { return FOpen; });
        --FWaiting;
    }
    void Open()
    {
        std::lock_guard lock(FLock);
        FOpen = true;
        FChanged.notify_all();
    }
    bool WaitForWaiting(int ACount)
    {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(20), [&] { return FWaiting >= ACount; });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    int FWaiting = 0;
    bool FOpen = false;
    std::chrono::seconds FBound{20};
};

} // namespace testing_support
