#pragma once
// What the HTTP server's connections are served with, as set on the server before it starts.
#include <chrono>
#include <cstddef>

#include "platform/http/http_limits.hpp"

namespace platform::http {

struct TServerSettings {
    bool KeepAlive = false;
    std::chrono::milliseconds IdleTimeout{limits::KIdleTimeout};
    std::chrono::milliseconds RequestTimeout{limits::KRequestTimeout};
    std::chrono::milliseconds WriteStallTimeout{limits::KWriteStallTimeout};
    bool TLSIOHandler = false; // each new connection asks the server's OnQuerySSLPort
    // Bytes a second a reply must average once SendRateGrace has passed; 0: no such limit.
    size_t MinSendRate = limits::KMinSendRate;
    std::chrono::milliseconds SendRateGrace{limits::KSendRateGrace};
    // Request bodies held in memory by all connections together.
    size_t BodyBudget = limits::KMaxBodyMemory;
    // How long a request or a reply must have waited before it may make room at the cap.
    std::chrono::milliseconds EvictBusyAfter{limits::KEvictBusyAfter};
};

} // namespace platform::http
