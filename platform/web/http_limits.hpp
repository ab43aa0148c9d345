#pragma once
// Limits of the HTTP server, all in one place. They keep a misbehaving or hostile client from
// pinning threads or memory; values fit a shop's LAN service (small requests, few clients).
// README.md "## Limits" lists them with what a client gets past each one.
#include <chrono>
#include <cstddef>

namespace platform::limits {

// Request line plus all header lines. Past it: 431 and the connection is closed.
inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
// Request body. Past it (declared or actually sent): 413 and the connection is closed.
inline constexpr std::size_t kMaxBodyBytes = 8 * 1024 * 1024;
// An idle keep-alive connection (or a new one that sends nothing) is closed after this.
inline constexpr std::chrono::seconds kIdleTimeout{30};
// A request must arrive whole within this time from its first byte. Past it: 408 and close.
inline constexpr std::chrono::seconds kRequestTimeout{30};
// A reply that makes no progress for this long (client stopped reading) is abandoned.
inline constexpr std::chrono::seconds kWriteStallTimeout{30};
// After an error reply (400, 408, 413, 431) the rest of the request is read and dropped for up
// to this long before the connection closes, so the client sees the reply instead of a reset.
inline constexpr std::chrono::seconds kLingerTime{2};
inline constexpr std::size_t kLingerBytes = 16 * 1024 * 1024;
// Open connections (one thread each). Past it: 503 and close at once.
inline constexpr int kMaxOpenConnections = 1024;

} // namespace platform::limits
