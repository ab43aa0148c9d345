// The HTTP server's limits: requests in work, the open-connection cap and who makes room at it,
// handlers that block.
#include "http_server_fixture.hpp"

using namespace http_server_test;

TEST_F(HttpServer, The33rdRequestInWorkIsRefused)
{
    TGate gate;
    AnswerDoneBlockingOn(gate);
    Start();
    ASSERT_EQ(WebRequestHandler().MaxConnections(), 32);
    std::vector<std::unique_ptr<TRawClient>> clients;
    ASSERT_NO_FATAL_FAILURE(BlockRequests(32, gate, clients));
    auto c = CurlSync({Url("/other")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.Body, "Maximum number of concurrent connections exceeded.  Please try again later");
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    ExpectReleased(gate, clients);
    EXPECT_EQ(CurlSync({Url("/other")}).Reply.Body, "done");
    EXPECT_LE(WebRequestHandler().InactiveCount(), 32);
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
    Server->SetEvictBusyAfter(1h); // however slow the machine, neither request has had its time
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
    TGate gate;
    std::atomic<int> answered{0};
    AnswerDoneBlockingOn(gate);
    Server->SetIOThreads(4);
    Start();
    std::vector<std::unique_ptr<TRawClient>> blocked;
    ASSERT_NO_FATAL_FAILURE(BlockRequests(12, gate, blocked));
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
    ExpectReleased(gate, blocked);
    // The threads of the handlers that blocked end once they have answered.
    Server->SetActive(false);
    EXPECT_EQ(Server->ConnectionCount(), 0);
}
