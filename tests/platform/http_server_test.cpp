// The HTTP server and the web request handler over real loopback sockets, with a small web
// module whose one action runs whatever the test puts into Handler.
#include <gtest/gtest.h>

#include "support/gate.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include <poll.h>

#include "platform/base/exception.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "platform/web/http_limits.hpp"
#include "platform/web/http_server.hpp"
#include "platform/web/web_module.hpp"
#include "platform/web/web_request_handler.hpp"
#include "support/http.hpp"
#include "support/process_counts.hpp"
#include "support/process_state.hpp"

using namespace platform;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

std::function<void(TWebRequest&, TWebResponse&)> Handler;
std::atomic<int> ModulesMade{0};

// Handlers run under this lock, and the test takes it around every exchange, so what a handler
// and the test share needs no lock of its own (and thread checkers see the order). Tests whose
// handlers block set HandlerUnlocked and share only atomics.
std::mutex HandlerLock;
std::atomic<bool> HandlerUnlocked{false};

void Sync()
{
    std::lock_guard lock(HandlerLock);
}

TCurlResult CurlSync(std::vector<std::string> AArgs, bool AInclude = true)
{
    Sync();
    TCurlResult result = Curl(std::move(AArgs), AInclude);
    Sync();
    return result;
}

std::optional<THttpReply> RawExchangeSync(int APort, const std::string& ARequest)
{
    Sync();
    auto reply = RawExchange(APort, ARequest);
    Sync();
    return reply;
}

std::unique_ptr<TWebModule> MakeTestModule()
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

// A gate that handlers wait on until the test opens it (bounded, so a failing test ends).

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
    }
    void StartOn(const std::string& AHost)
    {
        TSocketHandle& b = Server->Bindings().Add();
        b.IP = AHost;
        b.Port = Port;
        Server->SetActive(true);
    }
    void Start() { StartOn("127.0.0.1"); }
    std::string Url(const std::string& APath = "/") const { return LoopbackUrl(Port, APath); }

    int Port = 0;
    std::unique_ptr<THTTPWebBrokerBridge> Server;
};

// One request on an open connection: the reply's body, or what went wrong.
std::string Ask(TRawClient& AClient, const std::string& ARequest = "GET / HTTP/1.1\r\nHost: x\r\n\r\n")
{
    if (!AClient.Send(ARequest))
        return "(not sent)";
    auto reply = AClient.ReadReply(5s);
    return reply ? reply->Body : "(no reply)";
}

std::string Lines(const TStrings& ALines)
{
    std::string out;
    for (const auto& l : ALines)
        out += l + "\n";
    return out;
}

// ACount requests in one stream, the i-th for APath + i, each with AHeaders. Each is padded so
// that none ends on a 4 KiB boundary: whenever the server has answered one, the next is already
// in its buffer.
std::string PipelinedRequests(const std::string& APath, int ACount, const std::string& AHeaders = "")
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
int ReadPipelinedReplies(TRawClient& AClient, int ACount, F AExpect)
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

} // namespace

TEST_F(HttpServer, HandsTheParsedRequestToTheModule)
{
    std::string seen;
    std::vector<std::string> raw;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        seen = r.Method() + "|" + std::to_string(r.MethodType()) + "|" + r.RawPathInfo() + "|" + r.PathInfo() + "|" +
               r.Query() + "|" + r.Host() + "|" + r.ContentType() + "|" + r.Content() + "|" + r.RemoteAddr();
        raw = *r.RawHeaders();
        res.SetContent("ok");
    };
    Start();
    auto c = CurlSync({"-X", "PUT", "-H", "Content-Type: application/json; charset=utf-8", "-H", "X-Thing:   a b  ",
                       "--data-binary", "{\"a\":\"\xC3\xA9\"}", Url("/api/caf%C3%A9/a%2Fb+c?x=1&y=%20")});
    ASSERT_EQ(c.ExitCode, 0) << c.Output;
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_EQ(c.Reply.Body, "ok");
    EXPECT_EQ(seen,
              "PUT|2|/api/caf%C3%A9/a%2Fb+c|/api/caf\xC3\xA9/a/b+c|x=1&y=%20|127.0.0.1|application/json|"
              "{\"a\":\"\xC3\xA9\"}|127.0.0.1");
    EXPECT_NE(std::find(raw.begin(), raw.end(), "X-Thing: a b"), raw.end()) << Lines(raw);
    EXPECT_NE(std::find(raw.begin(), raw.end(), "Host: 127.0.0.1:" + std::to_string(Port)), raw.end());
}

