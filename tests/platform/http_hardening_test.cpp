// The HTTP server against clients that would cut its replies, smuggle a request past it, or
// hold its memory and its connection cap: over real loopback sockets.
#include <cerrno>
#include <fstream>

#include <sys/socket.h>
#include <unistd.h>

#include "platform/base/stream.hpp"
#include "http_server_fixture.hpp"

using namespace http_server_test;

namespace {

constexpr size_t KBigReply = 32 * 1024 * 1024; // more than the loopback's socket buffers hold

std::atomic<int> RoutesRun{0};

// "/file": AFile; "/text": 3 MB of text; "/big": KBigReply of text; else "fine".
void AnswerBy(const std::string& AFile)
{
    static const std::string big(KBigReply, 'b');
    HandlerUnlocked = true; // the tests share only atomics with it
    Handler = [AFile](TWebRequest& ARequest, TWebResponse& AResponse) {
        ++RoutesRun;
        if (ARequest.PathInfo() == "/file") {
            AResponse.SetContentType("application/octet-stream");
            AResponse.SetContentStream(new TFileStream(AFile));
        } else if (ARequest.PathInfo() == "/text") {
            AResponse.SetContentType("text/plain; charset=utf-8");
            AResponse.SetContent(std::string(3 * 1000 * 1000, 't'));
        } else if (ARequest.PathInfo() == "/big") {
            AResponse.SetContentType("text/plain; charset=utf-8");
            AResponse.SetContent(big);
        } else {
            AResponse.SetContent("fine");
        }
    };
}

class HttpServerHardening : public HttpServer {
protected:
    void SetUp() override
    {
        HttpServer::SetUp();
        RoutesRun = 0;
        AnswerBy("");
    }
    // A server of its own, on a port of its own, not started.
    void NewServer()
    {
        Server.reset();
        Port = FreePort();
        Server = std::make_unique<THTTPWebBrokerBridge>();
        Server->SetKeepAlive(true);
    }
};

// What a client read until the server ended the connection.
struct TReceived {
    std::string Bytes;
    bool Reset = false; // ended by a reset, not by an orderly close
    bool TimedOut = false;
};

// Reads until the connection ends, APause between reads of at most APiece bytes.
TReceived ReadToEnd(int AFd, std::chrono::milliseconds ATimeout = 20s, size_t APiece = 1 << 16,
                    std::chrono::milliseconds APause = 0ms)
{
    TReceived got;
    std::string buffer(APiece, '\0');
    const auto until = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{AFd, POLLIN, 0};
        if (left <= 0ms || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            got.TimedOut = true;
            return got;
        }
        const ssize_t n = ::recv(AFd, buffer.data(), buffer.size(), 0);
        if (n == 0)
            return got;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            got.Reset = errno == ECONNRESET;
            return got;
        }
        got.Bytes.append(buffer.data(), static_cast<size_t>(n));
        if (APause > 0ms)
            std::this_thread::sleep_for(APause); // a slow reader is the point
    }
}

// Whether AText is one whole reply (head and all of the body its Content-Length names).
::testing::AssertionResult WholeReply(const std::string& AText, size_t ABodySize)
{
    THttpReply reply;
    const size_t bodyAt = ParseReplyHead(AText, 0, reply);
    if (bodyAt == std::string::npos)
        return ::testing::AssertionFailure() << "no reply head in " << AText.size() << " bytes";
    if (reply.Status != 200 || reply.HeaderOr("Content-Length", "") != std::to_string(ABodySize))
        return ::testing::AssertionFailure() << "status " << reply.Status;
    if (AText.size() != bodyAt + ABodySize)
        return ::testing::AssertionFailure() << "body of " << AText.size() - bodyAt << " bytes, not " << ABodySize;
    return ::testing::AssertionSuccess();
}

size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool KSanitized = true; // their shadow memory and quarantine blur the resident size
#else
constexpr bool KSanitized = false;
#endif

const std::string KPipelined = "GET / HTTP/1.1\r\nHost: x\r\n\r\n" + std::string(256 * 1024, 'p');

} // namespace

