#include "service/history.hpp"

#include <clocale>
#include <ctime>

namespace service {

platform::TAdaptiveMutex THistory::FLock;
IHistorySink* THistory::FSink = nullptr;
std::vector<THistoryOp> THistory::FPending;
std::atomic<int32_t> THistory::FCount{0};

namespace {

// Caller holds FLock.
void Enqueue(std::vector<THistoryOp>& APending, IHistorySink* ASink, THistoryOp AOp)
{
    const bool wasEmpty = APending.empty();
    APending.push_back(std::move(AOp));
    if (wasEmpty && ASink)
        ASink->HistoryPending();
}

// Cuts the UTF-8 text ALine to AMax characters (code points, never split), the last of them "…",
// when it holds more.
void CutToLength(std::string& ALine, size_t AMax)
{
    if (ALine.size() <= AMax) // no more bytes than allowed: no more characters either
        return;
    size_t characters = 0, lastKept = 0;
    for (size_t i = 0; i < ALine.size(); ++i) {
        if ((static_cast<unsigned char>(ALine[i]) & 0xC0) == 0x80)
            continue; // inside a character
        if (characters == AMax - 1)
            lastKept = i; // where "…" goes, should there be more
        if (++characters > AMax) {
            ALine.resize(lastKept);
            ALine += "\xE2\x80\xA6"; // "…"
            return;
        }
    }
}

// The text of AFormat for the current second. Every request formats the date and the time,
// and localtime_r takes a process-wide lock, so each thread formats each text once a second.
struct TSecondText {
    std::time_t Second = -1;
    std::string Locale; // the time locale the text was made in
    std::string Text;
};

std::string FormatNow(const char* AFormat, TSecondText& ACache)
{
    std::time_t now = std::time(nullptr);
    const char* locale = std::setlocale(LC_TIME, nullptr);
    if (!locale)
        locale = "";
    if (now != ACache.Second || ACache.Locale != locale) {
        ACache.Locale = locale;
        std::tm parts{};
        localtime_r(&now, &parts);
        char buffer[256];
        size_t n = std::strftime(buffer, sizeof buffer, AFormat, &parts);
        ACache.Text.assign(buffer, n);
        ACache.Second = now;
    }
    return ACache.Text;
}

} // namespace

int32_t THistory::Count()
{
    return FCount.load(std::memory_order_acquire);
}

bool THistory::Trim()
{
    // Nearly every request finds the history below the limit: it then needs no lock, as if it
    // had come just before whatever other thread is adding a line at this moment.
    if (FCount.load(std::memory_order_acquire) <= KMaxLines)
        return false;
    std::vector<THistoryOp> dropped; // freed after the lock is let go
    std::lock_guard lock(FLock);
    if (FCount.load(std::memory_order_relaxed) <= KMaxLines)
        return false;
    FCount.store(0, std::memory_order_release);
    // Lines still queued would be emptied away at once: drop them, so that with nobody
    // draining (no window) the queue never holds more than one history's worth.
    const bool wasEmpty = FPending.empty();
    dropped.swap(FPending);
    FPending.push_back(THistoryOp{true, {}});
    if (wasEmpty && FSink)
        FSink->HistoryPending();
    return true;
}

void THistory::Add(std::string ALine)
{
    CutToLength(ALine, KMaxLineLength);
    std::vector<THistoryOp> dropped; // freed after the lock is let go
    std::lock_guard lock(FLock);
    FCount.fetch_add(1, std::memory_order_release);
    Enqueue(FPending, FSink, THistoryOp{false, std::move(ALine)});
    // With nobody draining, lines that never trim would pile up: past twice the window's bound,
    // the queued lines it would push out at once go now (a clear, if queued, is always first).
    const size_t first = FPending.front().Clear ? 1 : 0;
    const size_t lines = FPending.size() - first;
    if (lines > 2 * size_t{KMaxShownLines}) {
        const size_t drop = lines - KMaxShownLines;
        const auto from = FPending.begin() + static_cast<std::ptrdiff_t>(first);
        dropped.assign(std::make_move_iterator(from),
                       std::make_move_iterator(from + static_cast<std::ptrdiff_t>(drop)));
        FPending.erase(from, from + static_cast<std::ptrdiff_t>(drop));
        FCount.fetch_sub(static_cast<int32_t>(drop), std::memory_order_release);
    }
}

void THistory::Attach(IHistorySink* ASink, int32_t AInitialLines)
{
    std::lock_guard lock(FLock);
    FSink = ASink;
    {
        // Same rule as ShownLinesChanged, with the lock already held.
        int32_t count = AInitialLines;
        for (const auto& op : FPending)
            count = op.Clear ? 0 : count + 1;
        FCount.store(count, std::memory_order_release);
    }
    if (!FPending.empty() && FSink)
        FSink->HistoryPending();
}

void THistory::Detach(IHistorySink* ASink)
{
    std::lock_guard lock(FLock);
    if (FSink == ASink)
        FSink = nullptr;
}

std::vector<THistoryOp> THistory::TakePending()
{
    std::lock_guard lock(FLock);
    std::vector<THistoryOp> out;
    out.swap(FPending);
    return out;
}

void THistory::ShownLinesChanged(int32_t AShownLines)
{
    std::lock_guard lock(FLock);
    int32_t count = AShownLines;
    for (const auto& op : FPending)
        count = op.Clear ? 0 : count + 1;
    FCount.store(count, std::memory_order_release);
}

void THistory::Reset()
{
    std::lock_guard lock(FLock);
    FSink = nullptr;
    FPending.clear();
    FCount.store(0, std::memory_order_release);
}

std::string HistoryDate()
{
    thread_local TSecondText cache;
    return FormatNow("%x", cache);
}

std::string HistoryTime()
{
    thread_local TSecondText cache;
    return FormatNow("%X", cache);
}

namespace {

// Appends "<c>|<date>|<time><text>", the date read first.
void AppendStampedText(std::string& ALine, int32_t AValue, const std::string& ARouteText)
{
    std::string date = HistoryDate();
    std::string time = HistoryTime();
    ALine += std::to_string(AValue);
    ALine += '|';
    ALine += date;
    ALine += '|';
    ALine += time;
    ALine += ARouteText;
}

} // namespace

std::string AddressedHistoryLine(const std::string& AAddress, int32_t AValue, const std::string& ARouteText)
{
    std::string line = AAddress;
    line += " | ";
    AppendStampedText(line, AValue, ARouteText);
    return line;
}

std::string BareHistoryLine(int32_t AValue, const std::string& ARouteText)
{
    std::string line;
    AppendStampedText(line, AValue, ARouteText);
    return line;
}

} // namespace service