TEST_F(HttpServer, MethodsOutsideTheSixAreAny)
{
    std::vector<std::pair<std::string, TMethodType>> cases = {
        {"GET", mtGet},     {"PUT", mtPut},     {"POST", mtPost}, {"DELETE", mtDelete},
        {"PATCH", mtPatch}, {"OPTIONS", mtAny}, {"get", mtAny},   {"PROPFIND", mtAny}};
    TMethodType seen = mtAny;
    Handler = [&](TWebRequest& r, TWebResponse&) { seen = r.MethodType(); };
    Start();
    for (const auto& [method, expected] : cases) {
        seen = static_cast<TMethodType>(99);
        auto reply = RawExchangeSync(Port, method + " / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
        ASSERT_TRUE(reply) << method;
        EXPECT_EQ(seen, expected) << method;
    }
}

TEST_F(HttpServer, HostIsTheHeaderBeforeItsPort)
{
    std::string host;
    Handler = [&](TWebRequest& r, TWebResponse&) { host = r.Host(); };
    Start();
    for (auto [header, expected] : std::vector<std::pair<std::string, std::string>>{
             {"shop.local:9000", "shop.local"}, {"shop.local", "shop.local"}, {"[::1]:9000", "[::1]"}}) {
        ASSERT_TRUE(RawExchangeSync(Port, "GET / HTTP/1.1\r\nHost: " + header + "\r\n\r\n"));
        EXPECT_EQ(host, expected);
    }
}

TEST_F(HttpServer, QueryCookieAndFormFieldsReachTheRequest)
{
    std::string query, cookies, fields, files;
    Handler = [&](TWebRequest& r, TWebResponse&) {
        query = Lines(r.QueryFields());
        cookies = Lines(r.CookieFields());
        fields = Lines(r.ContentFields());
        files.clear();
        for (const auto& f : r.Files()) {
            std::string data(static_cast<size_t>(f.Stream->Size()), '\0');
            f.Stream->SetPosition(0);
            f.Stream->Read(data.data(), data.size());
            files += f.FieldName + ":" + f.FileName + ":" + data + "\n";
        }
    };
    Start();
    auto c =
        CurlSync({"-b", "a=b=c; s=1", "-F", "name=Caf\xC3\xA9", "-F", "pic=@-;filename=x.png", Url("/?a=1&b&c=x=y")});
    ASSERT_EQ(c.ExitCode, 0);
    EXPECT_EQ(query, "a=1\nb\nc=x=y\n");
    EXPECT_EQ(cookies, "a=b=c\ns=1\n");
    EXPECT_EQ(fields, "name=Caf\xC3\xA9\n");
    EXPECT_EQ(files, "pic:x.png:\n");

    c = CurlSync({"--data", "k=v+w&z=%41", Url("/")});
    EXPECT_EQ(fields, "k=v w\nz=A\n");
}

TEST_F(HttpServer, ReplyWithBodyAndNoContentTypeIsHtmlUtf8)
{
    std::string type, text;
    int status = 200;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetStatusCode(status);
        res.SetContentType(type);
        res.SetContent(text);
    };
    Start();

    text = "Not Found", status = 404;
    auto c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 404);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(c.Reply.Body, "Not Found");

    type = "application/json; charset=UTF-8", text = "{}", status = 200;
    c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "application/json; charset=UTF-8");

    // No body, no content type: none is invented.
    type = "", text = "";
    c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_FALSE(c.Reply.Header("Content-Type"));
    EXPECT_EQ(c.Reply.HeaderOr("Content-Length"), "0");
}

TEST_F(HttpServer, TextIsSentInTheCharsetItsContentTypeNames)
{
    std::string type;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContentType(type);
        res.SetContent("caf\xC3\xA9");
    };
    Start();
    type = "text/plain; charset=ISO-8859-1";
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "caf\xE9");
    type = "text/plain; charset=utf-8";
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "caf\xC3\xA9");
    type = "text/plain; charset=no-such-charset";
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "caf\xC3\xA9");
}

TEST_F(HttpServer, NoBodyFor204And304AndHead)
{
    int status = 200;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContent("hello");
        res.SetStatusCode(status);
    };
    Start();
    TRawClient c("127.0.0.1", Port);
    for (int s : {204, 304}) {
        {
            std::lock_guard lock(HandlerLock);
            status = s;
        }
        ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = c.ReadReply(5s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Status, s);
        EXPECT_FALSE(r->Header("Content-Length"));
    }
    {
        std::lock_guard lock(HandlerLock);
        status = 200;
    }
    ASSERT_TRUE(c.Send("HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto r = c.ReadReply(5s, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->HeaderOr("Content-Length"), "5");
    // The next reply on the connection starts right after: nothing of the HEAD body was sent.
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    r = c.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "hello");
    EXPECT_EQ(c.Pending(), "");
}

