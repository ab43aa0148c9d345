#include "platform/http/http_connection_registry.hpp"

#include <iterator>
#include <utility>

#include "platform/http/http_connection.hpp"
#include "platform/http/http_limits.hpp"

namespace platform::http {

void TConnectionRegistry::Attach(boost::asio::io_context& AContext)
{
    FCheck.emplace(AContext);
}

void TConnectionRegistry::Detach()
{
    std::list<std::shared_ptr<TConnection>> held; // released after the lock
    {
        std::lock_guard lock(FLock);
        held.swap(FConnections);
    }
    held.clear();
    FCheck.reset();
    FCheckScheduled = false;
}

void TConnectionRegistry::Add(const std::shared_ptr<TConnection>& AConnection)
{
    {
        std::lock_guard lock(FLock);
        FConnections.push_front(AConnection);
        AConnection->SetLoopEntry(FConnections.begin());
    }
    if (!FCheckScheduled && FCheck)
        ScheduleCheck();
}

void TConnectionRegistry::Remove(TConnection& AConnection)
{
    std::shared_ptr<TConnection> last; // released after the lock
    std::lock_guard lock(FLock);
    if (auto entry = AConnection.TakeLoopEntry()) {
        last = std::move(**entry);
        FConnections.erase(*entry);
    }
    if (FConnections.empty() && FCheckScheduled)
        FCheck->cancel(); // nothing to check: the loop may run out of work
}

std::vector<std::shared_ptr<TConnection>> TConnectionRegistry::Connections()
{
    std::lock_guard lock(FLock);
    return {FConnections.begin(), FConnections.end()};
}

void TConnectionRegistry::SetIdle(TIdleEntry& AEntry, TClock::rep ASince)
{
    std::lock_guard lock(FIdleLock);
    if (AEntry.is_linked())
        FIdle.erase(FIdle.iterator_to(AEntry));
    AEntry.Since = ASince;
    // Nearly always the newest; a connection accepted a moment before it began to wait may
    // come after one that went idle meanwhile.
    auto at = FIdle.end();
    while (at != FIdle.begin() && std::prev(at)->Since > ASince)
        --at;
    FIdle.insert(at, AEntry);
}

void TConnectionRegistry::SetBusy(TIdleEntry& AEntry)
{
    std::lock_guard lock(FIdleLock);
    if (AEntry.is_linked())
        FIdle.erase(FIdle.iterator_to(AEntry));
}

size_t TConnectionRegistry::IdleCount()
{
    std::lock_guard lock(FIdleLock);
    return FIdle.size();
}

TConnectionRegistry::TClock::rep TConnectionRegistry::LongestIdleSince()
{
    std::lock_guard lock(FIdleLock);
    // Chosen ones leave the list; one that went idle again before its closing saw it was busy
    // meanwhile stays chosen until then.
    for (const TIdleEntry& e : FIdle)
        if (!e.Owner.EvictionClaimed())
            return e.Since;
    return 0;
}

std::shared_ptr<TConnection> TConnectionRegistry::ChooseLongestIdle(TClock::rep& ASince)
{
    std::lock_guard lock(FIdleLock);
    for (TIdleEntry& e : FIdle) {
        std::shared_ptr<TConnection> connection = e.Owner.weak_from_this().lock();
        if (!connection || !connection->ClaimEviction())
            continue; // being destroyed, or chosen already
        ASince = e.Since;
        FIdle.erase(FIdle.iterator_to(e));
        return connection;
    }
    return nullptr;
}

void TConnectionRegistry::ScheduleCheck()
{
    FCheckScheduled = true;
    FCheck->expires_after(limits::KDeadlineCheckInterval);
    FCheck->async_wait([this](const boost::system::error_code& AError) {
        FCheckScheduled = false;
        if (!AError) {
            CheckDeadlines();
        } else {
            std::lock_guard lock(FLock);
            if (!FConnections.empty() && FCheck)
                ScheduleCheck(); // cancelled when the last one went, and one came since
        }
    });
}

void TConnectionRegistry::CheckDeadlines()
{
    const auto now = TClock::now();
    bool any = false;
    for (const auto& c : Connections()) {
        c->CheckDeadline(now);
        any = true;
    }
    if (any)
        ScheduleCheck();
}

} // namespace platform::http
