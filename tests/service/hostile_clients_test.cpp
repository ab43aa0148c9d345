// The running program (the window offscreen, its real server on a loopback port) against
// careless and hostile clients, and a database that stops answering. After each attack the
// server still answers, its thread count is back at its idle level and no descriptor is left
// open; the sanitizer build checks the memory.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QPushButton>

#include "framework/relay/relay.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_request_handler.hpp"
#include "running_program.hpp"
#include "service/main/basedados.hpp"

using namespace service_test;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class HostileClients : public RunningProgram {};

} // namespace

TEST_F(HostileClients, FiveThousandIdleConnectionsNeedNoThreadsAndNormalClientsAreServed)
{
    platform::THTTPWebBrokerBridge& server = relay::TRelay::BridgeServer();
    ASSERT_GE(server.ConnectionCap(), 5100) << "descriptor limit too low here";
    std::vector<TRawClient> idle;
    idle.reserve(5000);
    int most = 0;
    for (int i = 0; i < 5000; ++i) {
        idle.emplace_back("127.0.0.1", FPort);
        // The listen queue holds 15: now and then the clients wait for the server to take them.
        if (i % 10 == 9) {
            ASSERT_TRUE(WaitFor([&] { return server.ConnectionCount() >= i + 1; }, 10s)) << i;
        }
        if (i % 500 == 499) {
            EXPECT_TRUE(Answers()) << "after " << i + 1 << " idle connections";
            most = std::max(most, ThreadCount() - FIdleThreads);
        }
    }
    // No thread per connection (a thread whose request lost its I/O thread while preempted may
    // still be ending).
    EXPECT_LE(most, 2) << "threads beyond the idle ones";
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(Answers()) << "request " << i;
    EXPECT_TRUE(WaitFor([&] { return server.ConnectionCount() == 5000; }, 5s)) << server.ConnectionCount();
    idle.clear();
    ExpectBackToIdle();
}

TEST_F(HostileClients, StalledPictureReadersHoldNoThreadsAndStopReturnsPromptly)
{
    // Forty clients ask for the big picture and read nothing past the first bytes: more than the
    // 32 requests that may be in work at once.
    std::vector<std::unique_ptr<TRawClient>> stalled;
    for (int i = 0; i < 40; ++i) {
        stalled.push_back(std::make_unique<TRawClient>("127.0.0.1", FPort));
        ASSERT_TRUE(stalled.back()->Send("GET /api/gtin/" + KBigPicture + " HTTP/1.1\r\nHost: shop\r\n\r\n"));
    }
    for (auto& client : stalled) {
        bool eof = false;
        ASSERT_TRUE(client->ReadSome(10s, eof));
        EXPECT_EQ(client->Pending().rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << client->Pending().substr(0, 80);
    }
    // The rest of each picture waits for its client on the event loop: no request is in work,
    // no thread waits, and others are served.
    EXPECT_TRUE(WaitFor([] { return platform::WebRequestHandler().ActiveCount() == 0; }, 5s));
    EXPECT_TRUE(Answers());
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == FIdleThreads; }, 5s)) << ThreadCount() << " threads";

    // Stop does not wait for them (a reply that makes no progress is abandoned after 30 s).
    const auto before = std::chrono::steady_clock::now();
    FView->btnPower->click();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(FView->btnPower->text().toStdString(), "Start");
    for (auto& client : stalled)
        EXPECT_TRUE(client->WaitClosed(5s));
}

TEST_F(HostileClients, ClientSendingOneByteASecondIsCutOffWhileOthersAreServed)
{
    TRawClient slow("127.0.0.1", FPort);
    const std::string request = "GET /api/fotoexiste/" + KPicture + " HTTP/1.1\r\nHost: shop\r\n\r\n";
    // The request would take longer than the server waits for one (30 s): it is answered 408.
    std::optional<THttpReply> reply;
    auto until = std::chrono::steady_clock::now() + 45s;
    for (size_t i = 0; i < request.size() && std::chrono::steady_clock::now() < until; ++i) {
        if (!slow.Send(request.substr(i, 1)))
            break;
        bool eof = false;
        if (slow.ReadSome(1s, eof) || eof)
            break;
        if (i % 5 == 0) {
            EXPECT_TRUE(Answers()) << "while the slow client is at byte " << i;
        }
    }
    reply = slow.ReadReply(10s);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 408);
    EXPECT_TRUE(slow.WaitClosed(10s));
    slow.Close();
    ExpectBackToIdle();
}