TEST_F(HttpServer, ErrorPageShowsMessageAndPathEscaped)
{
    std::string type;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContentType(type);
        res.SetContent("half-written");
        throw Exception("bad <input> & \"quotes\"");
    };
    Start();
    auto c = CurlSync({Url("/x%3Cscript%3E")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    const std::string& page = c.Reply.Body;
    EXPECT_NE(page.find("<title>Error 500: Internal Server Error</title>"), std::string::npos) << page;
    EXPECT_NE(page.find("Internal Server Error"), std::string::npos);
    EXPECT_NE(page.find("bad &lt;input&gt; &amp; &quot;quotes&quot;"), std::string::npos) << page;
    EXPECT_NE(page.find("/x&lt;script&gt;"), std::string::npos) << page;
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("half-written"), std::string::npos);

    type = "text/plain"; // a content type set before the error stays
    c = CurlSync({Url("/")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/plain");
}

TEST_F(HttpServer, ErrorPageForThrownObjectsOutsideTheExceptionFamily)
{
    int kind = 0;
    Handler = [&](TWebRequest&, TWebResponse&) {
        if (kind == 0)
            throw std::runtime_error("plain std error");
        throw 42;
    };
    Start();
    auto c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_NE(c.Reply.Body.find("plain std error"), std::string::npos);
    kind = 1;
    c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_NE(c.Reply.Body.find("Error 500: Internal Server Error"), std::string::npos);
}

TEST_F(HttpServer, StreamReplySentOnceThenAnErrorChangesNothing)
{
    char name[] = "/tmp/mirovandel-http-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    std::string bytes;
    for (int i = 0; i < 300000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    bool fail = true;
    bool memory = false;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        std::unique_ptr<TStream> s;
        if (memory)
            s = std::make_unique<TStringStream>(bytes);
        else
            s = std::make_unique<TFileStream>(name);
        s->SetPosition(s->Size()); // sent from its start all the same
        res.SetFreeContentStream(false);
        res.SetContentLength(s->Size());
        res.SetContentStream(s.get());
        res.SetCustomHeader("Content-Disposition", "inline; filename=\"p.png\"");
        res.SetContentType("image/png");
        res.SendResponse();
        EXPECT_TRUE(res.Sent());
        s.reset(); // freed right after sending, as file replies do
        res.SetStatusCode(418);
        if (fail)
            throw Exception("after the file");
    };
    Start();
    TRawClient c("127.0.0.1", Port);
    for (int round = 0; round < 3; ++round) {
        {
            std::lock_guard lock(HandlerLock);
            memory = round == 2;
            fail = round != 1;
        }
        ASSERT_TRUE(c.Send("GET /p.png HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = c.ReadReply(10s);
        ASSERT_TRUE(r) << round;
        EXPECT_EQ(r->Status, 200);
        EXPECT_EQ(r->HeaderOr("Content-Type"), "image/png");
        EXPECT_EQ(r->HeaderOr("Content-Disposition"), "inline; filename=\"p.png\"");
        EXPECT_EQ(r->HeaderOr("Content-Length"), std::to_string(bytes.size()));
        EXPECT_TRUE(r->Body == bytes) << round;
    }
    // Nothing followed the files: no error page anywhere on the connection.
    EXPECT_FALSE(c.ReadReply(300ms));
    EXPECT_EQ(c.Pending(), "");
    // The last handler is done with this test's locals (their stack is reused next): it let go
    // of the handler lock, in an order thread checkers see.
    Sync();
    std::remove(name);
}

TEST_F(HttpServer, KeepAliveServesSeveralRequestsOnOneConnection)
{
    int n = 0;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        std::string text = "r";
        text += std::to_string(++n);
        res.SetContent(text);
    };
    Start();
    auto c = CurlSync({"-w", "%{num_connects}\n", "-o", "/dev/null", Url("/a"), "-o", "/dev/null", Url("/b"), "-o",
                       "/dev/null", Url("/c")},
                      false);
    ASSERT_EQ(c.ExitCode, 0);
    EXPECT_EQ(c.Output, "1\n0\n0\n");

    TRawClient raw("127.0.0.1", Port);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(raw.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = raw.ReadReply(5s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->HeaderOr("Connection", "keep-alive"), "keep-alive");
    }
    // HTTP/1.0 without keep-alive, and "Connection: close", end the connection after the reply.
    ASSERT_TRUE(raw.Send("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    ASSERT_TRUE(raw.ReadReply(5s));
    EXPECT_TRUE(raw.WaitClosed(5s));
    TRawClient old("127.0.0.1", Port);
    ASSERT_TRUE(old.Send("GET / HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(old.ReadReply(5s));
    EXPECT_TRUE(old.WaitClosed(5s));
}

TEST_F(HttpServer, KeepAliveOffClosesAfterEveryReply)
{
    Server->SetKeepAlive(false);
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("x"); };
    Start();
    TRawClient raw("127.0.0.1", Port);
    ASSERT_TRUE(raw.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto r = raw.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->HeaderOr("Connection"), "close");
    EXPECT_TRUE(raw.WaitClosed(5s));
}

// One client pipelines tens of thousands of requests: each is answered, in order, and the loop
// they share serves another connection meanwhile (one I/O thread holds both).
TEST_F(HttpServer, ConcurrentPipelinedRequestsAreAnsweredInOrderWhileOthersAreServed)
{
    HandlerUnlocked = true;
    constexpr int KRequests = 30000;
    constexpr int KOtherAt = 1000;
    std::atomic<int> handled{0};
    std::atomic<int> handledAtOther{-1};
    std::atomic<int> otherFd{-1};
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/other") {
            handledAtOther = handled.load();
            res.SetContent("other");
            return;
        }
        if (++handled == KOtherAt) {
            // The other connection's request arrives while the pipeline is still being answered.
            static const char request[] = "GET /other HTTP/1.1\r\nHost: x\r\n\r\n";
            [[maybe_unused]] ssize_t n = ::send(otherFd.load(), request, sizeof request - 1, MSG_NOSIGNAL);
        }
        res.SetContent(r.PathInfo());
    };
    Server->SetIOThreads(1);
    Start();
    TRawClient other("127.0.0.1", Port);
    TRawClient pipelining("127.0.0.1", Port);
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 2; }, 5s));
    otherFd = other.Fd();
    const std::string stream = PipelinedRequests("/p/", KRequests);
    std::atomic<bool> sent{false};
    std::thread writer([&] { sent = pipelining.Send(stream); });
    int wrong = -1;
    const int got = ReadPipelinedReplies(pipelining, KRequests, [&](int i, const THttpReply& reply) {
        if (reply.Status == 200 && reply.Body == "/p/" + std::to_string(i))
            return true;
        wrong = i;
        return false;
    });
    writer.join();
    EXPECT_TRUE(sent.load());
    EXPECT_EQ(got, KRequests) << "reply " << wrong << " out of order or missing";
    auto answer = other.ReadReply(5s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Body, "other");
    EXPECT_GE(handledAtOther.load(), KOtherAt);
    EXPECT_LT(handledAtOther.load(), KOtherAt + 1000) << "the other connection waited for the pipeline";
    // The connection goes on as usual afterwards.
    EXPECT_EQ(Ask(pipelining), "/");
}

// Requests refused before their chain (an authorization scheme nobody takes, 32 requests already
// in work) go the same way when pipelined by the tens of thousands.
TEST_F(HttpServer, PipelinedRefusalsAreAnsweredInOrder)
{
    HandlerUnlocked = true;
    constexpr int KRequests = 40000;
    TGate gate(std::chrono::seconds(180));
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/block")
            gate.Wait();
        res.SetContent("done");
    };
    Server->SetIOThreads(2);
    Start();
    auto expectStatus = [](int AStatus) {
        return [AStatus](int, const THttpReply& AReply) { return AReply.Status == AStatus; };
    };
    {
        TRawClient c("127.0.0.1", Port);
        std::thread writer([&] { c.Send(PipelinedRequests("/", KRequests, "Authorization: Bearer abc\r\n")); });
        EXPECT_EQ(ReadPipelinedReplies(c, KRequests, expectStatus(401)), KRequests);
        writer.join();
        EXPECT_EQ(Ask(c), "done");
    }
    std::vector<std::unique_ptr<TRawClient>> blocked;
    for (int i = 0; i < 32; ++i) {
        blocked.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(blocked.back()->Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    ASSERT_TRUE(gate.WaitForWaiting(32));
    {
        TRawClient c("127.0.0.1", Port);
        std::thread writer([&] { c.Send(PipelinedRequests("/", KRequests)); });
        EXPECT_EQ(ReadPipelinedReplies(c, KRequests, expectStatus(500)), KRequests);
        writer.join();
    }
    gate.Open();
    for (auto& b : blocked) {
        auto r = b->ReadReply(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Body, "done");
    }
}

TEST_F(HttpServer, DefaultBindingsServeIPv4AndIPv6)
{
    std::string addr;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        addr = r.RemoteAddr();
        res.SetContent("hi");
    };
    Server->SetDefaultPort(Port);
    Server->SetActive(true);
    ASSERT_TRUE(Server->Active());
    EXPECT_EQ(Server->Bindings()[0].IP, "0.0.0.0");
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "hi");
    EXPECT_EQ(addr, "127.0.0.1");
    if (!HaveIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_EQ(Server->Bindings().Count(), 2);
    EXPECT_EQ(Server->Bindings()[1].IP, "::");
    auto c = CurlSync({"http://[::1]:" + std::to_string(Port) + "/"});
    EXPECT_EQ(c.Reply.Body, "hi");
    EXPECT_EQ(addr, "::1");
}

TEST_F(HttpServer, ExplicitBindingListensThereOnly)
{
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("hi"); };
    Start();
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "hi");
    if (HaveIPv6Loopback()) {
        EXPECT_EQ(CurlSync({"http://[::1]:" + std::to_string(Port) + "/"}).ExitCode, 7); // could not connect
    }
}

