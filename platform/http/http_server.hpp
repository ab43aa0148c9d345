#pragma once
// The HTTP server behind the web-request layer: listens on its bindings and serves every
// connection from a few I/O threads (Asio event loops; Beast parses and serializes). Requests
// run through the web request handler on those threads; one that blocks keeps its thread while
// its loop goes on on another (TLoopWatchdog). Limits: platform/http/http_limits.hpp.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/http/http_app_request.hpp"
#include "platform/http/http_limits.hpp"
#include "platform/http/http_server_settings.hpp"

namespace platform {

namespace http {
class TListener;
} // namespace http

// One listening address. Port 0 lets the system choose; BoundPort tells which it chose.
struct TSocketHandle {
    std::string IP;
    int Port = 0;
    int BoundPort() const { return FBoundPort; }

private:
    friend class http::TListener; // sets the port once it has bound
    int FBoundPort = 0;
};

class TSocketHandles {
public:
    void Clear() { FItems.clear(); }
    TSocketHandle& Add() { return FItems.emplace_back(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TSocketHandle& operator[](int AIndex) { return FItems.at(static_cast<size_t>(AIndex)); }
    const TSocketHandle& operator[](int AIndex) const { return FItems.at(static_cast<size_t>(AIndex)); }
    auto begin() { return FItems.begin(); }
    auto end() { return FItems.end(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::deque<TSocketHandle> FItems; // Add keeps earlier references valid
};

class THTTPWebBrokerBridge {
public:
    THTTPWebBrokerBridge();
    ~THTTPWebBrokerBridge(); // stops the server when it is active
    THTTPWebBrokerBridge(const THTTPWebBrokerBridge&) = delete;
    THTTPWebBrokerBridge& operator=(const THTTPWebBrokerBridge&) = delete;

    TSocketHandles& Bindings() { return FBindings; }
    int DefaultPort() const { return FDefaultPort; }
    void SetDefaultPort(int APort) { FDefaultPort = APort; }
    int ListenQueue() const { return FListenQueue; }
    void SetListenQueue(int AValue) { FListenQueue = AValue; }
    bool KeepAlive() const { return FSettings.KeepAlive; }
    void SetKeepAlive(bool AValue) { FSettings.KeepAlive = AValue; }
    // Open connections allowed; 0: the server's own cap (limits::KMaxOpenConnections, and below
    // the process's descriptor limit).
    int MaxConnections() const { return FMaxConnections; }
    void SetMaxConnections(int AValue) { FMaxConnections = AValue; }
    // I/O threads; 0: limits::KIOThreadsPerCore for every core.
    int IOThreads() const { return FIOThreads; }
    void SetIOThreads(int AValue) { FIOThreads = AValue; }

    // True starts the server: with no bindings it first adds its defaults (every IPv4 address
    // and, where the stack has IPv6, every IPv6 address, on DefaultPort), then listens on every
    // binding. Throws Exception when a binding cannot listen (none stays open then).
    // False ends the listeners, closes every open connection once its request in work (if any)
    // is answered, and ends the server's threads; it returns when all that is done.
    // Settings and events are read when the server starts.
    bool Active() const { return FActive; }
    void SetActive(bool AValue);
    // Starts a listener for every binding that has none yet.
    void StartListening();
    // Ends the listeners; open connections go on.
    void StopListening();

    TParseAuthenticationEvent OnParseAuthentication;
    TQuerySSLPortEvent OnQuerySSLPort;
    // A TLS I/O handler is installed: each new connection asks OnQuerySSLPort. This build
    // speaks no TLS, so a connection that is to use it is closed at once.
    bool TLSIOHandler() const { return FSettings.TLSIOHandler; }
    void SetTLSIOHandler(bool AValue) { FSettings.TLSIOHandler = AValue; }

    // Waits on silent clients (defaults: limits::KIdleTimeout, limits::KRequestTimeout).
    void SetIdleTimeout(std::chrono::milliseconds AValue) { FSettings.IdleTimeout = AValue; }
    void SetRequestTimeout(std::chrono::milliseconds AValue) { FSettings.RequestTimeout = AValue; }
    // Request bodies held in memory by all connections (default limits::KMaxBodyMemory).
    void SetBodyMemoryBudget(size_t AValue) { FSettings.BodyBudget = AValue; }
    // The least rate a reply must average once AGrace has passed (limits::KMinSendRate, 0: none).
    void SetMinSendRate(size_t ABytesPerSecond, std::chrono::milliseconds AGrace)
    {
        FSettings.MinSendRate = ABytesPerSecond;
        FSettings.SendRateGrace = AGrace;
    }
    // How long a request or a reply must have waited before it may make room at the cap.
    void SetEvictBusyAfter(std::chrono::milliseconds AValue) { FSettings.EvictBusyAfter = AValue; }
    // Bytes of request bodies the connections hold at this moment (counted against the budget).
    size_t BodyMemoryHeld() const;

    // Connections open at this moment.
    int ConnectionCount() const;
    // Of those, the ones that wait idle between requests or silent since they were accepted
    // (the ones that may be closed to make room at the cap).
    int IdleConnectionCount() const;
    // Of those, the ones whose reply waits for the client to take more (up to the write stall
    // limit, limits::KWriteStallTimeout).
    int WritingConnectionCount() const;
    // The open-connection cap of the running server (see MaxConnections).
    int ConnectionCap() const;

    // Serves one already connected stream socket (one end of a socketpair, say) on the calling
    // thread through the same per-connection code as an accepted one (the request's chain runs
    // on the calling thread too), and closes it. Takes AFd over. The server need not be active.
    // For fuzzing and tests of the per-connection code.
    void ServeConnectedSocket(int AFd);

    struct TImpl;

private:
    void ApplySettings();
    void CloseConnections();

    TSocketHandles FBindings;
    int FDefaultPort = 80;
    int FListenQueue = 15;
    int FMaxConnections = 0;
    int FIOThreads = 0;
    bool FActive = false;
    // Handed to the connections, as one, when the server starts.
    http::TServerSettings FSettings;
    std::unique_ptr<TImpl> FImpl;
};

// Whether the network stack can make IPv6 sockets.
bool IPv6Available();

} // namespace platform
