#pragma once
// Limits of the data layer and of the service's session pool, all in one place, each with why it
// is what it is. README.md "## Limits" lists them with what a client gets past each one.
#include <chrono>
#include <cstddef>

namespace platform::data_limits {

// A request waiting in the pool for a session gives up after this long when none comes free
// (every session held by a request the database keeps waiting): as long as a connect may take,
// so a busy database fails a request no later than a database that is down.
inline constexpr std::chrono::seconds KPoolWait{10};
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