TEST_F(HttpServer, IPv6Binding)
{
    if (!HaveIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback here";
    std::string addr;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        addr = r.RemoteAddr();
        res.SetContent("six");
    };
    StartOn("::1");
    auto c = CurlSync({"http://[::1]:" + std::to_string(Port) + "/"});
    EXPECT_EQ(c.Reply.Body, "six");
    EXPECT_EQ(addr, "::1");
}

TEST_F(HttpServer, BindFailureLeavesTheServerInactive)
{
    THTTPWebBrokerBridge other;
    TSocketHandle& b = other.Bindings().Add();
    b.IP = "127.0.0.1";
    b.Port = Port;
    other.SetActive(true);

    TSocketHandle& mine = Server->Bindings().Add();
    mine.IP = "127.0.0.1";
    mine.Port = Port;
    try {
        Server->SetActive(true);
        FAIL() << "bound a port in use";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("127.0.0.1:" + std::to_string(Port)), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(Server->Active());

    Server->Bindings().Clear();
    TSocketHandle& bad = Server->Bindings().Add();
    bad.IP = "not-an-address";
    bad.Port = Port;
    EXPECT_THROW(Server->SetActive(true), Exception);
    EXPECT_FALSE(Server->Active());
    bad.IP = "127.0.0.1";
    bad.Port = 70000;
    EXPECT_THROW(Server->SetActive(true), Exception);
    EXPECT_FALSE(Server->Active());
}

TEST_F(HttpServer, The33rdRequestInWorkIsRefused)
{
    HandlerUnlocked = true;
    TGate gate;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/block")
            gate.Wait();
        res.SetContent("done");
    };
    Start();
    ASSERT_EQ(WebRequestHandler().MaxConnections(), 32);
    std::vector<std::unique_ptr<TRawClient>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(clients.back()->Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    ASSERT_TRUE(gate.WaitForWaiting(32));
    auto c = CurlSync({Url("/other")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.Body, "Maximum number of concurrent connections exceeded.  Please try again later");
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    gate.Open();
    for (auto& client : clients) {
        auto r = client->ReadReply(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Status, 200);
        EXPECT_EQ(r->Body, "done");
    }
    EXPECT_EQ(CurlSync({Url("/other")}).Reply.Body, "done");
    EXPECT_LE(WebRequestHandler().InactiveCount(), 32);
}

TEST_F(HttpServer, ModulesArePooledAndReused)
{
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("x"); };
    Start();
    int before = ModulesMade.load();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(CurlSync({Url()}).Reply.Status, 200);
    EXPECT_EQ(ModulesMade.load() - before, 1);
}

TEST_F(HttpServer, OversizedHeaderIsRefusedAndOthersAreStillServed)
{
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    TRawClient c("127.0.0.1", Port);
    ASSERT_TRUE(
        c.Send("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(limits::KMaxHeaderBytes, 'a') + "\r\n\r\n"));
    auto r = c.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Status, 431);
    EXPECT_TRUE(c.WaitClosed(5s));
    // Just under the limit passes.
    auto ok = CurlSync({"-H", "X-Big: " + std::string(limits::KMaxHeaderBytes - 200, 'a'), Url()});
    EXPECT_EQ(ok.Reply.Body, "fine");
}

TEST_F(HttpServer, OversizedBodyIsRefused)
{
    size_t got = 0;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        got = r.RawContent().size();
        res.SetContent("fine");
    };
    Start();
    // Announced too large: refused before the body is read.
    TRawClient c("127.0.0.1", Port);
    ASSERT_TRUE(c.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(limits::KMaxBodyBytes + 1) +
                       "\r\n\r\nabc"));
    auto r = c.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Status, 413);
    EXPECT_TRUE(c.WaitClosed(10s));

    // Chunked, growing past the limit while it is read.
    TRawClient chunked("127.0.0.1", Port);
    ASSERT_TRUE(chunked.Send("POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"));
    std::string chunk(1024 * 1024, 'z');
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    for (size_t sent = 0; sent <= limits::KMaxBodyBytes; sent += chunk.size())
        if (!chunked.Send(size + chunk + "\r\n"))
            break;
    r = chunked.ReadReply(10s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Status, 413);

    // curl's large upload (Expect: 100-continue) within the limit is served.
    std::string body(2 * 1024 * 1024, 'q');
    char name[] = "/tmp/mirovandel-body-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
    ::close(fd);
    auto c2 = CurlSync({"--data-binary", std::string("@") + name, Url()});
    std::remove(name);
    EXPECT_EQ(c2.Reply.Body, "fine");
    EXPECT_EQ(got, body.size());
}

