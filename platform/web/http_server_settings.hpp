#pragma once
// What the HTTP server's connections are served with, as set on the server before it starts.
#include <chrono>

#include "platform/web/http_limits.hpp"

namespace platform::http {

struct TServerSettings {
    bool KeepAlive = false;
    std::chrono::milliseconds IdleTimeout{limits::KIdleTimeout};
    std::chrono::milliseconds RequestTimeout{limits::KRequestTimeout};
    std::chrono::milliseconds WriteStallTimeout{limits::KWriteStallTimeout};
    bool TLSIOHandler = false; // each new connection asks the server's OnQuerySSLPort
};

} // namespace platform::http
