// The framework end to end: routes registered on the core, the server started through TRelay,
// requests sent with curl (or raw sockets) over loopback. The fixture puts the core and the
// provider's class-level state back as the test found them.
#include <gtest/gtest.h>

#include "support/gate.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "framework/relay/core.hpp"
#include "framework/relay/exception.hpp"
#include "framework/relay/exception/interrupted.hpp"
#include "framework/relay/json_body.hpp"
#include "framework/relay/relay.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "framework/relay/web_module.hpp"
#include "platform/json/json.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_request_handler.hpp"
#include "support/framework_state.hpp"
#include "support/http.hpp"
#include "support/process_counts.hpp"

using namespace relay;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

std::string PictureFile;
std::string PictureBytes;

// A probe object whose destruction is counted: bodies and contents must be freed exactly once.
std::atomic<int> ProbeFreed{0};

std::string WritePicture()
{
    char name[] = "/tmp/mirovandel-pic-XXXXXX";
    int fd = ::mkstemp(name);
    PictureBytes.clear();
    PictureBytes += "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 70000; ++i)
        PictureBytes += static_cast<char>((i * 31) & 0xFF);
    [[maybe_unused]] auto n = ::write(fd, PictureBytes.data(), PictureBytes.size());
    ::close(fd);
    std::string png = std::string(name) + ".png";
    std::rename(name, png.c_str());
    return png;
}

class RelayHttp : public testing_support::TRestoresFramework {
protected:
    void SetUp() override
    {
        TRelay::Create();
        TRelay::Use({JsonBody()});
        TRelay::Get("/hello", [](TRelayRequest&, TRelayResponse& res) { res.Send("Hello"); });
        TRelay::Get("/api/item/:id",
                    [](TRelayRequest& req, TRelayResponse& res) { res.Send("item " + req.Params().Items("id")); });
        TRelay::Get("/api/num/(\\d+)",
                    [](TRelayRequest& req, TRelayResponse& res) { res.Send("digits " + req.PathInfo()); });
        TRelay::Get("/json", [](TRelayRequest&, TRelayResponse& res) {
            auto o = std::make_unique<platform::TJSONObject>();
            o->AddPair("Status", "a/b");
            o->AddPair("Status_Desc", "caf\xC3\xA9");
            res.Send(o.release()).Status(201);
        });
        TRelay::Post("/echo", [](TRelayRequest& req, TRelayResponse& res) {
            // The request's own body object as the content: freed once, by the request.
            res.Send(req.Body<platform::TJSONValue>());
        });
        auto seen = [](TRelayRequest& req, TRelayResponse& res) {
            auto* v = req.Body<platform::TJSONValue>();
            res.Send(v ? "object " + v->ToJSON() : std::string("none"));
        };
        TRelay::Post("/seen", seen);
        TRelay::Get("/seen", seen);
        TRelayCore::RootTree().RegisterRoute(platform::mtPut, "/seen",
                                             [seen](TRelayRequest& q, TRelayResponse& s, const TProc&) { seen(q, s); });
        TRelayCore::RootTree().RegisterRoute(platform::mtPatch, "/seen",
                                             [seen](TRelayRequest& q, TRelayResponse& s, const TProc&) { seen(q, s); });
        TRelayCore::RootTree().RegisterRoute(platform::mtDelete, "/seen",
                                             [seen](TRelayRequest& q, TRelayResponse& s, const TProc&) { seen(q, s); });
        TRelay::Get("/fail", [](TRelayRequest&, TRelayResponse& res) {
            res.ContentType("text/plain");
            throw platform::Exception("boom <b>&</b>");
        });
        TRelay::Get("/fail400", [](TRelayRequest&, TRelayResponse&) {
            throw ERelayException::New().Status(TResponseStatus::BadRequest).Error("bad \"input\" <x>");
        });
        TRelay::Get("/file", [](TRelayRequest&, TRelayResponse& res) { res.SendFile(PictureFile, ""); });
        TRelay::Get("/file-then-fail", [](TRelayRequest&, TRelayResponse& res) {
            res.SendFile(PictureFile, "");
            res.Status(500);
            throw platform::Exception("after the file");
        });
        TRelay::Get("/block", [this](TRelayRequest&, TRelayResponse& res) {
            Gate.Wait();
            res.Send("released");
        });
        TRelay::Get("/quiet", [](TRelayRequest&, TRelayResponse& res) {
            res.Send("prepared").Status(202);
            throw ERelayCallbackInterrupted();
        });
        TRelay::Get("/auth", [](TRelayRequest& req, TRelayResponse& res) {
            auto& raw = static_cast<platform::THTTPAppRequest&>(req.RawWebRequest());
            res.Send("user=" + raw.AuthUserName() + " header=" + req.Headers().Items("authorization"));
        });
        TRelay::Get("/addr",
                    [](TRelayRequest& req, TRelayResponse& res) { res.Send(req.RawWebRequest().RemoteAddr()); });

        PictureFile = WritePicture();
        Port = FreePort();
        TRelay::SetHost("127.0.0.1");
        TRelay::SetPort(Port);
    }
    void TearDown() override
    {
        Gate.Open();
        if (TRelay::IsRunning())
            TRelay::StopListen();
        std::remove(PictureFile.c_str());
    }
    std::string Url(const std::string& APath) const { return LoopbackUrl(Port, APath); }