TEST_F(HttpServer, MalformedRequestsGet400)
{
    bool ran = false;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        ran = true;
        res.SetContent("fine");
    };
    Start();
    for (std::string garbage : {std::string("HELLO\r\n\r\n"), std::string("GET / HTTP/9.9\r\n\r\n"),
                                std::string("GET / HTTP/1.1\r\nNo colon here\r\n\r\n"),
                                std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + "\r\n\r\n",
                                std::string("POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n")}) {
        TRawClient c("127.0.0.1", Port);
        ASSERT_TRUE(c.Send(garbage));
        auto r = c.ReadReply(5s);
        ASSERT_TRUE(r) << garbage;
        EXPECT_EQ(r->Status, 400) << garbage;
        EXPECT_TRUE(c.WaitClosed(5s));
    }
    EXPECT_FALSE(ran);
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "fine");
}

TEST_F(HttpServer, SilentAndSlowClientsAreTimedOut)
{
    Server->SetIdleTimeout(1s);
    Server->SetRequestTimeout(1500ms);
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    TRawClient silent("127.0.0.1", Port);
    TRawClient half("127.0.0.1", Port);
    ASSERT_TRUE(half.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
    // Others are served meanwhile.
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "fine");
    auto r = half.ReadReply(10s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Status, 408);
    EXPECT_TRUE(half.WaitClosed(5s));
    EXPECT_TRUE(silent.WaitClosed(5s));
    EXPECT_EQ(silent.Pending(), "");
    EXPECT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, 5s));
}

