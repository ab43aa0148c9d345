#include "fuzz/http_entry.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "framework/relay/json_body.hpp"
#include "framework/relay/relay.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "framework/relay/web_module.hpp"
#include "platform/json/json.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_request_handler.hpp"

namespace fuzz {
namespace {

[[noreturn]] void Fail(const char* AWhat)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", AWhat);
    std::abort();
}

// The product route table on the framework's core, with handlers that read what the product
// handlers read (the "id" parameter, the JSON body's members) and every lazy value collection
// of the request. Requests reach it through the framework's web module, as they do in the program.
void RegisterRoutes()
{
    relay::TRelay::Create();
    relay::TRelayCore::Use({relay::JsonBody()});
    relay::TRelayCallback lookup = [](relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse,
                                      const relay::TProc&) {
        std::string id = ARequest.Params()["id"];
        if (id.empty())
            Fail("a parameter route ran with an empty id");
        (void)ARequest.Query().Count();
        (void)ARequest.Cookie().Count();
        (void)ARequest.Headers().Count();
        (void)ARequest.ContentFields().Count();
        auto object = std::make_unique<platform::TJSONObject>();
        object->AddPair("Status", "200");
        object->AddPair("Status_Desc", "id: " + id);
        AResponse.Send(object.release()).Status(200);
    };
    relay::TRelayCore::Get("/api/gtin/:id", lookup);
    relay::TRelayCore::Get("/api/fotoexiste/:id", lookup);
    relay::TRelayCore::Post(
        "/api/grava", relay::TRelayCallback(
                          [](relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const relay::TProc&) {
                              (void)ARequest.ContentFields().Count();
                              auto* body = ARequest.Body<platform::TJSONObject>();
                              if (!body)
                                  return;
                              std::string ean;
                              if (const platform::TJSONValue* value = body->GetValue("ean"))
                                  ean = value->Value();
                              for (const char* name : {"nome", "ncm", "cest", "um"})
                                  if (const platform::TJSONValue* value = body->GetValue(name))
                                      (void)value->Value();
                              auto object = std::make_unique<platform::TJSONObject>();
                              object->AddPair("id", ean);
                              AResponse.Send(object.release()).Status(200);
                          }));
    for (const char* path : {"/api/fotoexistej/:id", "/api/descricao/:id", "/api/um2/:id", "/api/um/:id",
                             "/api/desc/:id", "/api/desc200/:id", "/api/desc_ini/:id"})
        relay::TRelayCore::Get(path, lookup);
}

platform::THTTPWebBrokerBridge& Bridge()
{
    static platform::THTTPWebBrokerBridge* bridge = [] {
        RegisterRoutes();
        platform::WebRequestHandler().SetWebModuleClass(relay::WebModuleClass);
        auto* server = new platform::THTTPWebBrokerBridge();
        server->SetKeepAlive(true);
        return server;
    }();
    return *bridge;
}

// Writes all of AData to AFd and then ends its stream, reading what comes back meanwhile, so
// neither side can block the other; returns once the server has closed its end.
std::string Exchange(int AFd, std::string_view AData)
{
    std::string reply;
    size_t sent = 0;
    bool writing = true;
    if (AData.empty()) {
        ::shutdown(AFd, SHUT_WR);
        writing = false;
    }
    char buffer[16 * 1024];
    std::chrono::steady_clock::time_point quiet; // since when nothing happened; zero: something did
    for (;;) {
        pollfd fds{AFd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
        int ready = ::poll(&fds, 1, 1000);
        if (ready < 0 && errno == EINTR)
            continue; // libFuzzer's timeout alarm
        if (ready > 0) {
            quiet = std::chrono::steady_clock::time_point();
        } else if (quiet == std::chrono::steady_clock::time_point()) {
            quiet = std::chrono::steady_clock::now();
            continue;
        } else if (std::chrono::steady_clock::now() - quiet < std::chrono::seconds(20)) {
            continue;
        } else {
            std::fprintf(stderr, "sent %zu of %zu bytes, got %zu: %.300s\n", sent, AData.size(), reply.size(),
                         reply.c_str());
            Fail("the server neither read nor wrote for 20 s");
        }
        if (fds.revents & POLLIN || fds.revents & POLLHUP) {
            ssize_t n = ::recv(AFd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0)
                return reply;
            if (n > 0) {
                reply.append(buffer, static_cast<size_t>(n));
                if (reply.size() > (64u << 20))
                    Fail("more than 64 MiB of reply");
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return reply; // reset by the server
            }
        }
        if (writing && (fds.revents & (POLLOUT | POLLERR))) {
            ssize_t n = ::send(AFd, AData.data() + sent, AData.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                writing = false; // the server closed its end: the rest is never read
            if (writing && sent == AData.size()) {
                ::shutdown(AFd, SHUT_WR);
                writing = false;
            }
        }
    }
}

// The client side runs on one thread kept for the whole run, so an input costs no thread start.
class TClient {
public:
    TClient() : FThread([this] { Loop(); }) {}

    // Starts the exchange of AData over AFd on the client thread.
    void Start(int AFd, std::string_view AData)
    {
        std::lock_guard lock(FLock);
        FFd = AFd;
        FData = AData;
        FDone = false;
        FWake.notify_all();
    }
    // Waits for it to end; what the server wrote.
    std::string Finish()
    {
        std::unique_lock lock(FLock);
        FWake.wait(lock, [this] { return FDone; });
        return std::move(FReply);
    }

private:
    void Loop()
    {
        std::unique_lock lock(FLock);
        for (;;) {
            FWake.wait(lock, [this] { return FFd >= 0; });
            int fd = FFd;
            std::string_view data = FData;
            lock.unlock();
            std::string reply = Exchange(fd, data);
            lock.lock();
            FReply = std::move(reply);
            FFd = -1;
            FDone = true;
            FWake.notify_all();
        }
    }

    std::mutex FLock;
    std::condition_variable FWake;
    int FFd = -1;
    std::string_view FData;
    std::string FReply;
    bool FDone = false;
    std::thread FThread;
};

} // namespace

std::string RunHttp(const uint8_t* AData, size_t ASize)
{
    platform::THTTPWebBrokerBridge& bridge = Bridge();
    static TClient* client = new TClient();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        Fail("socketpair");
    // The client on its thread, the server's per-connection code here, as an I/O thread runs it.
    client->Start(fds[1], std::string_view(reinterpret_cast<const char*>(AData), ASize));
    bridge.ServeConnectedSocket(fds[0]);
    std::string reply = client->Finish();
    ::close(fds[1]);
    if (!reply.empty() && reply.compare(0, 7, "HTTP/1.") != 0)
        Fail("the reply does not begin with a status line");
    if (bridge.ConnectionCount() != 0)
        Fail("a served connection is still counted");
    return reply;
}

} // namespace fuzz
