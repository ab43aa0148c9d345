#include "platform/http/http_server.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>

#include "platform/base/exception.hpp"
#include "platform/http/http_connection.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_listener.hpp"
#include "platform/http/http_loop_watchdog.hpp"
#include "platform/web/web_request_handler.hpp"

namespace platform {

namespace asio = boost::asio;
using asio::ip::tcp;

struct THTTPWebBrokerBridge::TImpl {
    http::TServerShared Shared;
    std::vector<std::unique_ptr<http::TEventLoop>> Loops;
    std::unique_ptr<http::TListener> Listener;
    http::TLoopWatchdog Watchdog;
};

namespace {

// The cap on open connections: the configured one, and below the descriptor limit, leaving
// room for everything else the process opens (files, database links).
int ConnectionCapFor(int AMaxConnections)
{
    int cap = limits::KMaxOpenConnections;
    if (AMaxConnections > 0)
        cap = std::min(cap, AMaxConnections);
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const long soft = static_cast<long>(limit.rlim_cur);
        const long room = soft - std::min<long>(limits::KReservedDescriptors, soft / 4);
        cap = static_cast<int>(std::min<long>(cap, std::max<long>(room, 1)));
    }
    return cap;
}

} // namespace

THTTPWebBrokerBridge::THTTPWebBrokerBridge() : FImpl(std::make_unique<TImpl>())
{
    WebRequestHandler(); // made before the server, so it outlives it at program end
}

THTTPWebBrokerBridge::~THTTPWebBrokerBridge()
{
    try {
        SetActive(false);
    } catch (...) {
    }
}

int THTTPWebBrokerBridge::ConnectionCount() const
{
    return FImpl->Shared.OpenConnections.load();
}

int THTTPWebBrokerBridge::IdleConnectionCount() const
{
    size_t idle = 0;
    for (const auto& loop : FImpl->Loops)
        idle += loop->Registry().IdleCount();
    return static_cast<int>(idle);
}

size_t THTTPWebBrokerBridge::BodyMemoryHeld() const
{
    return FImpl->Shared.BodyHeld.load();
}

int THTTPWebBrokerBridge::WritingConnectionCount() const
{
    return FImpl->Shared.WritingConnections.load();
}

int THTTPWebBrokerBridge::ConnectionCap() const
{
    return FImpl->Shared.MaxOpen;
}

void THTTPWebBrokerBridge::ApplySettings()
{
    http::TServerShared& s = FImpl->Shared;
    static_cast<http::TServerSettings&>(s) = FSettings;
    s.OnParseAuthentication = OnParseAuthentication;
    s.OnQuerySSLPort = OnQuerySSLPort;
    s.MaxOpen = ConnectionCapFor(FMaxConnections);
}

void THTTPWebBrokerBridge::SetActive(bool AValue)
{
    if (AValue == FActive)
        return;
    if (!AValue) {
        StopListening();
        CloseConnections();
        FActive = false;
        return;
    }
    bool defaults = FBindings.Count() == 0;
    if (defaults) {
        FBindings.Add().IP = "0.0.0.0";
        FBindings[0].Port = FDefaultPort;
        if (IPv6Available()) {
            TSocketHandle& v6 = FBindings.Add();
            v6.IP = "::";
            v6.Port = FDefaultPort;
        }
    }
    ApplySettings();
    http::TServerShared& s = FImpl->Shared;
    s.Stopping.store(false);
    int threads = FIOThreads > 0
                      ? FIOThreads
                      : limits::KIOThreadsPerCore * static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // Nothing stays behind from a start that fails: no listener, no loop, no thread.
    auto undo = [this] {
        FImpl->Watchdog.Stop();
        for (auto& loop : FImpl->Loops)
            loop->StopThread();
        FImpl->Listener.reset();
        FImpl->Loops.clear();
    };
    try {
        for (int i = 0; i < threads; ++i)
            FImpl->Loops.push_back(std::make_unique<http::TEventLoop>(&FImpl->Watchdog));
        FImpl->Listener = std::make_unique<http::TListener>(s, FImpl->Loops);
        FImpl->Listener->Open(FBindings, FListenQueue, defaults);
        std::vector<http::TEventLoop*> loops;
        for (auto& loop : FImpl->Loops) {
            loop->StartThread();
            loops.push_back(loop.get());
        }
        FImpl->Watchdog.Start(std::move(loops));
    } catch (const Exception&) {
        undo();
        throw;
    } catch (const std::exception& e) {
        // The system refused an event loop or a thread (out of descriptors, say).
        undo();
        throw Exception(std::string("Could not start the HTTP server: ") + e.what());
    }
    FImpl->Listener->Start();
    FActive = true;
}

void THTTPWebBrokerBridge::StartListening()
{
    if (!FActive || FImpl->Listener->Covers(FBindings))
        return;
    FImpl->Listener->Open(FBindings, FListenQueue, false);
    FImpl->Listener->Start();
}

void THTTPWebBrokerBridge::StopListening()
{
    if (FImpl->Listener)
        FImpl->Listener->Close();
}

void THTTPWebBrokerBridge::CloseConnections()
{
    http::TServerShared& s = FImpl->Shared;
    s.Stopping.store(true);
    // Each loop closes its connections; one with a request in work closes once its reply is
    // written (or would have to wait for the client). The watchdog still hands blocked loops
    // over meanwhile, so every loop gets to it.
    for (auto& loop : FImpl->Loops)
        asio::post(loop->Context(), [l = loop.get()] {
            for (auto& c : l->Registry().Connections())
                c->Shutdown();
        });
    s.WaitForNoConnections();
    FImpl->Watchdog.Stop();
    for (auto& loop : FImpl->Loops)
        loop->StopThread();
    FImpl->Listener.reset();
    FImpl->Loops.clear();
    s.Stopping.store(false);
}

void THTTPWebBrokerBridge::ServeConnectedSocket(int AFd)
{
    if (!FActive)
        ApplySettings();
    http::TEventLoop loop;
    tcp::socket socket(loop.Context());
    boost::system::error_code ec;
    socket.assign(tcp::v4(), AFd, ec); // the protocol only types the handle; reads and writes ignore it
    if (ec) {
        ::close(AFd);
        throw Exception("Not a socket: " + ec.message());
    }
    socket.non_blocking(true, ec);
    auto connection = std::make_shared<http::TConnection>(FImpl->Shared, loop, std::move(socket), std::string());
    asio::post(loop.Context(), [connection] { connection->Start(); });
    connection.reset();
    loop.Run();
}

} // namespace platform
