// The program's database sessions as the shop's server sees them: a lookup that waits out its
// time gives its link up instead of running again, and sessions left idle are given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "own_database_program.hpp"

using namespace service_test;

namespace {

class DatabaseSessions : public ProgramWithOwnDatabase {
protected:
    // Prepared statements the server has run since it started.
    long Executed()
    {
        return std::atol(FDb->Value("select variable_value from information_schema.global_status"
                                    " where variable_name = 'COM_STMT_EXECUTE'")
                             .c_str());
    }

    // The id of the background session running "select sleep(600)", or "" when none runs.
    std::string Holder()
    {
        return FDb->Value("select id from information_schema.processlist where info = 'select sleep(600)'");
    }
};

} // namespace

// The server goes on with a statement whose client gave up: run again, it would be two runs and
// two of the server's connections for one lookup. The lookup fails once, and the next connect
// ends the server's side of the link given up on.
TEST_F(DatabaseSessions, LookupThatWaitsOutItsTimeIsNotRunAgain)
{
    FForm->SetParam("ReadTimeout", "1");
    // The products behind a view that takes ten minutes a row while base_produtos.slow has one.
    ASSERT_TRUE(
        FDb->Sql("create table base_produtos.slow (flag int);"
                 "insert into base_produtos.slow values (1);"
                 "rename table base_produtos.cad_produtos to base_produtos.cad_real;"
                 "create view base_produtos.cad_produtos as select * from base_produtos.cad_real"
                 " where (select count(*) from base_produtos.slow) = 0 or sleep(600) = 0"));
    const long before = Executed();
    auto reply = Get("/api/descricao/78900001");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 500);
    EXPECT_NE(reply->Body.find("No answer from the database server within 1 s"), std::string::npos) << reply->Body;
    EXPECT_EQ(Executed() - before, 1);
    EXPECT_EQ(FDb->Value("select count(*) from information_schema.processlist"
                         " where user = 'Pelvador' and state = 'User sleep'"),
              "1");
    EXPECT_EQ(FForm->OpenCount(), 0u);

    ASSERT_TRUE(FDb->Sql("delete from base_produtos.slow"));
    reply = Get("/api/descricao/78900001");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, "Cafe Moido");
    EXPECT_EQ(FForm->SessionCount(), 1u);
    // Only the fresh link is left: the old one is ended, not left sleeping for ten minutes.
    EXPECT_TRUE(WaitFor([&] { return ServerLinks() == 1; }, 30s)) << ServerLinks();
    ExpectBackToIdle();
}

// Another program holds the product table: each of 32 lookups at once waits out its time on its
// own link and fails, run once; the server never holds more links of the program than that.
TEST_F(DatabaseSessions, LookupsAgainstAHeldTableKeepToOneLinkEach)
{
    constexpr int KClients = 32;
    FForm->SetParam("ReadTimeout", "2");
    RunInBackground("lock tables base_produtos.cad_produtos write; select sleep(600)");
    ASSERT_TRUE(WaitFor([&] { return !Holder().empty(); }, 30s));
    const long before = Executed();

    std::atomic<bool> done{false};
    int most = 0;
    std::thread sampler([&] {
        while (!done)
            most = std::max(most, ServerLinks());
    });
    std::vector<int> statuses(KClients, 0);
    std::vector<std::thread> clients;
    for (int i = 0; i < KClients; ++i)
        clients.emplace_back([&, i] {
            auto reply = Get("/api/descricao/78900001");
            statuses[static_cast<size_t>(i)] = reply ? reply->Status : -1;
        });
    for (auto& c : clients)
        c.join();
    done = true;
    sampler.join();

    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 500), KClients);
    EXPECT_EQ(Executed() - before, KClients);
    EXPECT_LE(most, KClients);

    ASSERT_TRUE(FDb->Sql("kill connection " + Holder()));
    auto reply = Get("/api/descricao/78900001");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, "Cafe Moido");
    EXPECT_TRUE(WaitFor([&] { return ServerLinks() == static_cast<int>(FForm->OpenCount()); }, 30s))
        << ServerLinks() << " links on the server, " << FForm->OpenCount() << " open";
    ExpectBackToIdle();
}

// After a burst the program keeps its links for the next requests; left idle, it gives every one
// of them back, and the next request connects again as the first one did.
TEST_F(DatabaseSessions, IdleSessionsAreClosedDownToNone)
{
    constexpr int KClients = 32, KEach = 5;
    FForm->SetIdleClose(1h);
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < KClients; ++i)
        clients.emplace_back([&] {
            TKeepAliveClient client(FPort);
            for (int j = 0; j < KEach; ++j) {
                auto reply = client.Ask("GET /api/descricao/78900001 HTTP/1.1\r\nHost: shop\r\n\r\n");
                if (reply && reply->Status == 200 && reply->Body == "Cafe Moido")
                    ++answered;
            }
        });
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(answered.load(), KClients * KEach);
    const size_t sessions = FForm->SessionCount();
    EXPECT_GT(FForm->OpenCount(), 1u);
    EXPECT_EQ(ServerLinks(), static_cast<int>(FForm->OpenCount()));

    FForm->SetIdleClose(1s);
    EXPECT_TRUE(WaitFor([&] { return FForm->OpenCount() == 0 && ServerLinks() == 0; }, 30s))
        << FForm->OpenCount() << " open, " << ServerLinks() << " links on the server";

    FForm->SetIdleClose(1h);
    auto reply = Get("/api/descricao/78900001");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, "Cafe Moido");
    EXPECT_EQ(ServerLinks(), 1);
    EXPECT_EQ(FForm->SessionCount(), sessions);
    ExpectBackToIdle();
}
