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
// changes data waits longer (KChangeTimeout): the server goes on and stores the row whether or
// not the client still waits.
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

// A request waiting in the pool for a session gives up after this long when none comes free
// (every session held by a request the database keeps waiting): as long as a connect may take,
// so a busy database fails a request no later than a database that is down.
inline constexpr std::chrono::seconds KPoolWait = KConnectTimeout;
// A statement that changes data waits this long for its answer (the connection's
// "ChangeTimeout" parameter changes it): far above any commit a healthy server makes, so only
// a server that hangs (frozen, or its table held by another client's lock) reaches it. Past it
// the row may still be stored, and the failure says so.
inline constexpr std::chrono::seconds KChangeTimeout{300};
// An insert whose link dropped while its statement was in flight is checked on a fresh link once
// the server has ended the dropped session (its statement then committed or rolled back); the
// check waits this long for that, then reports the insert failed.
inline constexpr std::chrono::seconds KDroppedInsertCheck{10};
// When the server stops, requests still waiting on the database get this long to finish;
// then their links are shut down and they fail, so Stop, and closing the window, always return.
inline constexpr std::chrono::seconds KStopGrace{10};

} // namespace platform::data_limits
