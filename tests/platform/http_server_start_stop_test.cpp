// The HTTP server starts on its bindings and stops: listeners, open connections, its threads.
#include "http_server_fixture.hpp"

using namespace http_server_test;

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
    // A joined thread can stay listed under /proc for a moment after its join returns.
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == idle; }, 2s)) << ThreadCount() << " for " << idle;
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
    // A joined thread can stay listed under /proc for a moment after its join returns.
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == idle; }, 2s)) << ThreadCount() << " for " << idle;
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