TEST_F(HttpServerHardening, ClosingAfterAReplyNeverCutsItWithAReset)
{
    constexpr size_t KFileSize = 20 * 1000 * 1000;
    char name[] = "/tmp/mirovandel-reply-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    {
        const std::string piece(1 << 20, 'f');
        for (size_t at = 0; at < KFileSize; at += piece.size())
            ASSERT_EQ(::write(fd, piece.data(), std::min(piece.size(), KFileSize - at)),
                      static_cast<ssize_t>(std::min(piece.size(), KFileSize - at)));
        ::close(fd);
    }
    AnswerBy(name);
    Start();
    struct TCase {
        const char* Path;
        size_t Size;
        bool SameWrite; // the unread bytes come with the request, or once the reply has begun
    };
    for (const TCase& c : {TCase{"/file", KFileSize, true}, TCase{"/file", KFileSize, false},
                           TCase{"/text", 3 * 1000 * 1000, true}, TCase{"/text", 3 * 1000 * 1000, false}}) {
        for (int run = 0; run < 5; ++run) {
            SCOPED_TRACE(std::string(c.Path) + (c.SameWrite ? " same write" : " after") + " run " +
                         std::to_string(run));
            TRawClient client("127.0.0.1", Port);
            const std::string request = std::string("GET ") + c.Path +
                                        " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
            if (c.SameWrite) {
                ASSERT_TRUE(client.Send(request + KPipelined));
            } else {
                ASSERT_TRUE(client.Send(request));
                pollfd p{client.Fd(), POLLIN, 0};
                ASSERT_EQ(::poll(&p, 1, 10000), 1);
                ASSERT_TRUE(client.Send(KPipelined));
            }
            const TReceived got = ReadToEnd(client.Fd());
            EXPECT_FALSE(got.Reset);
            EXPECT_FALSE(got.TimedOut);
            EXPECT_TRUE(WholeReply(got.Bytes, c.Size));
        }
    }
    std::remove(name);
    EXPECT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, 10s));
}

TEST_F(HttpServerHardening, FramingThatCouldBeReadTwoWaysIsRefused)
{
    Start();
    struct TCase {
        const char* Name;
        std::string Request;
        int Status;
    };
    const std::string post = "POST / HTTP/1.1\r\nHost: x\r\n";
    const std::string chunkedBody = "5\r\nhello\r\n0\r\n\r\n";
    const std::string smuggled = "GET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n";
    const TCase cases[] = {
        {"gzip alone", post + "Transfer-Encoding: gzip\r\n\r\n" + smuggled, 400},
        {"chunked, gzip", post + "Transfer-Encoding: chunked, gzip\r\n\r\n" + chunkedBody + smuggled, 400},
        {"gzip, chunked", post + "Transfer-Encoding: gzip, chunked\r\n\r\n" + chunkedBody + smuggled, 501},
        {"gzip then chunked on two lines",
         post + "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody, 501},
        {"chunked twice", post + "Transfer-Encoding: chunked, chunked\r\n\r\n" + chunkedBody, 400},
        {"xchunked with length", post + "Transfer-Encoding: xchunked\r\nContent-Length: 36\r\n\r\n" + smuggled, 400},
        {"identity with length", post + "Transfer-Encoding: identity\r\nContent-Length: 36\r\n\r\n" + smuggled, 400},
        {"in HTTP/1.0", "POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody + smuggled, 400},
        {"with Content-Length", post + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n" + chunkedBody, 400},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRawClient client("127.0.0.1", Port);
        ASSERT_TRUE(client.Send(c.Request));
        auto reply = client.ReadReply(5s);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Status, c.Status);
        EXPECT_EQ(AsciiLowerCopy(reply->HeaderOr("Connection", "")), "close");
        EXPECT_TRUE(client.WaitClosed(5s));
        EXPECT_EQ(client.Pending(), ""); // no second reply
        EXPECT_EQ(RoutesRun.load(), 0);
    }
    // Plain chunked is read as before.
    auto fine = RawExchange(Port, post + "Transfer-Encoding: chunked\r\n\r\n" + chunkedBody);
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->Body, "fine");
    EXPECT_EQ(RoutesRun.load(), 1);
}

TEST_F(HttpServerHardening, OnlyHttp11IsToldToContinue)
{
    Start();
    for (const char* version : {"HTTP/1.0", "HTTP/1.1"}) {
        SCOPED_TRACE(version);
        const bool interim = std::string(version) == "HTTP/1.1";
        TRawClient client("127.0.0.1", Port);
        ASSERT_TRUE(client.Send(std::string("POST / ") + version +
                                "\r\nHost: x\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n"));
        auto first = client.ReadReply(interim ? 5s : 500ms);
        if (interim) {
            ASSERT_TRUE(first);
            EXPECT_EQ(first->Status, 100);
        } else {
            EXPECT_FALSE(first);
            EXPECT_EQ(client.Pending(), "");
        }
        ASSERT_TRUE(client.Send("hello"));
        auto reply = client.ReadReply(5s);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Status, 200);
        EXPECT_EQ(reply->Body, "fine");
    }
}

