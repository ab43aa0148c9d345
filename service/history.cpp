#include "service/history.hpp"

#include <ctime>

namespace service {

std::mutex THistory::FLock;
IHistorySink* THistory::FSink = nullptr;
std::vector<THistoryOp> THistory::FPending;
int32_t THistory::FCount = 0;

namespace {

// Caller holds FLock.
void Enqueue(std::vector<THistoryOp>& APending, IHistorySink* ASink, THistoryOp AOp)
{
    const bool wasEmpty = APending.empty();
    APending.push_back(std::move(AOp));
    if (wasEmpty && ASink)
        ASink->HistoryPending();
}

std::string FormatNow(const char* AFormat)
{
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char buffer[256];
    size_t n = std::strftime(buffer, sizeof buffer, AFormat, &parts);
    return std::string(buffer, n);
}

} // namespace

int32_t THistory::Count()
{
    std::lock_guard lock(FLock);
    return FCount;
}

bool THistory::Trim()
{
    std::lock_guard lock(FLock);
    if (FCount <= MaxLines)
        return false;
    FCount = 0;
    Enqueue(FPending, FSink, THistoryOp{true, {}});
    return true;
}

void THistory::Add(std::string ALine)
{
    std::lock_guard lock(FLock);
    ++FCount;
    Enqueue(FPending, FSink, THistoryOp{false, std::move(ALine)});
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
        FCount = count;
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
    FCount = count;
}

void THistory::Reset()
{
    std::lock_guard lock(FLock);
    FSink = nullptr;
    FPending.clear();
    FCount = 0;
}

std::string HistoryDate()
{
    return FormatNow("%x");
}

std::string HistoryTime()
{
    return FormatNow("%X");
}

std::string AddressedHistoryLine(const std::string& AAddress, int32_t AValue, const std::string& ARouteText)
{
    std::string date = HistoryDate();
    std::string time = HistoryTime();
    std::string line = AAddress;
    line += " | ";
    line += std::to_string(AValue);
    line += '|';
    line += date;
    line += '|';
    line += time;
    line += ARouteText;
    return line;
}

std::string BareHistoryLine(int32_t AValue, const std::string& ARouteText)
{
    std::string date = HistoryDate();
    std::string time = HistoryTime();
    std::string line = std::to_string(AValue);
    line += '|';
    line += date;
    line += '|';
    line += time;
    line += ARouteText;
    return line;
}

} // namespace service
