#pragma once
// The HTTP server tests' fixture: the HTTP server and the web request handler over real loopback
// sockets, with a small web module whose one action runs whatever the test puts into Handler.
#include <gtest/gtest.h>

#include "support/gate.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include <poll.h>

#include "platform/base/coroutine.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_limits.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_module.hpp"
#include "platform/web/web_request_handler.hpp"
#include "support/http.hpp"
#include "support/process_counts.hpp"
#include "support/process_state.hpp"

namespace http_server_test {

using namespace platform;
using namespace testing_support;
using namespace std::chrono_literals;

inline std::function<void(TWebRequest&, TWebResponse&)> Handler;
inline std::atomic<int> ModulesMade{0};

// Handlers run under this lock, and the test takes it around every exchange, so what a handler
// and the test share needs no lock of its own (and thread checkers see the order). Tests whose
// handlers block set HandlerUnlocked and share only atomics.
inline std::mutex HandlerLock;
inline std::atomic<bool> HandlerUnlocked{false};

inline void Sync()
{
    std::lock_guard lock(HandlerLock);
}

inline TCurlResult CurlSync(std::vector<std::string> AArgs, bool AInclude = true)
{
    Sync();
    TCurlResult result = Curl(std::move(AArgs), AInclude);
    Sync();
    return result;
}

inline std::optional<THttpReply> RawExchangeSync(int APort, const std::string& ARequest)
{
    Sync();
    auto reply = RawExchange(APort, ARequest);
    Sync();
    return reply;
}

inline std::unique_ptr<TWebModule> MakeTestModule()
{
    ++ModulesMade;
    auto module = std::make_unique<TWebModule>();
    TWebActionItem& a = module->AddAction();
    a.Name = "DefaultHandler";
    a.Default = true;
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    a.PathInfo = "/";
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    a.OnAction = [](TObject*, TWebRequest& ARequest, TWebResponse& AResponse, bool& AHandled) {
        AHandled = true;
        std::unique_lock lock(HandlerLock, std::defer_lock);
        if (!HandlerUnlocked)
            lock.lock();
        if (Handler)
            Handler(ARequest, AResponse);
    };
    return module;
}

class HttpServer : public TRestoresPlatform {
protected:
    void SetUp() override
    {
        WebRequestHandler().SetWebModuleClass(&MakeTestModule);
        Port = FreePort();
        Server = std::make_unique<THTTPWebBrokerBridge>();
        Server->SetKeepAlive(true);
    }
    void TearDown() override
    {
        Server.reset();
        Handler = nullptr;
        HandlerUnlocked = false;
    }
    void StartOn(const std::string& AHost)
    {
        TSocketHandle& b = Server->Bindings().Add();
        b.IP = AHost;
        b.Port = Port;
        Server->SetActive(true);
    }
    void Start() { StartOn("127.0.0.1"); }
    // Every request is answered "done"; one for "/block" first waits on AGate. The handlers run
    // without the handler lock (they block).
    void AnswerDoneBlockingOn(TGate& AGate)
    {
        HandlerUnlocked = true;
        Handler = [&AGate](TWebRequest& r, TWebResponse& res) {
            if (r.PathInfo() == "/block")
                AGate.Wait();
            res.SetContent("done");
        };
    }
    // Adds ACount connections to AOut, each with a request for "/block" in work, once all of them
    // wait on AGate.
    void BlockRequests(int ACount, TGate& AGate, std::vector<std::unique_ptr<TRawClient>>& AOut)
    {
        for (int i = 0; i < ACount; ++i) {
            AOut.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
            ASSERT_TRUE(AOut.back()->Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
        }
        ASSERT_TRUE(AGate.WaitForWaiting(ACount));
    }
    // Opens AGate: each of AClients gets its "done".
    static void ExpectReleased(TGate& AGate, std::vector<std::unique_ptr<TRawClient>>& AClients)
    {
        AGate.Open();
        for (auto& c : AClients) {
            auto r = c->ReadReply(10s);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->Status, 200);
            EXPECT_EQ(r->Body, "done");
        }
    }
    std::string Url(const std::string& APath = "/") const { return LoopbackUrl(Port, APath); }

    int Port = 0;
    std::unique_ptr<THTTPWebBrokerBridge> Server;
};

// One request on an open connection: the reply's body, or what went wrong.
inline std::string Ask(TRawClient& AClient, const std::string& ARequest = "GET / HTTP/1.1\r\nHost: x\r\n\r\n")
{
    if (!AClient.Send(ARequest))
        return "(not sent)";
    auto reply = AClient.ReadReply(5s);
    return reply ? reply->Body : "(no reply)";
}

inline std::string Lines(const TStrings& ALines)
{
    std::string out;
    for (const auto& l : ALines)
        out += l + "\n";
    return out;
}

// ACount requests in one stream, the i-th for APath + i, each with AHeaders. Each is padded so
// that none ends on a 4 KiB boundary: whenever the server has answered one, the next is already
// in its buffer.
inline std::string PipelinedRequests(const std::string& APath, int ACount, const std::string& AHeaders = "")
{
    std::string stream;
    for (int i = 0; i < ACount; ++i) {
        std::string request = "GET " + APath + std::to_string(i) + " HTTP/1.1\r\nHost: x";
        const std::string tail = "\r\n" + AHeaders + "\r\n";
        while ((stream.size() + request.size() + tail.size()) % 4096 == 0)
            request += "x";
        stream += request;
        stream += tail;
    }
    return stream;
}

// Reads replies from AClient until ACount have come, one fails AExpect(i, reply), or none comes
// for 5 s; returns how many passed. Reads in large pieces and parses in place, so it keeps up
// with the server.
template <class F>
inline int ReadPipelinedReplies(TRawClient& AClient, int ACount, F AExpect)
{
    std::string received;
    size_t at = 0;
    int got = 0;
    char buffer[1 << 16];
    while (got < ACount) {
        THttpReply reply;
        const size_t bodyAt = ParseReplyHead(received, at, reply);
        if (bodyAt != std::string::npos) {
            const size_t length = std::stoull(reply.HeaderOr("Content-Length", "0"));
            if (received.size() - bodyAt >= length) {
                reply.Body = received.substr(bodyAt, length);
                at = bodyAt + length;
                if (!AExpect(got, reply))
                    break;
                ++got;
                continue;
            }
        }
        if (at > (1u << 20)) {
            received.erase(0, at);
            at = 0;
        }
        pollfd p{AClient.Fd(), POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = ::recv(AClient.Fd(), buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

} // namespace http_server_test
