#pragma once
// Limits of the HTTP server, all in one place. They keep a misbehaving or hostile client from
// pinning threads, descriptors or memory. README.md "## Limits" lists them with what a client
// gets past each one.
#include <chrono>
#include <cstddef>

namespace platform::limits {

// Request line plus all header lines. Past it: 431 and the connection is closed.
inline constexpr std::size_t KMaxHeaderBytes = 16 * 1024;
// Request body. Past it (declared or actually sent): 413 and the connection is closed.
inline constexpr std::size_t KMaxBodyBytes = 8 * 1024 * 1024;
// An idle keep-alive connection (or a new one that sends nothing) is closed after this.
inline constexpr std::chrono::seconds KIdleTimeout{30};
// A request must arrive whole within this time from its first byte. Past it: 408 and close.
inline constexpr std::chrono::seconds KRequestTimeout{30};
// A reply that makes no progress for this long (client stopped reading) is abandoned.
inline constexpr std::chrono::seconds KWriteStallTimeout{30};
// A reply must also go out at KMinSendRate bytes a second on average, counted from the time it
// began waiting on its client, once KSendRateGrace has passed; else the connection is closed, so
// a client that takes a trickle cannot hold its place for ever.
inline constexpr std::size_t KMinSendRate = 1024;
inline constexpr std::chrono::seconds KSendRateGrace{30};
// Whenever the server closes a connection after a reply (an error reply, "Connection: close",
// HTTP/1.0 without keep-alive) it first ends its sending side, then reads and drops what the
// client still sends for up to this long or this many bytes, so the client sees the whole reply
// instead of a reset.
inline constexpr std::chrono::seconds KLingerTime{2};
inline constexpr std::size_t KLingerBytes = 16 * 1024 * 1024;

// Request bodies held in memory by all connections together. Past it: 503 with Retry-After
// (KBusyRetryAfter) and the connection is closed. 256 MiB is what 32 requests in work (the web
// modules) with the largest body each hold, and leaves most of a shop machine's few GB free;
// without it, the connections at the cap could each hold KMaxBodyBytes.
inline constexpr std::size_t KMaxBodyMemory = 256 * 1024 * 1024;
inline constexpr std::chrono::seconds KBusyRetryAfter{5};

// Open connections at once. An idle client costs a socket and about a kilobyte, no thread and
// no buffer. At the cap the connection idle longest (between requests, or silent since it was
// accepted) is closed to make room; only when none is idle does a newcomer get 503 and is
// closed at once. The cap also stays KReservedDescriptors (a quarter of it, when the limit is
// lower than four times that) below the process's limit of open descriptors, raised to its
// hard limit at start-up; the files of replies still being sent count against the cap too.
// One lingering after its last reply goes before any idle one. When none is idle, the one that
// makes least use of its place goes instead: the one whose unfinished request began longest
// ago, else the one whose reply has waited on its client longest (either at least
// KEvictBusyAfter).
inline constexpr int KMaxOpenConnections = 50000;
inline constexpr int KReservedDescriptors = 1024;
inline constexpr std::chrono::seconds KEvictBusyAfter{1};
// Accepting: after running out of descriptors it tries again this much later (the listen queue
// holds the others); after one accept it takes up to KAcceptBatch more waiting in the queue.
inline constexpr std::chrono::milliseconds KAcceptRetry{20};
inline constexpr int KAcceptBatch = 256;

// I/O threads per core: they accept, read, parse and write for every connection, and run the
// requests' route code, each request on a coroutine of its own (KCoroutineStackBytes of stack,
// a guard page below). A database wait suspends the coroutine, and the thread goes on with its
// other connections meanwhile. Route code that blocks otherwise (a slow disk, say) for longer
// than KChainHandOffAfter keeps its thread, and its I/O thread's connections go to another
// (one of at most KSpareLoopThreads kept for that, each ended once unused for
// KSpareThreadLinger), so a request that blocks never holds up another. Route code that runs
// (or a thread a busy machine preempted) keeps the loop up to KRunningChainHandOffAfter. A
// watchdog looks every KWatchdogTick while requests come, and sleeps once none came for
// KWatchdogRest.
inline constexpr int KIOThreadsPerCore = 1;
inline constexpr std::chrono::microseconds KChainHandOffAfter{2000};
inline constexpr std::chrono::milliseconds KRunningChainHandOffAfter{20};
inline constexpr std::size_t KCoroutineStackBytes = 512 * 1024;
inline constexpr int KSpareLoopThreads = 4;
inline constexpr std::chrono::seconds KSpareThreadLinger{10};
inline constexpr std::chrono::microseconds KWatchdogTick{1000};
inline constexpr std::chrono::seconds KWatchdogRest{1};

// What one read asks of the socket while a request's head comes in (it stays buffered until
// complete); a body is read in larger pieces (the parser takes them over at once).
inline constexpr std::size_t KReadSize = 4 * 1024;
inline constexpr std::size_t KBodyReadSize = 64 * 1024;

// Deadlines above are checked this often, so they hold to within this much.
inline constexpr std::chrono::milliseconds KDeadlineCheckInterval{100};
// A connection idle this long gives its read buffer back.
inline constexpr std::chrono::seconds KIdleBufferRelease{1};

} // namespace platform::limits