    int Port = 0;
    TGate Gate; // holds "/block" until the test opens it
};

} // namespace

TEST_F(RelayHttp, RoutesAnswerOverTheWire)
{
    TRelay::Listen();
    EXPECT_TRUE(TRelay::IsRunning());
    auto c = Curl({Url("/hello")});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_EQ(c.Reply.Body, "Hello");
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(Curl({Url("/api/item/caf%C3%A9")}).Reply.Body, "item caf\xC3\xA9");
    EXPECT_EQ(Curl({Url("/api/num/123")}).Reply.Body, "digits /api/num/123");
}

TEST_F(RelayHttp, FrameworkRepliesCarryTheDefaultContentType)
{
    TRelay::Listen();
    auto c = Curl({Url("/nope/deeper")});
    EXPECT_EQ(c.Reply.Status, 404);
    EXPECT_EQ(c.Reply.Body, "Not Found");
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    c = Curl({"-X", "POST", Url("/hello")});
    EXPECT_EQ(c.Reply.Status, 405);
    EXPECT_EQ(c.Reply.Body, "Method Not Allowed");
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    c = Curl({"-X", "POST", Url("/api/num/abc")});
    EXPECT_EQ(c.Reply.Status, 404);
}

TEST_F(RelayHttp, JsonAnswerIsCompactAsciiWithItsContentType)
{
    TRelay::Listen();
    auto c = Curl({Url("/json")});
    EXPECT_EQ(c.Reply.Status, 201);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "application/json; charset=UTF-8");
    EXPECT_EQ(c.Reply.Body, "{\"Status\":\"a\\/b\",\"Status_Desc\":\"caf\\u00E9\"}");
}

TEST_F(RelayHttp, BodyObjectAnsweredAsContentIsFreedOnce)
{
    TRelay::Listen();
    for (int i = 0; i < 3; ++i) {
        auto c =
            Curl({"-H", "Content-Type: application/json", "--data-binary", "{\"a\":[1,2,{\"b\":null}]}", Url("/echo")});
        EXPECT_EQ(c.Reply.Status, 200);
        EXPECT_EQ(c.Reply.Body, "{\"a\":[1,2,{\"b\":null}]}");
        EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "application/json; charset=UTF-8");
    }
}