TEST_F(HttpServer, AtTheCapTheConnectionIdleLongestMakesRoom)
{
    Server->SetMaxConnections(3);
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    // Idle since: a (accepted, silent) before b (between two requests) before c (silent).
    // Each waits idle on the server before the next one comes.
    TRawClient a("127.0.0.1", Port);
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 1; }, 5s));
    TRawClient b("127.0.0.1", Port);
    ASSERT_EQ(Ask(b), "fine");
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 2; }, 5s));
    TRawClient c("127.0.0.1", Port);
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 3; }, 5s));

    TRawClient d("127.0.0.1", Port);
    EXPECT_EQ(Ask(d), "fine");
    EXPECT_TRUE(a.WaitClosed(5s));
    EXPECT_EQ(a.Pending(), ""); // closed without a word, as an idle connection times out
    TRawClient e("127.0.0.1", Port);
    EXPECT_EQ(Ask(e), "fine");
    EXPECT_TRUE(b.WaitClosed(5s));
    // c, idle for the shortest time, is still served.
    EXPECT_EQ(Ask(c), "fine");
}

// The same with thousands open on several I/O threads: each newcomer closes the one idle
// longest of them all, passing over those in the middle of a request and those that came back.
TEST_F(HttpServer, AtACapOfThousandsEachNewcomerClosesTheOneIdleLongest)
{
    constexpr int KCap = 2000;
    Server->SetMaxConnections(KCap);
    Server->SetIOThreads(4);
    Server->SetListenQueue(KCap);
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    ASSERT_EQ(Server->ConnectionCap(), KCap);
    std::vector<std::unique_ptr<TRawClient>> open;
    for (int i = 0; i < KCap; ++i)
        open.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == KCap; }, 10s)) << Server->IdleConnectionCount();
    // The ten accepted first begin a request; the next ten come back for one.
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(open[i]->Send("GET / HTTP/1.1\r\nHo"));
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == KCap - 10; }, 5s));
    for (int i = 10; i < 20; ++i)
        ASSERT_EQ(Ask(*open[i]), "fine");
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == KCap - 10; }, 5s));

    std::vector<std::unique_ptr<TRawClient>> newcomers;
    for (int k = 0; k < 30; ++k) {
        newcomers.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(open[20 + k]->WaitClosed(5s)) << k;
    }
    EXPECT_EQ(Ask(*newcomers.back()), "fine");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Ask(*open[i], "st: x\r\n\r\n"), "fine") << i;
    for (int i = 10; i < 20; ++i)
        EXPECT_EQ(Ask(*open[i]), "fine") << i;
    EXPECT_EQ(Ask(*open[50]), "fine");
    EXPECT_EQ(Server->ConnectionCount(), KCap);
}

