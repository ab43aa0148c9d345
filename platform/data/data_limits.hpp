#pragma once
// Limits of the data layer and of the service's session pool, all in one place, each with why it
// is what it is. README.md "## Limits" lists them with what a client gets past each one.
#include <chrono>
#include <cstddef>

namespace platform::data_limits {

// Opening a connection. A server on the same machine or the shop's LAN answers in milliseconds;
// one that takes longer is down or unreachable, and the request should fail rather than wait.
inline constexpr std::chrono::seconds KConnectTimeout{10};
// Sending a statement: the server takes it as fast as the network carries it, so a minute
// without progress means the link is gone.
inline constexpr std::chrono::seconds KWriteTimeout{60};
// A statement that returns rows gives up after this long without an answer (the connection's
// "ReadTimeout" parameter changes it), and is not run again: its time is used up. The link is
// closed; the server's end of it is ended when the connection is next opened. A statement that
// changes data has no such limit: the server goes on and stores the row whether or not the
// client still waits, so giving up would report a stored row failed.
inline constexpr std::chrono::seconds KReadTimeout{60};

// Sessions of the pool, each one connection: as many as the web layer lets requests run at once
// (32), since fewer would make requests queue for a session while the server idles.
inline constexpr std::size_t KMaxSessions = 32;
// After the server refused a connection (its max_connections, shared with the shop's other
// programs, or a limit on the login), the pool holds at the connections it accepted this long
// before it tries one more.
inline constexpr std::chrono::seconds KRetryGrowth{10};
// A session idle this long closes its connection, down to none, so that a program at rest holds
// none of the connections the shop's other programs share (a server's max_connections). A
// minute outlasts the pauses of a shop's usual traffic, so busy times keep their links; the next
// request after a quiet spell connects again, a few milliseconds on the shop's machine or LAN.
inline constexpr std::chrono::seconds KSessionIdleClose{60};

} // namespace platform::data_limits