TEST_F(RelayHttp, InvalidJsonTable)
{
    TRelay::Listen();
    struct TCase {
        std::string Method, ContentType, Body;
        int Status;
        std::string Reply;
    };
    const std::string object = "{\"k\":\"v\"}";
    std::vector<TCase> cases = {
        {"POST", "application/json", object, 200, "object " + object},
        {"POST", "application/json; charset=utf-8", object, 200, "object " + object},
        {"POST", "application/json;charset=UTF-8", object, 200, "object " + object},
        {"POST", "application/json; Charset=utf-8", object, 200, "object " + object},
        {"POST", "Application/JSON", object, 200, "none"},
        {"POST", "application/json; charset=utf-8; version=2", object, 200, "none"},
        {"POST", "text/json", object, 200, "none"},
        {"POST", "application/problem+json", object, 200, "none"},
        {"POST", "text/plain", object, 200, "none"},
        {"POST", "", object, 200, "none"},
        {"GET", "application/json", object, 200, "none"},
        {"DELETE", "application/json", object, 200, "none"},
        {"POST", "application/json", "", 400, "Invalid JSON"},
        {"POST", "application/json", "{\"open\":1", 400, "Invalid JSON"},
        {"POST", "application/json", "[1,2]", 200, "object [1,2]"},
        {"PUT", "application/json", object + "\n", 200, "object " + object},
        {"PATCH", "application/json", "\"text\" x", 400, "Invalid JSON"},
    };
    for (const auto& t : cases) {
        std::vector<std::string> args = {"-X", t.Method, "--data-binary", t.Body};
        // curl adds a form content type to --data; an explicit empty header removes it.
        args.push_back("-H");
        args.push_back(t.ContentType.empty() ? "Content-Type:" : "Content-Type: " + t.ContentType);
        args.push_back(Url("/seen"));
        auto c = Curl(args);
        SCOPED_TRACE(t.Method + " [" + t.ContentType + "] " + t.Body);
        EXPECT_EQ(c.Reply.Status, t.Status);
        EXPECT_EQ(c.Reply.Body, t.Reply);
    }
}