TEST_F(HttpServer, AtTheCapWithNoConnectionIdleTheNewcomerGets503)
{
    Server->SetMaxConnections(2);
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    // Both in the middle of a request: neither is idle. Both wait idle first (silent since
    // accepted), so no longer idle means their request has begun on the server.
    TRawClient a("127.0.0.1", Port), b("127.0.0.1", Port);
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 2; }, 5s));
    ASSERT_TRUE(a.Send("GET / HTTP/1.1\r\nHo"));
    ASSERT_TRUE(b.Send("GET / HTTP/1.1\r\nHo"));
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 0; }, 5s));
    TRawClient third("127.0.0.1", Port);
    auto r = third.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Status, 503);
    EXPECT_EQ(r->Body, "Too many open connections.");
    EXPECT_TRUE(third.WaitClosed(5s));
    // The two go on.
    EXPECT_EQ(Ask(a, "st: x\r\n\r\n"), "fine");
    a.Close();
    b.Close();
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, 5s));
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "fine");
}

TEST_F(HttpServer, FloodOfSilentConnectionsAtTheCapAddsNoThreadsAndClientsAreServed)
{
    Server->SetMaxConnections(50);
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    const int threads = ThreadCount();
    std::vector<std::unique_ptr<TRawClient>> flood;
    for (size_t i = 0; i < 300; ++i) {
        flood.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        // Each one past the cap closes the oldest (and the flood waits for it, since the
        // listen queue holds only 15).
        if (i < 50)
            ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == static_cast<int>(i) + 1; }, 5s)) << i;
        else
            ASSERT_TRUE(flood[i - 50]->WaitClosed(5s)) << i;
    }
    EXPECT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 50; }, 5s)) << Server->ConnectionCount();
    EXPECT_EQ(ThreadCount(), threads); // no thread per connection
    // A client is served, and the newest of the flood are still open.
    for (int i = 0; i < 5; ++i) {
        auto r = RawExchangeSync(Port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(r) << i;
        EXPECT_EQ(r->Status, 200);
    }
    bool eof = false;
    EXPECT_FALSE(flood.back()->ReadSome(100ms, eof));
    EXPECT_FALSE(eof);
}

TEST_F(HttpServer, ConcurrentBlockedHandlersOnEveryIOThreadLeaveTheOthersMoving)
{
    // Handlers block on every I/O thread; the other requests of those I/O threads go through.
    HandlerUnlocked = true;
    TGate gate;
    std::atomic<int> answered{0};
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/block")
            gate.Wait();
        res.SetContent("done");
    };
    Server->SetIOThreads(4);
    Start();
    std::vector<std::unique_ptr<TRawClient>> blocked;
    for (int i = 0; i < 12; ++i) {
        blocked.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(blocked.back()->Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    ASSERT_TRUE(gate.WaitForWaiting(12));
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t)
        clients.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                auto r = RawExchange(Port, "GET /other HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 5s);
                if (r && r->Body == "done")
                    ++answered;
            }
        });
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(answered.load(), 100);
    gate.Open();
    for (auto& b : blocked) {
        auto r = b->ReadReply(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Body, "done");
    }
    // The threads of the handlers that blocked end once they have answered.
    Server->SetActive(false);
    EXPECT_EQ(Server->ConnectionCount(), 0);
}

TEST_F(HttpServer, StopClosesConnectionsAndEndsTheServersThreads)
{
    HandlerUnlocked = true;
    TGate gate;
    std::atomic<bool> inHandler{false};
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/block") {
            inHandler = true;
            gate.Wait();
        }
        res.SetContent("fine");
    };
    int idle = IdleThreadCount();
    Start();
    const int running = ThreadCount();
    std::vector<std::unique_ptr<TRawClient>> kept;
    for (int i = 0; i < 5; ++i) {
        kept.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(kept.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        ASSERT_TRUE(kept.back()->ReadReply(5s));
    }
    TRawClient busy("127.0.0.1", Port);
    ASSERT_TRUE(busy.Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(WaitFor([&] { return inHandler.load(); }, 5s));
    // Half a request: its thread waits for the rest.
    TRawClient partial("127.0.0.1", Port);
    ASSERT_TRUE(partial.Send("GET / HTTP/1.1\r\nHo"));
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 7; }, 5s));
    // No thread per connection: only the blocked handler kept its thread, and another took
    // over its I/O thread's connections.
    EXPECT_GT(running, idle);
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == running + 1; }, 5s)) << ThreadCount() << " for " << running;

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        Server->SetActive(false);
        stopped = true;
    });
    // The stop closes the others at once; the request in work delays it.
    for (auto& k : kept)
        EXPECT_TRUE(k->WaitClosed(5s));
    EXPECT_TRUE(partial.WaitClosed(5s));
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 1; }, 5s)) << Server->ConnectionCount();
    EXPECT_FALSE(stopped.load());
    gate.Open();
    // Well before the idle and request timeouts (30 s) of the others.
    EXPECT_TRUE(WaitFor([&] { return stopped.load(); }, 10s));
    stopper.join();
    EXPECT_FALSE(Server->Active());
    EXPECT_EQ(Server->ConnectionCount(), 0);
    EXPECT_EQ(ThreadCount(), idle);
    // The request in work still got its reply; the half request got none.
    auto r = busy.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "fine");
    EXPECT_EQ(partial.Pending(), "");
    EXPECT_EQ(CurlSync({Url()}).ExitCode, 7);

    // And it starts again on the same object.
    Server->SetActive(true);
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "fine");
}

