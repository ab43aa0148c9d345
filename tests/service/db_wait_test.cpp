// Requests that wait for a session of the pool, or whose database went away, on one I/O thread:
// the waits suspend the requests' coroutines, so the thread serves the others and no thread is
// made for them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/exception.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_request_handler.hpp"
#include "service/main/basedados.hpp"
#include "support/http.hpp"
#include "support/own_mariadb.hpp"
#include "support/process_state.hpp"
#include "support/route_module.hpp"
#include "support/testdb.hpp"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class DbWait : public TRestoresPlatform {
protected:
    static constexpr int KClients = 32;

    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        platform::WebRequestHandler().SetWebModuleClass(&MakeRouteModule);
        RouteByPath = [this](const std::string& APath) -> std::string {
            if (APath == "/fast")
                return "fast";
            try {
                auto lease = Pool.Use();
                lease.FdConnection1.Execute("SELECT SLEEP(0.01)", {});
                return "served";
            } catch (const platform::Exception& e) {
                return std::string("failed: ") + e.what();
            }
        };
        Port = FreePort();
        Server = std::make_unique<platform::THTTPWebBrokerBridge>();
        Server->SetKeepAlive(true);
        Server->SetIOThreads(1);
        platform::TSocketHandle& b = Server->Bindings().Add();
        b.IP = "127.0.0.1";
        b.Port = Port;
        Server->SetActive(true);
        ThreadsBefore = platform::http::TEventLoop::ThreadsCreated();
    }
    void TearDown() override
    {
        Server.reset();
        RouteByPath = nullptr;
    }

    // KClients clients at once, AEach requests to the database route each; how many got AWanted.
    int Burst(int AEach, const std::string& AWanted)
    {
        std::atomic<int> wanted{0};
        std::vector<std::thread> clients;
        for (int t = 0; t < KClients; ++t)
            clients.emplace_back([&] {
                TRawClient client("127.0.0.1", Port);
                for (int i = 0; i < AEach; ++i) {
                    if (!client.Send("GET /desc HTTP/1.1\r\nHost: shop\r\n\r\n"))
                        return;
                    auto reply = client.ReadReply(60s);
                    if (!reply)
                        return;
                    if (reply->Body.rfind(AWanted, 0) == 0)
                        ++wanted;
                }
            });
        for (auto& c : clients)
            c.join();
        return wanted.load();
    }
    bool FastRouteServed()
    {
        auto reply = RawExchange(Port, "GET /fast HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n");
        return reply && reply->Body == "fast";
    }
    // A loaded machine may preempt the loop past the hand-off threshold now and then.
    void ExpectFewThreadsMade()
    {
        EXPECT_LE(platform::http::TEventLoop::ThreadsCreated() - ThreadsBefore, 8u) << "threads made for hand-offs";
    }

    service::TBaseDados Pool;
    int Port = 0;
    std::unique_ptr<platform::THTTPWebBrokerBridge> Server;
    uint64_t ThreadsBefore = 0;
};

} // namespace

TEST_F(DbWait, RequestsWaitingForASessionOfTheTwoSuspendAndAreAllServed)
{
    Pool.SetMaxSessions(2);
    EXPECT_EQ(Burst(5, "served"), KClients * 5);
    EXPECT_LE(Pool.SessionCount(), 2u);
    EXPECT_TRUE(FastRouteServed());
    ExpectFewThreadsMade();
}

TEST_F(DbWait, DatabaseStoppedWhileSessionsAreOpenFailsEachRequestAndMakesNoThreads)
{
    auto db = std::make_unique<testsupport::TOwnMariaDb>("/tmp/mvdbwait-" + std::to_string(::getpid()));
    Pool.SetParam("Port", std::to_string(db->Port()));
    EXPECT_EQ(Burst(3, "served"), KClients * 3);
    EXPECT_GT(Pool.OpenCount(), 1u);
    db->Kill();
    EXPECT_EQ(Burst(5, "failed: "), KClients * 5);
    EXPECT_TRUE(FastRouteServed());
    EXPECT_EQ(Pool.OpenCount(), 0u);
    ExpectFewThreadsMade();
}
