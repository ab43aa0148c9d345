#pragma once
// The provider that runs the HTTP server: class-level settings (port, host, listen queue,
// maximum connections, keep-alive, TLS options), the running flag and the one server object.
// All of it is driven from one thread at a time (the window's thread in the product).
#include <cstdint>
#include <string>

#include "framework/relay/provider/abstract.hpp"
#include "framework/relay/provider/io_handle_ssl/contract.hpp"

namespace platform {
class THTTPWebBrokerBridge;
}

namespace relay {

class TRelayProvider : public TRelayProviderAbstract {
public:
    // Makes the core as an object of this class (see TRelayCore::CreateAs).
    static TRelayProvider* Create() { return CreateAs<TRelayProvider>(); }

    // Start with the stored settings and callbacks.
    static void Listen();
    // Set what is given, replace both callbacks (empty ones clear them), then start.
    static void Listen(int APort, const std::string& AHost, const TProc& ACallbackListen,
                       const TProc& ACallbackStopListen);
    static void Listen(int APort, const TProc& ACallbackListen, const TProc& ACallbackStopListen);
    static void Listen(const std::string& AHost, const TProc& ACallbackListen, const TProc& ACallbackStopListen);
    static void Listen(const TProc& ACallbackListen, const TProc& ACallbackStopListen);
    // Stops the server: ends the listeners, closes the open connections once their requests in
    // work are answered (so such a request delays it) and ends the server's threads. Before any
    // start: Exception "Relay not listen".
    static void StopListen();
    static bool IsRunning();

    // Stored unchanged; a start turns 0 or less into DefaultPort. Ports above 65535 make the
    // start fail.
    static void SetPort(int APort);
    // Stored without leading and trailing characters at or below U+0020.
    static void SetHost(const std::string& AHost);
    static void SetKeepAlive(bool AKeepAlive);
    static int Port();
    static const std::string& Host();
    static bool KeepAlive();
    static int ListenQueue();
    static int MaxConnections();

    static int DefaultPort() { return 9000; }
    static std::string DefaultHost() { return "0.0.0.0"; }

    static void StartServer();
    static void StopServer();

    // The server object, made by the first start and reused by every later one.
    static platform::THTTPWebBrokerBridge& BridgeServer();
    static bool BridgeMissing();

    // The TLS options; made (with their defaults) on first call.
    static IRelayProviderIOHandleSSLRef SSLOptions();
    // This build has no TLS: options that are Active make the start fail with an Exception;
    // inactive ones install a TLS handler that answers every connection in plain text.
    static void ApplySSLOptions(platform::THTTPWebBrokerBridge& AServer, const IRelayProviderIOHandleSSLRef& AOptions);

    // The server's handlers, set once per server object.
    static void QuerySSLPortHandler(uint16_t APort, bool& VUseSSL);
    static void ParseAuthenticationHandler(const std::string& AAuthType, const std::string& AAuthData,
                                           std::string& VUsername, std::string& VPassword, bool& VHandled);
};

inline constexpr const char* KRelayNotListen = "Relay not listen";
inline constexpr const char* KRelayAlreadyListening = "Relay already listening";
inline constexpr const char* KTLSNotAvailable =
    "TLS is not available in this build: the server speaks plain HTTP only. Set the TLS options' Active to false.";

} // namespace relay
