// Route code that waits on the database, on fewer I/O threads than requests: each wait suspends
// the request's coroutine, so the loops go on with other requests and make no thread for it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/exception.hpp"
#include "platform/data/fd_connection.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_request_handler.hpp"
#include "support/http.hpp"
#include "support/process_state.hpp"
#include "support/route_module.hpp"
#include "support/testdb.hpp"

using namespace platform;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// Database links for route code, one per request in work; the lock is held only to take or give
// one, never across a statement.
class TLinks {
public:
    explicit TLinks(std::string AReadTimeout) : FReadTimeout(std::move(AReadTimeout)) {}
    std::unique_ptr<TFDConnection> Take()
    {
        {
            std::lock_guard lock(FLock);
            if (!FFree.empty()) {
                auto link = std::move(FFree.back());
                FFree.pop_back();
                return link;
            }
        }
        auto link = std::make_unique<TFDConnection>();
        testsupport::SetTestDbParams(*link);
        link->Params.Add("ReadTimeout=" + FReadTimeout);
        return link;
    }
    // Connects AHow many links beforehand (from the calling thread): what is measured is then
    // the waits, not the connects.
    void Prime(int AHowMany)
    {
        std::vector<std::unique_ptr<TFDConnection>> links;
        for (int i = 0; i < AHowMany; ++i) {
            links.push_back(Take());
            links.back()->Execute("SELECT 1", {});
        }
        for (auto& link : links)
            Give(std::move(link));
    }
    void Give(std::unique_ptr<TFDConnection> ALink)
    {
        std::lock_guard lock(FLock);
        FFree.push_back(std::move(ALink));
    }
    // Runs one statement on a link of the pool: its first column, or the error's message.
    std::string Run(const std::string& AStatement, const std::vector<TFDValue>& AValues = {})
    {
        auto link = Take();
        std::string answer;
        try {
            TFDResult result = link->Execute(AStatement, AValues);
            answer = result.Rows.empty() || !result.Rows[0][0] ? "done" : *result.Rows[0][0];
        } catch (const Exception& e) {
            answer = std::string("failed: ") + e.what();
        }
        Give(std::move(link));
        return answer;
    }

private:
    const std::string FReadTimeout;
    std::mutex FLock;
    std::vector<std::unique_ptr<TFDConnection>> FFree;
};

class HttpCoroutine : public TRestoresPlatform {
protected:
    static constexpr int KLoops = 2;
    static constexpr int KClients = 32;

    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        WebRequestHandler().SetWebModuleClass(&MakeRouteModule);
        // The waiting ones, and the fast route and a lookup besides.
        WebRequestHandler().SetMaxConnections(KClients + 2);
        Port = FreePort();
        Server = std::make_unique<THTTPWebBrokerBridge>();
        Server->SetKeepAlive(true);
        Server->SetIOThreads(KLoops);
        TSocketHandle& b = Server->Bindings().Add();
        b.IP = "127.0.0.1";
        b.Port = Port;
        Server->SetActive(true);
        Gate = testsupport::UniqueCode("gate");
        testsupport::SetTestDbParams(Holder);
        ASSERT_EQ(Ask("SELECT GET_LOCK('" + Gate + "', 60)"), "1");
    }
    void TearDown() override
    {
        Server.reset();
        RouteByPath = nullptr;
    }

    // A statement on the test's own link.
    std::string Ask(const std::string& AStatement)
    {
        TFDResult result = Holder.Execute(AStatement, {});
        return result.Rows.empty() || !result.Rows[0][0] ? "" : *result.Rows[0][0];
    }
    // Statements held at the gate right now.
    int AtGate()
    {
        return std::stoi(
            Ask("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID()"
                " AND STATE = 'User lock' AND INFO LIKE '%" +
                Gate + "%'"));
    }
    // Waits on the gate, then lets the next one through.
    std::string GatedText() const { return "GET_LOCK('" + Gate + "', 60), RELEASE_LOCK('" + Gate + "')"; }

    // KClients clients, each one request to APath on a connection of its own; their answers.
    std::vector<std::thread> Clients(const std::string& APath, std::vector<std::string>& AAnswers)
    {
        AAnswers.assign(KClients, "");
        std::vector<std::thread> clients;
        for (int i = 0; i < KClients; ++i)
            clients.emplace_back([this, i, APath, &AAnswers] {
                TRawClient client("127.0.0.1", Port);
                if (!client.Send("GET " + APath + std::to_string(i) + " HTTP/1.1\r\nHost: x\r\n\r\n"))
                    return;
                auto reply = client.ReadReply(90s);
                AAnswers[i] = reply ? reply->Body : "(no reply)";
            });
        return clients;
    }
    // The fast route on the same loops, over keep-alive connections and new ones.
    void ExpectFastRouteServed(int ARequests)
    {
        TRawClient kept("127.0.0.1", Port);
        for (int i = 0; i < ARequests; ++i) {
            ASSERT_TRUE(kept.Send("GET /fast HTTP/1.1\r\nHost: x\r\n\r\n"));
            auto reply = kept.ReadReply(5s);
            ASSERT_TRUE(reply) << "request " << i;
            ASSERT_EQ(reply->Body, "fast");
            if (i % 10 == 0) {
                auto fresh = RawExchange(Port, "GET /fast HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
                ASSERT_TRUE(fresh && fresh->Body == "fast") << "new connection " << i;
            }
        }
    }
    // A loaded machine may preempt a loop past the hand-off threshold now and then.
    void ExpectFewThreadsMade()
    {
        EXPECT_LE(http::TEventLoop::ThreadsCreated() - ThreadsBefore, 8u) << "threads made for hand-offs";
    }

    int Port = 0;
    std::unique_ptr<THTTPWebBrokerBridge> Server;
    std::string Gate;
    TFDConnection Holder;
    uint64_t ThreadsBefore = 0;
};

} // namespace

