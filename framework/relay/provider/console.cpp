#include "framework/relay/provider/console.hpp"

#include <cstdlib>
#include <memory>

#include "framework/relay/provider/io_handle_ssl.hpp"
#include "framework/relay/web_module.hpp"
#include "platform/base/exception.hpp"
#include "platform/text/ascii.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_request_handler.hpp"

namespace relay {

namespace {

struct TProviderState {
    int Port = 0;
    std::string Host;
    bool Running = false;
    int MaxConnections = 0;
    int ListenQueue = 0;
    bool KeepAlive = false;
    platform::THTTPWebBrokerBridge* Server = nullptr; // owned; freed by FinalizeProvider
    IRelayProviderIOHandleSSLRef SSLOptions;
};

TProviderState& State()
{
    static TProviderState state;
    return state;
}

// Program end: the server goes first (stopping one that still listens, without OnStopListen
// and without touching the running flag), then the TLS options, then the host.
void FinalizeProvider()
{
    TProviderState& s = State();
    std::unique_ptr<platform::THTTPWebBrokerBridge> server(s.Server);
    s.Server = nullptr;
    server.reset();
    s.SSLOptions.reset();
    s.Host.clear();
}

} // namespace

void TRelayProvider::Listen()
{
    StartServer();
}

void TRelayProvider::StopListen()
{
    StopServer();
}

void TRelayProvider::Listen(int APort, const std::string& AHost, const TProc& ACallbackListen,
                            const TProc& ACallbackStopListen)
{
    SetPort(APort);
    SetHost(AHost);
    SetOnListen(ACallbackListen);
    SetOnStopListen(ACallbackStopListen);
    TRelayProvider::StartServer();
}

void TRelayProvider::Listen(int APort, const TProc& ACallbackListen, const TProc& ACallbackStopListen)
{
    Listen(APort, State().Host, ACallbackListen, ACallbackStopListen);
}

void TRelayProvider::Listen(const std::string& AHost, const TProc& ACallbackListen, const TProc& ACallbackStopListen)
{
    Listen(State().Port, AHost, ACallbackListen, ACallbackStopListen);
}

void TRelayProvider::Listen(const TProc& ACallbackListen, const TProc& ACallbackStopListen)
{
    std::string host = State().Host;
    Listen(State().Port, host, ACallbackListen, ACallbackStopListen);
}

bool TRelayProvider::IsRunning()
{
    return State().Running;
}

void TRelayProvider::SetPort(int APort)
{
    State().Port = APort;
}

void TRelayProvider::SetHost(const std::string& AHost)
{
    State().Host = std::string(platform::TrimControl(AHost));
}

void TRelayProvider::SetKeepAlive(bool AKeepAlive)
{
    State().KeepAlive = AKeepAlive;
}

int TRelayProvider::Port()
{
    return State().Port;
}

const std::string& TRelayProvider::Host()
{
    return State().Host;
}

bool TRelayProvider::KeepAlive()
{
    return State().KeepAlive;
}

int TRelayProvider::ListenQueue()
{
    return State().ListenQueue;
}

int TRelayProvider::MaxConnections()
{
    return State().MaxConnections;
}

bool TRelayProvider::BridgeMissing()
{
    return State().Server == nullptr;
}

platform::THTTPWebBrokerBridge& TRelayProvider::BridgeServer()
{
    TProviderState& s = State();
    if (s.Server)
        return *s.Server;
    auto server = std::make_unique<platform::THTTPWebBrokerBridge>();
    server->OnParseAuthentication = &TRelayProvider::ParseAuthenticationHandler;
    server->OnQuerySSLPort = &TRelayProvider::QuerySSLPortHandler;
    static bool finalizerRegistered = false;
    if (!finalizerRegistered) {
        // Registered after the state and the request handler exist, so it runs before either
        // is destroyed.
        std::atexit(&FinalizeProvider);
        finalizerRegistered = true;
    }
    s.Server = server.release();
    return *s.Server;
}

IRelayProviderIOHandleSSLRef TRelayProvider::SSLOptions()
{
    TProviderState& s = State();
    if (!s.SSLOptions)
        s.SSLOptions = TRelayProviderIOHandleSSL::New();
    return s.SSLOptions;
}

void TRelayProvider::ApplySSLOptions(platform::THTTPWebBrokerBridge& AServer,
                                     const IRelayProviderIOHandleSSLRef& AOptions)
{
    if (AOptions && AOptions->Active())
        throw platform::Exception(KTLSNotAvailable);
    // Inactive options: the handler is asked per connection and answers plain text.
    AServer.SetTLSIOHandler(true);
}

void TRelayProvider::QuerySSLPortHandler(uint16_t, bool& VUseSSL)
{
    const IRelayProviderIOHandleSSLRef& options = State().SSLOptions;
    VUseSSL = options && options->Active();
}

void TRelayProvider::ParseAuthenticationHandler(const std::string&, const std::string&, std::string&, std::string&,
                                                bool& VHandled)
{
    VHandled = true;
}

void TRelayProvider::StartServer()
{
    TProviderState& s = State();
    // A second start would clear the bindings of the running server: refuse it and leave the
    // server as it is.
    if (s.Server && s.Server->Active())
        throw platform::Exception(KRelayAlreadyListening);
    if (s.Port <= 0)
        s.Port = DefaultPort();
    if (s.Host.empty())
        s.Host = DefaultHost();
    platform::THTTPWebBrokerBridge& server = BridgeServer();
    platform::TWebRequestHandler& handler = platform::WebRequestHandler();
    handler.SetWebModuleClass(WebModuleClass);
    if (s.MaxConnections > 0) {
        handler.SetMaxConnections(s.MaxConnections);
        server.SetMaxConnections(s.MaxConnections);
    }
    if (s.ListenQueue == 0)
        s.ListenQueue = 15;
    if (s.SSLOptions)
        ApplySSLOptions(server, s.SSLOptions);
    server.SetListenQueue(s.ListenQueue);
    server.Bindings().Clear();
    if (s.Host != "0.0.0.0") {
        platform::TSocketHandle& binding = server.Bindings().Add();
        binding.IP = s.Host;
        binding.Port = s.Port;
    }
    server.SetKeepAlive(s.KeepAlive);
    server.SetDefaultPort(s.Port);
    server.SetActive(true);
    server.StartListening();
    s.Running = true;
    FireOnListen();
}

void TRelayProvider::StopServer()
{
    TProviderState& s = State();
    if (BridgeMissing())
        throw platform::Exception(KRelayNotListen);
    s.Server->StopListening();
    s.Server->SetActive(false);
    FireOnStopListen();
    s.Running = false;
}

} // namespace relay