TEST_F(HostileClients, RequestLinesAndHeadersPastTheLimitsAreRefused)
{
    const std::string big(20 * 1024, 'a');
    std::string manyHeaders;
    for (int i = 0; i < 2000; ++i)
        manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
    struct TCase {
        const char* What;
        std::string Request;
        int Status;
    } cases[] = {
        {"long request line", "GET /api/fotoexiste/" + big + " HTTP/1.1\r\nHost: shop\r\n\r\n", 431},
        {"long header", "GET /api/fotoexiste/1 HTTP/1.1\r\nHost: shop\r\nX-Big: " + big + "\r\n\r\n", 431},
        {"many headers", "GET /api/fotoexiste/1 HTTP/1.1\r\nHost: shop\r\n" + manyHeaders + "\r\n", 431},
        {"body past the limit",
         "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
         "Content-Length: 9000000000\r\n\r\n{",
         413},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TRawClient client("127.0.0.1", FPort);
        client.Send(c.Request); // the server may close before it has read everything
        auto reply = client.ReadReply(10s);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->Status, c.Status);
        EXPECT_TRUE(client.WaitClosed(10s));
        EXPECT_TRUE(Answers());
    }
    ExpectBackToIdle();
}

TEST_F(HostileClients, TenThousandMalformedEscapesAndJsonBodies)
{
    const std::vector<std::string> paths = {"/api/gtin/%zz", "/api/desc/12%4",     "/api/fotoexistej/%",
                                            "/api/um/%g0",   "/api/descricao/a%2", "/api/desc_ini/%%41"};
    const std::vector<std::string> bodies = {"{", "[1,", "nul", "\"abc", "{\"ean\":}", "", "{\"a\":1}x", "\xff\xfe"};
    constexpr int KThreads = 8;
    constexpr int KPerThread = 1250;
    std::atomic<int> wrong{0}, answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < KThreads; ++t) {
        threads.emplace_back([&, t] {
            auto deadline = std::chrono::steady_clock::now() + 120s;
            std::unique_ptr<TRawClient> client;
            for (int i = 0; i < KPerThread && std::chrono::steady_clock::now() < deadline; ++i) {
                if (!client)
                    client = std::make_unique<TRawClient>("127.0.0.1", FPort);
                int n = t * KPerThread + i;
                std::string request;
                int expected;
                if (n % 2 == 0) {
                    request = "GET " + paths[static_cast<size_t>(n / 2) % paths.size()] +
                              " HTTP/1.1\r\nHost: shop\r\n\r\n";
                    expected = 500;
                } else {
                    const std::string& body = bodies[static_cast<size_t>(n / 2) % bodies.size()];
                    request =
                        "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                        "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body;
                    expected = 400;
                }
                std::optional<THttpReply> reply;
                if (client->Send(request))
                    reply = client->ReadReply(10s);
                if (!reply || reply->Status != expected)
                    ++wrong;
                else
                    ++answered;
                if (!reply || AsciiLowerCopy(reply->HeaderOr("Connection")) == "close")
                    client.reset();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(answered.load(), KThreads * KPerThread);
    ExpectBackToIdle();
}

TEST_F(HostileClients, ClientLeavingInTheMiddleOfAPictureReply)
{
    for (int i = 0; i < 20; ++i) {
        TRawClient client("127.0.0.1", FPort);
        ASSERT_TRUE(client.Send("GET /api/gtin/" + KBigPicture + " HTTP/1.1\r\nHost: shop\r\n\r\n"));
        bool eof = false;
        ASSERT_TRUE(client.ReadSome(10s, eof)); // the reply has begun
        EXPECT_NE(client.Pending().find("200"), std::string::npos);
        // Gone without reading the rest: reset, so the server's next write fails at once.
        linger hard{1, 0};
        ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        client.Close();
    }
    // A whole picture still comes, byte for byte.
    auto whole = Curl({LoopbackUrl(FPort, "/api/gtin/" + KBigPicture)});
    ASSERT_EQ(whole.Replies.size(), 1u);
    EXPECT_EQ(whole.Replies[0].Status, 200);
    EXPECT_EQ(whole.Replies[0].Body.size(), KBigPictureSize);
    ExpectBackToIdle();
}

namespace {

// A database server that takes connections and never says a word: the client library waits for
// its greeting, so every lookup blocks (as behind a dead link) until its connect timeout (10 s)
// or until Release resets the connections waiting.
class TSilentDatabase {
public:
    TSilentDatabase()
    {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FFd, 128) != 0 ||
            ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("cannot listen");
        FPort = ntohs(a.sin_port);
    }
    ~TSilentDatabase()
    {
        Release();
        ::close(FFd);
    }
    int Port() const { return FPort; }
    // Every connection waiting is reset: its lookup fails at once.
    void Release()
    {
        for (int c; (c = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            linger hard{1, 0};
            ::setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(c);
        }
    }

private:
    int FFd = -1;
    int FPort = 0;
};

class HostileDatabase : public RunningProgram {
protected:
    void BeforeStart() override
    {
        FSilent = std::make_unique<TSilentDatabase>();
        FSavedForm = service::BaseDados;
        FForm = std::make_unique<service::TBaseDados>();
        FForm->SetParam("Port", std::to_string(FSilent->Port()));
        service::BaseDados = FForm.get();
    }
    void TearDown() override
    {
        FSilent->Release(); // before the stop, which waits for the lookups
        RunningProgram::TearDown();
        service::BaseDados = FSavedForm;
        FForm.reset();
    }

    // Starts ACount lookups that block; returns once all are in work.
    std::vector<std::unique_ptr<TRawClient>> BlockLookups(int ACount)
    {
        std::vector<std::unique_ptr<TRawClient>> lookups;
        for (int i = 0; i < ACount; ++i) {
            lookups.push_back(std::make_unique<TRawClient>("127.0.0.1", FPort));
            EXPECT_TRUE(
                lookups.back()->Send("GET /api/descricao/" + std::to_string(i) + " HTTP/1.1\r\nHost: shop\r\n\r\n"));
        }
        EXPECT_TRUE(WaitFor([&] { return platform::WebRequestHandler().ActiveCount() == ACount; }, 10s))
            << platform::WebRequestHandler().ActiveCount() << " in work";
        return lookups;
    }

    std::unique_ptr<TSilentDatabase> FSilent;
    std::unique_ptr<service::TBaseDados> FForm;
    service::TBaseDados* FSavedForm = nullptr;
};

std::chrono::microseconds Median(std::vector<std::chrono::microseconds> AValues)
{
    if (AValues.empty())
        return {};
    std::sort(AValues.begin(), AValues.end());
    return AValues[AValues.size() / 2];
}

} // namespace

TEST_F(HostileDatabase, ConcurrentLookupsBlockedTenSecondsLeavePicturesOnTime)
{
    const std::string picture = "GET /api/gtin/" + KPicture + " HTTP/1.1\r\nHost: shop\r\n\r\n";
    // Pictures on four keep-alive connections, as a shop's terminals ask for them.
    auto pictures = [&](std::chrono::milliseconds AFor, std::vector<std::chrono::microseconds>& ATimes) {
        std::mutex lock;
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                TKeepAliveClient client(FPort);
                const auto until = std::chrono::steady_clock::now() + AFor;
                while (std::chrono::steady_clock::now() < until) {
                    const auto start = std::chrono::steady_clock::now();
                    auto reply = client.Ask(picture, 15s);
                    const auto took =
                        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
                    if (!reply || reply->Status != 200)
                        ++wrong;
                    std::lock_guard guard(lock);
                    ATimes.push_back(took);
                }
            });
        for (auto& t : threads)
            t.join();
        return wrong.load();
    };
    std::vector<std::chrono::microseconds> before, during;
    EXPECT_EQ(pictures(1s, before), 0);

    // Sixteen lookups wait on the database for its connect timeout (10 s): every I/O thread
    // has some.
    const auto blocked = std::chrono::steady_clock::now();
    auto lookups = BlockLookups(16);
    EXPECT_EQ(pictures(8s, during), 0);
    // Still blocked all along. (The last picture leaves work just after its reply is sent.)
    EXPECT_TRUE(WaitFor([] { return platform::WebRequestHandler().ActiveCount() == 16; }, 2s))
        << platform::WebRequestHandler().ActiveCount() << " in work";
    ASSERT_FALSE(during.empty());
    const auto worst = *std::max_element(during.begin(), during.end());
    EXPECT_LT(worst, 2s) << "a picture waited for a blocked lookup";
    EXPECT_LT(Median(during), Median(before) + 50ms)
        << Median(during).count() << " us against " << Median(before).count();

    for (auto& l : lookups) {
        auto reply = l->ReadReply(15s);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Status, 500);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - blocked, 9s);
    lookups.clear();
    ExpectBackToIdle();
}

TEST_F(HostileDatabase, ThirtyThreeConcurrentRequestsInWorkTheLastIsRefused)
{
    auto lookups = BlockLookups(32);
    auto refused =
        RawExchange(FPort, "GET /api/gtin/" + KPicture + " HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->Status, 500);
    EXPECT_EQ(refused->Body, "Maximum number of concurrent connections exceeded.  Please try again later");
    EXPECT_EQ(refused->HeaderOr("Content-Type"), "text/html; charset=utf-8");

    FSilent->Release();
    for (auto& l : lookups) {
        auto reply = l->ReadReply(15s);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Status, 500);
    }
    auto served =
        RawExchange(FPort, "GET /api/gtin/" + KPicture + " HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->Status, 200);
    lookups.clear();
    ExpectBackToIdle();
}