TEST_F(RelayHttp, ErrorPageForAnOrdinaryError)
{
    TRelay::Listen();
    auto c = Curl({Url("/fail")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/plain"); // set by the callback before it failed
    EXPECT_NE(c.Reply.Body.find("<title>Error 500: Internal Server Error</title>"), std::string::npos);
    EXPECT_NE(c.Reply.Body.find("boom &lt;b&gt;&amp;&lt;/b&gt;"), std::string::npos) << c.Reply.Body;
    EXPECT_NE(c.Reply.Body.find("/fail"), std::string::npos);
    EXPECT_EQ(c.Reply.Body.find("Internal Application Error"), std::string::npos);
}

TEST_F(RelayHttp, ErrorPageForARelayExceptionWithStatus400)
{
    TRelay::Listen();
    auto c = Curl({Url("/fail400?x=<y>")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(c.Reply.Body.find("Internal Server Error"), std::string::npos);
    EXPECT_NE(c.Reply.Body.find("bad &quot;input&quot; &lt;x&gt;"), std::string::npos) << c.Reply.Body;
    EXPECT_NE(c.Reply.Body.find("/fail400"), std::string::npos);
}

TEST_F(RelayHttp, QuietStopSendsThePreparedReply)
{
    TRelay::Listen();
    auto c = Curl({Url("/quiet")});
    EXPECT_EQ(c.Reply.Status, 202);
    EXPECT_EQ(c.Reply.Body, "prepared");
}

TEST_F(RelayHttp, FileReplyWithItsHeadersAndExactBytes)
{
    TRelay::Listen();
    auto c = Curl({Url("/file")});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "image/png");
    std::string base = PictureFile.substr(PictureFile.rfind('/') + 1);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Disposition"), "inline; filename=\"" + base + "\"");
    EXPECT_EQ(c.Reply.HeaderOr("Content-Length"), std::to_string(PictureBytes.size()));
    EXPECT_TRUE(c.Reply.Body == PictureBytes);
}

TEST_F(RelayHttp, FileReplyFollowedByAnErrorStands)
{
    TRelay::Listen();
    TRawClient raw("127.0.0.1", Port);
    ASSERT_TRUE(raw.Send("GET /file-then-fail HTTP/1.1\r\nHost: x\r\n\r\nGET /hello HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto first = raw.ReadReply(10s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Status, 200);
    EXPECT_TRUE(first->Body == PictureBytes);
    // The very next bytes are the second reply: no error page came between.
    auto second = raw.ReadReply(10s);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Status, 200);
    EXPECT_EQ(second->Body, "Hello");
}

TEST_F(RelayHttp, KeepAliveIsOnAndReusesTheConnection)
{
    EXPECT_TRUE(TRelay::KeepAlive());
    TRelay::Listen();
    auto c = Curl({"-w", "%{num_connects}\n", "-o", "/dev/null", Url("/hello"), "-o", "/dev/null", Url("/json"), "-o",
                   "/dev/null", Url("/nope")},
                  false);
    EXPECT_EQ(c.Output, "1\n0\n0\n");
}

TEST_F(RelayHttp, DefaultHostServesIPv4AndIPv6)
{
    TRelay::SetHost("  0.0.0.0 \t");
    TRelay::Listen();
    EXPECT_EQ(TRelay::Host(), "0.0.0.0");
    auto& server = TRelay::BridgeServer();
    EXPECT_EQ(server.Bindings()[0].IP, "0.0.0.0");
    EXPECT_EQ(Curl({Url("/addr")}).Reply.Body, "127.0.0.1");
    if (!HaveIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback here";
    EXPECT_EQ(server.Bindings().Count(), 2);
    EXPECT_EQ(Curl({"http://[::1]:" + std::to_string(Port) + "/addr"}).Reply.Body, "::1");
}

TEST_F(RelayHttp, ExplicitHostGivesExactlyOneBinding)
{
    TRelay::Listen();
    auto& server = TRelay::BridgeServer();
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_EQ(server.Bindings()[0].IP, "127.0.0.1");
    EXPECT_EQ(server.Bindings()[0].Port, Port);
    EXPECT_EQ(server.ListenQueue(), 15);
    EXPECT_EQ(TRelay::ListenQueue(), 15);
}

TEST_F(RelayHttp, EmptyHostAndPortZeroMean0000And9000)
{
    TRelay::SetHost("");
    TRelay::SetPort(-1);
    try {
        TRelay::Listen();
    } catch (const platform::Exception& e) {
        GTEST_SKIP() << "port 9000 is taken here: " << e.Message();
    }
    EXPECT_EQ(TRelay::Port(), 9000);
    EXPECT_EQ(TRelay::Host(), "0.0.0.0");
    EXPECT_EQ(TRelay::BridgeServer().DefaultPort(), 9000);
    EXPECT_EQ(Curl({LoopbackUrl(9000, "/hello")}).Reply.Body, "Hello");
}

// The server refuses the 33rd request in work (its reply: the server's own tests); at the
// framework no middleware and no route runs for it, and the routes in work all finish.
TEST_F(RelayHttp, ARequestRefusedWhileThirtyTwoAreInWorkRunsNoRoute)
{
    std::atomic<int> middleware{0};
    std::atomic<int> route{0};
    TRelay::Use([&](TRelayRequest&, TRelayResponse&, const TProc& ANext) {
        ++middleware;
        ANext();
    });
    TRelay::Get("/counted", [&](TRelayRequest&, TRelayResponse& res) {
        ++route;
        res.Send("counted");
    });
    TRelay::Listen();
    std::vector<std::unique_ptr<TRawClient>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(clients.back()->Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    ASSERT_TRUE(Gate.WaitForWaiting(32));
    EXPECT_EQ(middleware.load(), 32);
    EXPECT_EQ(Curl({Url("/counted")}).Reply.Status, 500);
    EXPECT_EQ(middleware.load(), 32);
    EXPECT_EQ(route.load(), 0);
    Gate.Open();
    for (auto& client : clients) {
        auto r = client->ReadReply(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Body, "released");
    }
    EXPECT_EQ(Curl({Url("/counted")}).Reply.Body, "counted");
    EXPECT_EQ(route.load(), 1);
}

TEST_F(RelayHttp, StartStopStartOnANewPort)
{
    TRelay::Listen();
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
    int second = FreePort();
    TRelay::SetPort(second); // no effect while listening
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
    EXPECT_EQ(Curl({LoopbackUrl(second, "/hello")}).ExitCode, 7);
    TRelay::StopListen();
    EXPECT_FALSE(TRelay::IsRunning());
    EXPECT_EQ(Curl({Url("/hello")}).ExitCode, 7);
    TRelay::Listen();
    EXPECT_TRUE(TRelay::IsRunning());
    EXPECT_EQ(Curl({LoopbackUrl(second, "/hello")}).Reply.Body, "Hello");
    EXPECT_EQ(Curl({Url("/hello")}).ExitCode, 7);
}

TEST_F(RelayHttp, StopListenBeforeAnyStartAndAfterAStop)
{
    MIROVANDEL_IN_FRESH_PROCESS(); // the server object, once made, stays for the process
    int stops = 0;
    TRelay::SetOnStopListen([&] { ++stops; });
    try {
        TRelay::StopListen();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "Relay not listen");
    }
    EXPECT_EQ(stops, 0);
    EXPECT_TRUE(TRelay::BridgeMissing());
    TRelay::Listen();
    TRelay::StopListen();
    EXPECT_EQ(stops, 1);
    EXPECT_NO_THROW(TRelay::StopListen());
    EXPECT_EQ(stops, 2);
    EXPECT_FALSE(TRelay::IsRunning());
}

TEST_F(RelayHttp, CallbacksSeeTheRunningFlag)
{
    std::vector<std::string> seen;
    EXPECT_FALSE(TRelay::IsRunning());
    TRelay::Listen([&] { seen.push_back(std::string("listen ") + (TRelay::IsRunning() ? "on" : "off")); },
                   [&] { seen.push_back(std::string("stop ") + (TRelay::IsRunning() ? "on" : "off")); });
    TRelay::StopListen();
    EXPECT_FALSE(TRelay::IsRunning());
    EXPECT_EQ(seen, (std::vector<std::string>{"listen on", "stop on"}));

    // The parameterless Listen keeps them; a static overload with empty ones clears them.
    TRelay::Listen();
    TRelay::StopListen();
    EXPECT_EQ(seen.size(), 4u);
    TRelay::Listen(TProc(), TProc());
    TRelay::StopListen();
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(RelayHttp, ListenOverloadsSetPortAndHost)
{
    int other = FreePort();
    TRelay::Listen(other, TProc(), TProc());
    EXPECT_EQ(TRelay::Port(), other);
    EXPECT_EQ(TRelay::Host(), "127.0.0.1");
    EXPECT_EQ(Curl({LoopbackUrl(other, "/hello")}).Reply.Body, "Hello");
    TRelay::StopListen();
    TRelay::Listen(std::string(" 127.0.0.1 "), TProc(), TProc());
    EXPECT_EQ(TRelay::Host(), "127.0.0.1");
    EXPECT_EQ(TRelay::Port(), other);
    TRelay::StopListen();
    TRelay::Listen(Port, "127.0.0.1", TProc(), TProc());
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
}

TEST_F(RelayHttp, FailedListenLeavesItStoppedAndReusable)
{
    platform::THTTPWebBrokerBridge squatter;
    auto& b = squatter.Bindings().Add();
    b.IP = "127.0.0.1";
    b.Port = Port;
    squatter.SetActive(true);
    bool listened = false;
    TRelay::SetOnListen([&] { listened = true; });
    EXPECT_THROW(TRelay::Listen(), platform::Exception);
    EXPECT_FALSE(TRelay::IsRunning());
    EXPECT_FALSE(listened);
    EXPECT_FALSE(TRelay::BridgeMissing());
    squatter.SetActive(false);
    TRelay::Listen();
    EXPECT_TRUE(listened);
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
}

TEST_F(RelayHttp, PortsOutsideTheTcpRangeFailTheStart)
{
    TRelay::SetPort(70000);
    EXPECT_THROW(TRelay::Listen(), platform::Exception);
    EXPECT_FALSE(TRelay::IsRunning());
}

TEST_F(RelayHttp, ListenWhileListeningIsRefusedAndTheServerKeepsServing)
{
    TRelay::Listen();
    TRelay::SetPort(FreePort());
    try {
        TRelay::Listen();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "Relay already listening");
    }
    EXPECT_TRUE(TRelay::IsRunning());
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
}

TEST_F(RelayHttp, StopJoinsTheServersThreads)
{
    // One cycle first: helper threads of the runtime (sanitizers) start with the first thread.
    TRelay::Listen();
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
    TRelay::StopListen();
    int idle = ThreadCount();
    TRelay::Listen();
    std::vector<std::unique_ptr<TRawClient>> open;
    for (int i = 0; i < 4; ++i) {
        open.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(open.back()->Send("GET /hello HTTP/1.1\r\nHost: x\r\n\r\n"));
        ASSERT_TRUE(open.back()->ReadReply(5s));
    }
    EXPECT_GT(ThreadCount(), idle);
    TRelay::StopListen();
    // A joined thread can stay listed under /proc for a moment after its join returns.
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == idle; }, 2s)) << ThreadCount() << " for " << idle;
    for (auto& c : open)
        EXPECT_TRUE(c->WaitClosed(2s));
}

TEST_F(RelayHttp, AnyAuthorizationSchemeReachesTheRouterUndecoded)
{
    TRelay::Listen();
    auto c = Curl({"-H", "Authorization: Bearer token-1", Url("/auth")});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_EQ(c.Reply.Body, "user= header=Bearer token-1");
    c = Curl({"-u", "ana:secret", Url("/auth")});
    EXPECT_EQ(c.Reply.Body, "user= header=Basic YW5hOnNlY3JldA==");
    c = Curl({"-H", "Authorization: Weird", Url("/auth")});
    EXPECT_EQ(c.Reply.Body, "user= header=Weird");
}

TEST_F(RelayHttp, TlsOptions)
{
    MIROVANDEL_IN_FRESH_PROCESS(); // the options, once made, stay for the process
    auto options = TRelay::SSLOptions();
    EXPECT_EQ(TRelay::SSLOptions(), options); // made once
    EXPECT_TRUE(options->Active());
    EXPECT_EQ(options->Method(), platform::sslvTLSv1);
    EXPECT_EQ(options->SSLVersions(), platform::TIdSSLVersions{platform::sslvTLSv1});
    EXPECT_EQ(options->CertFile(), "");
    EXPECT_EQ(options->KeyFile(), "");
    EXPECT_EQ(options->RootCertFile(), "");
    EXPECT_EQ(options->DHParamsFile(), "");
    EXPECT_EQ(options->CipherList(), "");
    EXPECT_FALSE(options->OnGetPassword());
    EXPECT_EQ(&options->CertFile(" c ").KeyFile("k").CipherList("HIGH"), options.get());
    EXPECT_EQ(options->CertFile(), " c ");

    // Active options: this build cannot speak TLS, so the start fails and says why.
    try {
        TRelay::Listen();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_NE(e.Message().find("TLS is not available"), std::string::npos);
    }
    EXPECT_FALSE(TRelay::IsRunning());

    // Inactive options: plain HTTP on every connection.
    options->Active(false);
    TRelay::Listen();
    EXPECT_TRUE(TRelay::BridgeServer().TLSIOHandler());
    EXPECT_EQ(Curl({Url("/hello")}).Reply.Body, "Hello");
    bool useTLS = true;
    TRelay::QuerySSLPortHandler(0, useTLS);
    EXPECT_FALSE(useTLS);
}

TEST_F(RelayHttp, AbstractProviderRefusesBoth)
{
    EXPECT_THROW(TRelayProviderAbstract::Listen(), platform::EAbstractError);
    try {
        TRelayProviderAbstract::StopListen();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "StopListen not implemented");
    }
}

TEST_F(RelayHttp, EveryRequestRunsTheActionOnce)
{
    static std::atomic<int> actions{0};
    WebModuleClass = [] {
        auto module = TRelayWebModule::New();
        auto& item = *module->Actions().front();
        auto inner = item.OnAction;
        item.OnAction = [inner](platform::TObject* s, platform::TWebRequest& q, platform::TWebResponse& r, bool& h) {
            ++actions;
            inner(s, q, r, h);
        };
        return module;
    };
    TRelay::Listen();
    int n = 0;
    for (auto [method, path] : std::vector<std::pair<std::string, std::string>>{
             {"GET", "/"}, {"GET", "/hello"}, {"POST", "/nope"}, {"OPTIONS", "/hello"}, {"DELETE", "/x/y/z"}}) {
        auto c = Curl({"-X", method, Url(path)});
        EXPECT_NE(c.Reply.Status, 0);
        EXPECT_EQ(actions.load(), ++n) << method << " " << path;
    }
    EXPECT_NE(TRelayWebModule::GetInstance(), nullptr);
    EXPECT_EQ(TRelayWebModule::GetInstance()->Relay(), TRelayCore::GetInstance());
}