TEST_F(HttpCoroutine, LookupsWaitingOnTheDatabaseHoldNoIOThread)
{
    TLinks links("60");
    links.Prime(KClients + 2);
    ThreadsBefore = http::TEventLoop::ThreadsCreated();
    RouteByPath = [&](const std::string& APath) -> std::string {
        if (APath == "/fast")
            return "fast";
        return links.Run("SELECT CONCAT('waited ', " + GatedText() + ")");
    };
    std::vector<std::string> answers;
    auto clients = Clients("/wait/", answers);
    // All of them wait in the database at once, on two I/O threads, and the loops serve others.
    EXPECT_TRUE(WaitFor([&] { return AtGate() == KClients; }, 60s)) << AtGate() << " at the gate";
    ExpectFastRouteServed(200);
    EXPECT_EQ(AtGate(), KClients);
    ExpectFewThreadsMade();

    Ask("SELECT RELEASE_LOCK('" + Gate + "')");
    for (auto& c : clients)
        c.join();
    for (int i = 0; i < KClients; ++i)
        EXPECT_EQ(answers[i], "waited 11") << "client " << i;
    ExpectFewThreadsMade();
}

TEST_F(HttpCoroutine, InsertsInFlightAtOnceWaitWithoutLimitWhileALookupTimesOut)
{
    // One second for an answer: the inserts wait longer than that at the gate, and still wait,
    // while a lookup on the same loops gives up after it.
    TLinks links("1");
    links.Prime(KClients + 2);
    ThreadsBefore = http::TEventLoop::ThreadsCreated();
    const std::string tag = testsupport::UniqueCode("co");
    RouteByPath = [&](const std::string& APath) -> std::string {
        if (APath == "/fast")
            return "fast";
        if (APath == "/lookup")
            return links.Run("SELECT SLEEP(3)");
        const std::string ean = tag + APath.substr(APath.rfind('/') + 1);
        return links.Run("INSERT INTO cad_produtos (ean, nome) VALUES (?, CONCAT('gated ', " + GatedText() + "))",
                         {ean});
    };
    std::vector<std::string> answers;
    auto clients = Clients("/insert/", answers);
    EXPECT_TRUE(WaitFor([&] { return AtGate() == KClients; }, 60s)) << AtGate() << " at the gate";
    ExpectFastRouteServed(100);

    auto lookup = RawExchange(Port, "GET /lookup HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 30s);
    ASSERT_TRUE(lookup);
    EXPECT_EQ(lookup->Body.rfind("failed: ", 0), 0u) << lookup->Body;
    EXPECT_EQ(AtGate(), KClients);

    Ask("SELECT RELEASE_LOCK('" + Gate + "')");
    for (auto& c : clients)
        c.join();
    for (int i = 0; i < KClients; ++i)
        EXPECT_EQ(answers[i], "done") << "client " << i;
    EXPECT_EQ(Ask("SELECT COUNT(*) FROM cad_produtos WHERE ean LIKE '" + tag + "%' AND nome = 'gated 11'"),
              std::to_string(KClients));
    Ask("DELETE FROM cad_produtos WHERE ean LIKE '" + tag + "%'");
    ExpectFewThreadsMade();
}

TEST_F(HttpCoroutine, AStreamOfShortDatabaseWaitsLeavesEachLoopToItsOtherClients)
{
    // 1.5 ms per wait: under the hand-off threshold, so a loop that waited in place would keep
    // every other client of its thread waiting behind it, and never hand it over.
    TLinks links("60");
    links.Prime(KClients + 2);
    ThreadsBefore = http::TEventLoop::ThreadsCreated();
    std::mutex lock;
    std::map<std::thread::id, int> waiting; // statements under way, by the thread they began on
    int fastServed = 0, fastBesideAWait = 0;
    RouteByPath = [&](const std::string& APath) -> std::string {
        const auto thread = std::this_thread::get_id();
        if (APath == "/fast") {
            std::lock_guard hold(lock);
            ++fastServed;
            if (waiting[thread] > 0)
                ++fastBesideAWait;
            return "fast";
        }
        {
            std::lock_guard hold(lock);
            ++waiting[thread];
        }
        std::string answer = links.Run("SELECT SLEEP(0.0015)");
        std::lock_guard hold(lock);
        --waiting[thread];
        return answer;
    };
    std::atomic<bool> done{false};
    std::atomic<int> waited{0}, failed{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < KClients; ++i)
        clients.emplace_back([&] {
            TRawClient client("127.0.0.1", Port);
            while (!done.load()) {
                auto reply = client.Send("GET /short HTTP/1.1\r\nHost: x\r\n\r\n") ? client.ReadReply(30s)
                                                                                   : std::nullopt;
                if (!reply || reply->Body != "0") {
                    ++failed;
                    return;
                }
                ++waited;
            }
        });
    EXPECT_TRUE(WaitFor([&] { return waited.load() >= 4 * KClients; }, 60s)) << waited.load() << " answered";
    ExpectFastRouteServed(300);
    done = true;
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(failed.load(), 0);
    // Served on a thread while that thread's own requests waited for the database: nearly all
    // of them (none at all when a wait holds its thread).
    std::lock_guard hold(lock);
    EXPECT_GE(fastBesideAWait * 2, fastServed) << fastBesideAWait << " of " << fastServed;
    ExpectFewThreadsMade();
}