TEST_F(HttpServerHardening, RequestBodiesInMemoryStayWithinTheBudget)
{
    constexpr size_t KBody = limits::KMaxBodyBytes;
    constexpr size_t KBudget = 8 * KBody;
    constexpr int KClients = 100;
    Server->SetBodyMemoryBudget(KBudget);
    Start();
    const std::string body(KBody - 1, 'm'); // one byte short: never complete
    const size_t before = ResidentBytes();

    std::vector<std::unique_ptr<TRawClient>> clients;
    for (int i = 0; i < KClients; ++i) {
        clients.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
        ASSERT_TRUE(clients.back()->Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(KBody) +
                                         "\r\n\r\n"));
    }
    // Those past the budget are answered at once; the others wait for their bodies.
    std::vector<std::optional<THttpReply>> replies(KClients);
    auto answered = [&] {
        int n = 0;
        for (int i = 0; i < KClients; ++i) {
            if (!replies[i])
                replies[i] = clients[i]->ReadReply(1ms);
            n += replies[i] ? 1 : 0;
        }
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return answered() == KClients - 8; }, 20s)) << answered();
    EXPECT_EQ(Server->BodyMemoryHeld(), KBudget);
    for (int i = 0; i < KClients; ++i) {
        if (replies[i]) {
            EXPECT_EQ(replies[i]->Status, 503) << i;
            EXPECT_EQ(replies[i]->HeaderOr("Retry-After", ""), std::to_string(limits::KBusyRetryAfter.count()));
            EXPECT_EQ(AsciiLowerCopy(replies[i]->HeaderOr("Connection", "")), "close");
        } else {
            ASSERT_TRUE(clients[i]->Send(body)) << i;
        }
    }
    // The bodies held are in memory now (less one byte each).
    ASSERT_TRUE(WaitFor([&] { return ResidentBytes() >= before + KBudget / 2; }, 20s));
    if (!KSanitized) {
        EXPECT_LT(ResidentBytes(), before + KBudget + 64 * 1024 * 1024);
    }
    EXPECT_EQ(RoutesRun.load(), 0);

    clients.clear();
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, 20s));
    EXPECT_EQ(Server->BodyMemoryHeld(), 0u);
    if (!KSanitized) {
        EXPECT_TRUE(WaitFor([&] { return ResidentBytes() < before + KBudget / 4; }, 10s)) << ResidentBytes() - before;
    }
    // What was held is free again for others.
    auto fine = RawExchange(
        Port, "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(KBody) + "\r\n\r\n" + body + "!");
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->Body, "fine");
}

