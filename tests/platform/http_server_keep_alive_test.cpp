// The HTTP server keeps connections open between requests and answers pipelined requests in
// order.
#include "http_server_fixture.hpp"

using namespace http_server_test;

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
    constexpr int KRequests = 40000;
    TGate gate(std::chrono::seconds(180));
    AnswerDoneBlockingOn(gate);
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
    ASSERT_NO_FATAL_FAILURE(BlockRequests(32, gate, blocked));
    {
        TRawClient c("127.0.0.1", Port);
        std::thread writer([&] { c.Send(PipelinedRequests("/", KRequests)); });
        EXPECT_EQ(ReadPipelinedReplies(c, KRequests, expectStatus(500)), KRequests);
        writer.join();
    }
    ExpectReleased(gate, blocked);
}

// A route that blocks without suspending keeps its thread; the loop goes on on another one and
// takes the connection back once the reply is written, for its next requests as for the others'.
TEST_F(HttpServer, AConnectionWhoseRouteBlockedGoesOnFromItsLoop)
{
    TGate first;
    TGate atStop;
    HandlerUnlocked = true;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/block")
            first.Wait();
        else if (r.PathInfo() == "/block-at-stop")
            atStop.Wait();
        else if (r.PathInfo() == "/sleep")
            std::this_thread::sleep_for(20ms); // well past the hand-off, never suspending
        res.SetContent("done " + r.PathInfo());
    };
    Server->SetIOThreads(1); // every connection on the one loop
    Start();
    TRawClient blocked("127.0.0.1", Port);
    TRawClient other("127.0.0.1", Port);
    ASSERT_EQ(Ask(other), "done /");
    ASSERT_TRUE(blocked.Send("GET /block HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(first.WaitForWaiting(1));
    // Answered only because the loop went to another thread.
    EXPECT_EQ(Ask(other), "done /");
    first.Open();
    auto r = blocked.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "done /block");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Ask(blocked), "done /");
        EXPECT_EQ(Ask(other), "done /");
    }

    // Many such, on connections kept alive, between requests that do not block.
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t)
        clients.emplace_back([&] {
            TRawClient c("127.0.0.1", Port);
            for (int i = 0; i < 10; ++i) {
                answered += Ask(c, "GET /sleep HTTP/1.1\r\nHost: x\r\n\r\n") == "done /sleep";
                answered += Ask(c) == "done /";
            }
        });
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(answered.load(), 80);
    EXPECT_EQ(Ask(blocked), "done /");

    // The stop waits for the blocked request; its reply goes out whole, then the connection closes.
    ASSERT_TRUE(blocked.Send("GET /block-at-stop HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(atStop.WaitForWaiting(1));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        Server->SetActive(false);
        stopped = true;
    });
    EXPECT_TRUE(other.WaitClosed(5s));
    EXPECT_FALSE(stopped.load());
    atStop.Open();
    EXPECT_TRUE(WaitFor([&] { return stopped.load(); }, 10s));
    stopper.join();
    r = blocked.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "done /block-at-stop");
    EXPECT_TRUE(blocked.WaitClosed(5s));
    EXPECT_EQ(Server->ConnectionCount(), 0);
}

TEST_F(HttpServer, RouteCodeThatRunsKeepsItsLoopAndRouteCodeThatSleepsGivesItUp)
{
    // Both last 6 ms, past the hand-off: one computes, the other waits in the kernel. Handing
    // the loop over is for the second; for the first it would only make threads.
    HandlerUnlocked = true;
    Handler = [](TWebRequest& r, TWebResponse& res) {
        const auto until = std::chrono::steady_clock::now() + 6ms;
        if (r.PathInfo() == "/sleep")
            std::this_thread::sleep_until(until);
        else
            while (std::chrono::steady_clock::now() < until) {
            }
        res.SetContent("done " + r.PathInfo());
    };
    Server->SetIOThreads(1);
    Start();
    TRawClient c("127.0.0.1", Port);
    auto handOffs = [&](const std::string& APath) {
        const uint64_t before = http::TEventLoop::HandOffs();
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(Ask(c, "GET " + APath + " HTTP/1.1\r\nHost: x\r\n\r\n"), "done " + APath);
        return http::TEventLoop::HandOffs() - before;
    };
    // A loaded machine may still preempt the computing one for long now and then.
    EXPECT_LE(handOffs("/compute"), 5u);
    EXPECT_GE(handOffs("/sleep"), 10u);
}

TEST_F(HttpServer, RouteCodeThatAwaitsATimeLeavesItsLoopToOthers)
{
    HandlerUnlocked = true;
    std::atomic<bool> answeredMeanwhile{false};
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() == "/await")
            platform::AwaitFor(300ms);
        else
            answeredMeanwhile = true;
        res.SetContent("done " + r.PathInfo());
    };
    Server->SetIOThreads(1);
    Start();
    const uint64_t handOffs = http::TEventLoop::HandOffs();
    TRawClient waiting("127.0.0.1", Port);
    TRawClient other("127.0.0.1", Port);
    ASSERT_TRUE(waiting.Send("GET /await HTTP/1.1\r\nHost: x\r\n\r\n"));
    // Served by the one loop while the first request waits, without handing that loop over.
    EXPECT_EQ(Ask(other), "done /");
    auto r = waiting.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "done /await");
    EXPECT_TRUE(answeredMeanwhile.load());
    EXPECT_EQ(http::TEventLoop::HandOffs(), handOffs);
}
