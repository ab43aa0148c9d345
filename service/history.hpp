#pragma once
// The request history that route handlers write and the main window shows, and the two
// request counters.
//
// Handlers run on the server's I/O threads (a handler that blocks keeps its thread, and a new
// one takes over its loop) and never wait for the window: each operation is queued here under a
// lock, together with an authoritative line count, and the window drains the queue on its own
// thread in batches. So a request's trim test and add behave as if applied one at a time on the
// window thread, and "Stop" (which waits for the requests in work) cannot deadlock with a
// request that is adding its line.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/adaptive_mutex.hpp"

namespace service {

// Requests answered with what they asked for / answered "not found". Process-wide, start at 0,
// never reset. Increment with ++ (or fetch_add(1) + 1) and put the value that this increment
// produced into the history line.
inline std::atomic<int32_t> TotalResolvidos{0};
inline std::atomic<int32_t> Total404{0};

// Whoever shows the history (the main window). Pending() is called with the history's lock held,
// from any thread, when the queue turns non-empty: it must only schedule a drain on the display's
// thread (e.g. a queued call) and return at once.
class IHistorySink {
public:
    virtual ~IHistorySink() = default;
    virtual void HistoryPending() = 0;
};

// One queued change of the history.
struct THistoryOp {
    bool Clear = false; // empty the history completely ("MemoOK" included)
    std::string Line;   // else: add this line at the end
};

class THistory {
public:
    // The line limit: a history holding more lines than this is emptied before the next line.
    static constexpr int32_t KMaxLines = 10000;
    // The window's own bound: it shows at most this many lines, the newest; a line beyond them
    // pushes out the oldest. Only lines of routes that never trim (inserts) get that far, since a
    // route that trims finds more than KMaxLines and empties the history first.
    static constexpr int32_t KMaxShownLines = KMaxLines + 1;
    // A line longer than this many characters keeps its first KMaxLineLength - 1 and "…": one
    // request's huge value (a name of megabytes) would otherwise hold the window for minutes.
    static constexpr size_t KMaxLineLength = 1000;

    // --- for route handlers (any thread) ---
    // The number of lines, with all queued changes applied.
    static int32_t Count();
    // Empties the history when it holds more than MaxLines lines; true when it did.
    static bool Trim();
    // Adds one line at the end, cut to KMaxLineLength characters.
    static void Add(std::string ALine);

    // --- for the window (its own thread) ---
    // Makes ASink the display, with AInitialLines lines already shown ("MemoOK": 1).
    // Queued changes are kept.
    static void Attach(IHistorySink* ASink, int32_t AInitialLines);
    // No display from now on; returns once no thread can call the old sink any more.
    // Lines keep being counted and queued (nobody drains them).
    static void Detach(IHistorySink* ASink);
    // Takes the queued changes, in order.
    static std::vector<THistoryOp> TakePending();
    // The operator edited the shown text, which now has AShownLines lines: the count becomes
    // that plus whatever is still queued.
    static void ShownLinesChanged(int32_t AShownLines);

    // Back to the start state: no sink, nothing queued, count 0 (tests).
    static void Reset();

private:
    static platform::TAdaptiveMutex FLock;
    static IHistorySink* FSink;
    static std::vector<THistoryOp> FPending;
    // Written under FLock only; read without it where one reading is enough.
    static std::atomic<int32_t> FCount;
};

// Today's date in the process locale's short date format (strftime "%x").
std::string HistoryDate();
// The current time in the process locale's long time format (strftime "%X").
std::string HistoryTime();

// "<address> | <c>|<date>|<time><text>": the line of a request from AAddress whose counter is
// now AValue. The date is read first, the time from a second reading of the clock.
std::string AddressedHistoryLine(const std::string& AAddress, int32_t AValue, const std::string& ARouteText);
// "<c>|<date>|<time><text>": the same without the address.
std::string BareHistoryLine(int32_t AValue, const std::string& ARouteText);

} // namespace service