TEST_F(HttpServer, StopDoesNotWaitForAClientThatStoppedReading)
{
    HandlerUnlocked = true;
    std::atomic<int> replies{0};
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContent(std::string(64 * 1024 * 1024, 'x'));
        ++replies;
    };
    int idle = IdleThreadCount();
    Start();
    TRawClient stalled("127.0.0.1", Port);
    ASSERT_TRUE(stalled.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(WaitFor([&] { return replies.load() == 1; }, 5s));
    // The reply now waits for the client to take more.
    ASSERT_TRUE(WaitFor([&] { return Server->WritingConnectionCount() == 1; }, 5s));
    // Well before the write stall limit (30 s).
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        Server->SetActive(false);
        stopped = true;
    });
    EXPECT_TRUE(WaitFor([&] { return stopped.load(); }, 10s));
    stopper.join();
    EXPECT_EQ(Server->ConnectionCount(), 0);
    EXPECT_EQ(Server->WritingConnectionCount(), 0);
    EXPECT_EQ(ThreadCount(), idle);
}

TEST_F(HttpServer, StopListeningKeepsOpenConnections)
{
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("fine"); };
    Start();
    TRawClient c("127.0.0.1", Port);
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(c.ReadReply(5s));
    Server->StopListening();
    EXPECT_EQ(CurlSync({Url()}).ExitCode, 7);
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto r = c.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "fine");
    Server->StartListening();
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "fine");
}

TEST_F(HttpServer, AuthorizationSchemes)
{
    std::string user;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        user = static_cast<THTTPAppRequest&>(r).AuthUserName();
        res.SetContent("in");
    };
    Start();
    // Without an authentication handler: Basic is decoded, other schemes are refused.
    auto c = CurlSync({"-u", "ana:secret", Url()});
    EXPECT_EQ(c.Reply.Body, "in");
    EXPECT_EQ(user, "ana");
    c = CurlSync({"-H", "Authorization: Bearer abc", Url()});
    EXPECT_EQ(c.Reply.Status, 401);

    // A handler that takes every header: any scheme passes, nothing is decoded. (Events are
    // set while the server is stopped: its threads read them without a lock.)
    Server->SetActive(false);
    Server->OnParseAuthentication = [](const std::string&, const std::string&, std::string&, std::string&,
                                       bool& AHandled) { AHandled = true; };
    Server->SetActive(true);
    c = CurlSync({"-H", "Authorization: Bearer abc", Url()});
    EXPECT_EQ(c.Reply.Body, "in");
    c = CurlSync({"-u", "ana:secret", Url()});
    EXPECT_EQ(c.Reply.Body, "in");
    EXPECT_EQ(user, "");
}

TEST_F(HttpServer, CustomHeadersCannotSplitTheReply)
{
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetCustomHeader("X-Note", "a\r\nSet-Cookie: evil=1");
        res.SetCustomHeader("Content-Length", "999");
        res.SetContent("body");
    };
    Start();
    auto c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_FALSE(c.Reply.Header("Set-Cookie"));
    EXPECT_EQ(c.Reply.HeaderOr("Content-Length"), "4");
    EXPECT_EQ(c.Reply.Body, "body");
}

TEST_F(HttpServer, TLSHandlerAskedPerConnection)
{
    bool useTLS = false;
    std::atomic<int> asked{0};
    Server->SetTLSIOHandler(true);
    Server->OnQuerySSLPort = [&](uint16_t, bool& VUseSSL) {
        std::lock_guard lock(HandlerLock);
        ++asked;
        VUseSSL = useTLS;
    };
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("plain"); };
    Start();
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "plain");
    EXPECT_EQ(asked, 1);
    {
        std::lock_guard lock(HandlerLock);
        useTLS = true; // no TLS in this build: such a connection is closed
    }
    EXPECT_NE(CurlSync({Url()}).ExitCode, 0);
}