// At the cap, the newcomer is served and the connection that makes least use of its place goes:
// one lingering after its reply (before any idle one), else, with none idle, the oldest
// unfinished request, else the reply waiting longest on its client.
TEST_F(HttpServerHardening, AtTheCapTheConnectionLeastInUseMakesRoom)
{
    enum class TKind { Idle, Partial, Reader, Lingering };
    struct TCase {
        const char* Name;
        std::vector<TKind> Fill; // in the order they come
        size_t Closed;           // which of them makes room
    };
    const TCase cases[] = {
        {"partial requests", {TKind::Partial, TKind::Partial}, 0},
        {"slow readers", {TKind::Reader, TKind::Reader}, 0},
        {"lingering first", {TKind::Partial, TKind::Reader, TKind::Lingering}, 2},
        {"a request before a reply", {TKind::Reader, TKind::Partial}, 1},
        {"lingering before idle", {TKind::Idle, TKind::Lingering}, 1},
    };
    constexpr auto KAge = 300ms;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        NewServer();
        Server->SetMaxConnections(static_cast<int>(c.Fill.size()));
        Server->SetEvictBusyAfter(KAge);
        Start();
        std::vector<std::unique_ptr<TRawClient>> open;
        int idle = 0, readers = 0;
        for (TKind kind : c.Fill) {
            open.push_back(std::make_unique<TRawClient>("127.0.0.1", Port));
            TRawClient& client = *open.back();
            const int count = static_cast<int>(open.size());
            ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == count; }, 5s));
            if (kind == TKind::Idle) {
                ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
                auto served = client.ReadReply(5s);
                ASSERT_TRUE(served);
                ++idle;
            } else if (kind == TKind::Partial) {
                ASSERT_TRUE(client.Send("G"));
            } else if (kind == TKind::Reader) {
                ASSERT_TRUE(client.Send("GET /big HTTP/1.1\r\nHost: x\r\n\r\n"));
                ++readers; // its reply waits on it, as it reads no more
                ASSERT_TRUE(WaitFor([&] { return Server->WritingConnectionCount() == readers; }, 10s));
            } else {
                ASSERT_TRUE(client.Send("HELLO\r\n\r\n"));
                auto refused = client.ReadReply(5s);
                ASSERT_TRUE(refused);
                ASSERT_EQ(refused->Status, 400); // and it lingers now
            }
            ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == idle; }, 5s));
        }
        // Requests and replies may make room only once they have had their time.
        std::this_thread::sleep_for(2 * KAge);
        TRawClient newcomer("127.0.0.1", Port);
        ASSERT_TRUE(newcomer.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto reply = newcomer.ReadReply(5s);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Body, "fine");
        const int cap = static_cast<int>(c.Fill.size());
        EXPECT_TRUE(WaitFor([&] { return Server->ConnectionCount() == cap; }, 5s));
        if (c.Fill[c.Closed] != TKind::Lingering) { // (a lingering one has ended its side already)
            EXPECT_TRUE(open[c.Closed]->WaitClosed(10s));
        }
        // The others are still served.
        for (size_t i = 0; i < c.Fill.size(); ++i) {
            if (i == c.Closed)
                continue;
            if (c.Fill[i] == TKind::Idle) {
                EXPECT_EQ(Ask(*open[i]), "fine") << i;
            } else if (c.Fill[i] == TKind::Partial) {
                EXPECT_EQ(Ask(*open[i], "ET / HTTP/1.1\r\nHost: x\r\n\r\n"), "fine") << i;
            }
        }
        EXPECT_EQ(Server->WritingConnectionCount(), readers - (c.Fill[c.Closed] == TKind::Reader ? 1 : 0));
    }
}

TEST_F(HttpServerHardening, AtTheCapABusyConnectionMakesRoomOnlyOnceItHadItsTime)
{
    Server->SetMaxConnections(1);
    Server->SetEvictBusyAfter(1h);
    Start();
    TRawClient partial("127.0.0.1", Port);
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 1; }, 5s));
    ASSERT_TRUE(partial.Send("GET / HTTP/1.1\r\nHo"));
    ASSERT_TRUE(WaitFor([&] { return Server->IdleConnectionCount() == 0; }, 5s));
    auto refused = RawExchange(Port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->Status, 503);
    EXPECT_EQ(refused->Body, "Too many open connections.");
    ASSERT_TRUE(partial.Send("st: x\r\n\r\n"));
    auto reply = partial.ReadReply(5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Body, "fine");
}

TEST_F(HttpServerHardening, AReplyTakenSlowerThanTheLeastRateIsAbandoned)
{
    // Fast enough for any reader that keeps up, far too fast for one that takes a trickle.
    Server->SetMinSendRate(4 * 1024 * 1024, 200ms);
    Start();
    TRawClient fast("127.0.0.1", Port);
    ASSERT_TRUE(fast.Send("GET /big HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const TReceived whole = ReadToEnd(fast.Fd());
    EXPECT_TRUE(WholeReply(whole.Bytes, KBigReply));

    // The trickle keeps making progress, so the stall limit never ends it: the rate does. The
    // server drops the connection; what its socket still holds would take the trickle long.
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, 10s));
    TRawClient slow("127.0.0.1", Port);
    ASSERT_TRUE(slow.Send("GET /big HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::atomic<bool> stop{false};
    size_t taken = 0;
    std::thread trickle([&] {
        char piece[4096];
        while (!stop.load()) {
            pollfd p{slow.Fd(), POLLIN, 0};
            if (::poll(&p, 1, 50) == 1) {
                const ssize_t n = ::recv(slow.Fd(), piece, sizeof piece, 0);
                if (n <= 0)
                    return;
                taken += static_cast<size_t>(n);
            }
            std::this_thread::sleep_for(50ms); // a slow reader is the point
        }
    });
    ASSERT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 1; }, 5s));
    EXPECT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, limits::KWriteStallTimeout / 2));
    stop = true;
    trickle.join();
    EXPECT_LT(taken, KBigReply);
}
