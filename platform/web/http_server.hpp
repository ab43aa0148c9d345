#pragma once
// The HTTP server behind the web-request layer: listens on its bindings, runs one thread per
// connection, parses requests (Boost.Beast), hands each one to the web request handler and
// writes the reply. Limits: platform/web/http_limits.hpp.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/web/http_limits.hpp"
#include "platform/web/web_request.hpp"
#include "platform/web/web_response.hpp"

namespace platform {

// One listening address. Port 0 lets the system choose; BoundPort tells which it chose.
struct TSocketHandle {
    std::string IP;
    int Port = 0;
    int BoundPort() const { return FBoundPort; }

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

private:
    std::deque<TSocketHandle> FItems; // Add keeps earlier references valid
};

// (scheme, credentials text, user name, password, handled)
using TParseAuthenticationEvent = std::function<void(const std::string& AAuthType, const std::string& AAuthData,
                                                     std::string& VUsername, std::string& VPassword, bool& VHandled)>;
// (port, use TLS)
using TQuerySSLPortEvent = std::function<void(uint16_t APort, bool& VUseSSL)>;

class TConnectionIO;

// The request as the server parsed it. Header lines are kept as received, so readers get them
// without a second parse.
class THTTPAppRequest : public TWebRequest {
public:
    const TStrings* RawHeaders() const override { return &FRawHeaders; }

    // Basic credentials, decoded only when no authentication handler took the header.
    const std::string& AuthUserName() const { return FAuthUserName; }
    const std::string& AuthPassword() const { return FAuthPassword; }

    void AddRawHeader(std::string ALine) { FRawHeaders.push_back(std::move(ALine)); }
    void SetAuth(std::string AUser, std::string APassword)
    {
        FAuthUserName = std::move(AUser);
        FAuthPassword = std::move(APassword);
    }

private:
    TStrings FRawHeaders;
    std::string FAuthUserName;
    std::string FAuthPassword;
};

// The reply, written to the connection by SendResponse.
class THTTPAppResponse : public TWebResponse {
public:
    explicit THTTPAppResponse(TConnectionIO& AIO) : FIO(AIO) {}

protected:
    void DoSendResponse() override;

private:
    TConnectionIO& FIO;
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
    bool KeepAlive() const { return FKeepAlive; }
    void SetKeepAlive(bool AValue) { FKeepAlive = AValue; }
    // Open connections allowed; 0: only the server's own cap (limits::kMaxOpenConnections).
    int MaxConnections() const { return FMaxConnections; }
    void SetMaxConnections(int AValue) { FMaxConnections = AValue; }

    // True starts the server: with no bindings it first adds its defaults (every IPv4 address
    // and, where the stack has IPv6, every IPv6 address, on DefaultPort), then listens on every
    // binding. Throws Exception when a binding cannot listen (none stays open then).
    // False ends the listeners, closes the open connections and waits for their threads.
    bool Active() const { return FActive; }
    void SetActive(bool AValue);
    // Starts a listener for every binding that has none yet.
    void StartListening();
    // Ends the listeners and waits for their threads; open connections go on.
    void StopListening();

    TParseAuthenticationEvent OnParseAuthentication;
    TQuerySSLPortEvent OnQuerySSLPort;
    // A TLS I/O handler is installed: each new connection asks OnQuerySSLPort. This build
    // speaks no TLS, so a connection that is to use it is closed at once.
    bool TLSIOHandler() const { return FTLSIOHandler; }
    void SetTLSIOHandler(bool AValue) { FTLSIOHandler = AValue; }

    // Waits on silent clients (defaults: limits::kIdleTimeout, limits::kRequestTimeout).
    void SetIdleTimeout(std::chrono::milliseconds AValue) { FIdleTimeout = AValue; }
    void SetRequestTimeout(std::chrono::milliseconds AValue) { FRequestTimeout = AValue; }

    // Connections open at this moment.
    int ConnectionCount() const { return FOpenConnections.load(); }

    // Serves one already connected stream socket (one end of a socketpair, say) on the calling
    // thread, exactly as a connection thread serves an accepted one, and closes it. Takes AFd
    // over. The server need not be active. For fuzzing and tests of the per-connection code.
    void ServeConnectedSocket(int AFd);

    struct TImpl;

private:
    void OpenListeners(bool ASkipUnavailableIPv6);
    void StartAcceptThread();
    void StopAcceptThread();
    void AcceptLoop();
    void Accepted(void* ASocket);
    void ServeConnection(void* AConnection);
    void ReapFinished();
    void CloseConnections();

    TSocketHandles FBindings;
    int FDefaultPort = 80;
    int FListenQueue = 15;
    bool FKeepAlive = false;
    int FMaxConnections = 0;
    bool FActive = false;
    bool FTLSIOHandler = false;
    std::chrono::milliseconds FIdleTimeout{limits::kIdleTimeout};
    std::chrono::milliseconds FRequestTimeout{limits::kRequestTimeout};
    std::atomic<int> FOpenConnections{0};
    std::unique_ptr<TImpl> FImpl;
};

// Whether the network stack can make IPv6 sockets.
bool IPv6Available();

} // namespace platform
