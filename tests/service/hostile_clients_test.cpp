// The running program (the window offscreen, its real server on a loopback port) against
// careless and hostile clients. After each attack the server still answers, its thread count is
// back at its idle level and no descriptor is left open; the sanitizer build checks the memory.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QPushButton>

#include "running_program.hpp"

using namespace service_test;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class HostileClients : public RunningProgram {};

} // namespace

TEST_F(HostileClients, ThousandSilentConnectionsDoNotStopANormalClient)
{
    // With a listen queue of 15 the system takes a flood of new connections in bursts, so
    // opening a thousand takes a while and the first ones may meet the idle timeout meanwhile;
    // what counts is that the server holds many at once and a normal client is served all along.
    std::vector<TRawClient> silent;
    silent.reserve(1000);
    int most = 0;
    auto until = std::chrono::steady_clock::now() + 150s;
    for (int i = 0; i < 1000 && std::chrono::steady_clock::now() < until; ++i) {
        silent.emplace_back("127.0.0.1", FPort);
        if (i % 100 == 99) {
            EXPECT_TRUE(Answers()) << "after " << i + 1 << " silent connections";
            most = std::max(most, ThreadCount() - FIdleThreads);
        }
    }
    EXPECT_EQ(silent.size(), 1000u);
    EXPECT_GE(most, 100) << "connection threads at most";
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(Answers()) << "request " << i;
    silent.clear();
    ExpectBackToIdle();
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
        {"body past the limit", "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                                "Content-Length: 9000000000\r\n\r\n{",
         413},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TRawClient client("127.0.0.1", FPort);
        client.Send(c.Request);  // the server may close before it has read everything
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
    const std::vector<std::string> paths = {"/api/gtin/%zz", "/api/desc/12%4", "/api/fotoexistej/%", "/api/um/%g0",
                                            "/api/descricao/a%2", "/api/desc_ini/%%41"};
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
                    request = "GET " + paths[static_cast<size_t>(n / 2) % paths.size()] + " HTTP/1.1\r\nHost: shop\r\n\r\n";
                    expected = 500;
                } else {
                    const std::string& body = bodies[static_cast<size_t>(n / 2) % bodies.size()];
                    request = "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
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
        ASSERT_TRUE(client.ReadSome(10s, eof));  // the reply has begun
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
