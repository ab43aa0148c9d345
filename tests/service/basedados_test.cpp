// The data form: fixed settings, sessions made on demand, exclusive use from many threads, and
// a pool that recovers when the server refuses connections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/main/basedados.hpp"
#include "support/own_mariadb.hpp"
#include "support/process_state.hpp"
#include "support/tcp_proxy.hpp"
#include "support/testdb.hpp"

using service::TBaseDados;

namespace {

TEST(BaseDados, FixedSettingsAndNothingOpenAtStart)
{
    TBaseDados Db;
    const auto P = Db.Params();
    ASSERT_EQ(P.Count(), 6u);
    EXPECT_EQ(P.Strings(0), "Server=127.0.0.1");
    EXPECT_EQ(P.Strings(1), "User_Name=Pelvador");
    EXPECT_EQ(P.Strings(2), "Password=Rwt507kpxm%");
    EXPECT_EQ(P.Strings(3), "Database=base_produtos");
    EXPECT_EQ(P.Strings(4), "Port=3389");
    EXPECT_EQ(P.Strings(5), "DriverID=MySQL");
    EXPECT_EQ(Db.SessionCount(), 0u);
    EXPECT_EQ(Db.OpenCount(), 0u);

    // What every session is made with.
    TBaseDados::TSession S(P);
    EXPECT_FALSE(S.FdConnection1.Connected());
    EXPECT_TRUE(S.FdConnection1.ResourceOptions.AutoReconnect);
    EXPECT_FALSE(S.FdConnection1.LoginPrompt);
    EXPECT_EQ(S.FdConnection1.Params.Text(), P.Text());
    EXPECT_EQ(S.fdQuery1.Connection(), &S.FdConnection1);
    EXPECT_EQ(S.FDQuery2.Connection(), &S.FdConnection1);
    EXPECT_EQ(S.fdQuery1.SQL().Count(), 0u);
    EXPECT_EQ(S.FDQuery2.SQL().Count(), 0u);
}

TEST(BaseDados, MissingClientLibraryFailsEachRequest)
{
    MIROVANDEL_IN_FRESH_PROCESS(); // once loaded, the library stays for the process
    const std::string Saved = platform::TFDConnection::ClientLibrary();
    platform::TFDConnection::SetClientLibrary("libmirovandel-absent-client.so.3");
    TBaseDados Db;
    for (int I = 0; I < 3; ++I) {
        try {
            Db.Use();
            ADD_FAILURE() << "a session without a client library";
        } catch (const platform::Exception& E) {
            EXPECT_NE(E.Message().find("libmirovandel-absent-client.so.3"), std::string::npos) << E.Message();
        }
    }
    // One session, tried again by each request; nothing open.
    EXPECT_EQ(Db.SessionCount(), 1u);
    EXPECT_EQ(Db.OpenCount(), 0u);
    platform::TFDConnection::SetClientLibrary(Saved);
}

class BaseDadosDb : public ::testing::Test {
protected:
    void SetUp() override { MIROVANDEL_REQUIRE_TEST_DB(); }
    void TearDown() override
    {
        for (auto& Ean : FCreated)
            try {
                testsupport::TestDbExec("delete from cad_produtos where binary ean = :e", {{"e", Ean}});
            } catch (...) {
            }
    }
    std::vector<std::string> FCreated;
};

TEST_F(BaseDadosDb, SessionsAreReusedAndBoundedAcrossThreads)
{
    TBaseDados Db;
    Db.SetMaxSessions(2);
    platform::TFDConnection* First;
    {
        First = &Db.Use().FdConnection1;
    }
    EXPECT_TRUE(First->Connected());
    {
        EXPECT_EQ(&Db.Use().FdConnection1, First);
    } // the last released comes back first

    // Two holders at once get two sessions; a third waits for one of them.
    std::mutex M;
    std::condition_variable Cv;
    bool SecondHeld = false, ReleaseSecond = false, ThirdGot = false;
    platform::TFDConnection* Second = nullptr;
    platform::TFDConnection* Third = nullptr;
    std::thread T2, T3;
    {
        auto A = Db.Use();
        T2 = std::thread([&] {
            auto S = Db.Use();
            std::unique_lock L(M);
            Second = &S.FdConnection1;
            SecondHeld = true;
            Cv.notify_all();
            Cv.wait(L, [&] { return ReleaseSecond; });
        });
        {
            std::unique_lock L(M);
            Cv.wait(L, [&] { return SecondHeld; });
        }
        EXPECT_NE(Second, &A.FdConnection1);
        EXPECT_EQ(Db.SessionCount(), 2u);
        T3 = std::thread([&] {
            auto S = Db.Use();
            std::lock_guard L(M);
            Third = &S.FdConnection1;
            ThirdGot = true;
            Cv.notify_all();
        });
        // Only a wrong bound could let the third in while both are held.
        EXPECT_TRUE(testing_support::WaitFor([&] { return Db.WaitingCount() == 1; }));
        std::lock_guard L(M);
        EXPECT_FALSE(ThirdGot);
    } // A released: the third takes its session
    {
        std::unique_lock L(M);
        Cv.wait(L, [&] { return ThirdGot; });
        EXPECT_EQ(Third, First);
        ReleaseSecond = true;
        Cv.notify_all();
    }
    T2.join();
    T3.join();
    EXPECT_EQ(Db.SessionCount(), 2u);
    EXPECT_EQ(Db.OpenCount(), 2u);

    // Many threads: never more than two inside, never a third session.
    std::atomic<int> Inside{0}, MaxInside{0};
    std::vector<std::thread> T;
    for (int I = 0; I < 16; ++I)
        T.emplace_back([&] {
            for (int K = 0; K < 50; ++K) {
                auto S = Db.Use();
                int Now = ++Inside;
                int Seen = MaxInside.load();
                while (Now > Seen && !MaxInside.compare_exchange_weak(Seen, Now)) {
                }
                std::this_thread::yield();
                --Inside;
            }
        });
    for (auto& X : T)
        X.join();
    EXPECT_LE(MaxInside.load(), 2);
    EXPECT_EQ(Db.SessionCount(), 2u);
}

// Many request threads at once: each gets its own answers, inserts and lookups interleaved.
TEST_F(BaseDadosDb, ThirtyTwoThreadsShareThePool)
{
    TBaseDados Db;
    constexpr int KThreads = 32, KRounds = 15;
    std::vector<std::string> Codes;
    for (int T = 0; T < KThreads; ++T)
        Codes.push_back(testsupport::UniqueCode("P"));
    FCreated = Codes;
    std::atomic<int> Good{0}, Failed{0};
    std::vector<std::thread> Threads;
    for (int T = 0; T < KThreads; ++T)
        Threads.emplace_back([&, T] {
            try {
                {
                    auto S = Db.Use();
                    if (!S.FdConnection1.Connected())
                        S.FdConnection1.SetConnected(true);
                    S.FDQuery2.SQL().Clear();
                    S.FDQuery2.SQL().Add(
                        "insert into base_produtos.cad_produtos (Ean, Nome, Ncm, Cest_codigo, embalagem)");
                    S.FDQuery2.SQL().Add("values(:Ean, :Nome, :Ncm, :Cest_codigo, :embalagem)");
                    S.FDQuery2.ParamByName("Ean").AsString(Codes[T]);
                    S.FDQuery2.ParamByName("Nome").AsString("Produto " + std::to_string(T));
                    S.FDQuery2.ParamByName("Ncm").AsString("");
                    S.FDQuery2.ParamByName("Cest_codigo").AsString("");
                    S.FDQuery2.ParamByName("embalagem").AsString("UN");
                    S.FDQuery2.ExecSQL();
                }
                for (int R = 0; R < KRounds; ++R) {
                    // Look up a product of another thread, inserted or not yet.
                    const int Other = (T + R) % KThreads;
                    auto S = Db.Use();
                    if (!S.FdConnection1.Connected())
                        S.FdConnection1.SetConnected(true);
                    S.fdQuery1.Close();
                    S.fdQuery1.SQL().Clear();
                    S.fdQuery1.SQL().Add("select nome from cad_produtos where ean = :ean");
                    S.fdQuery1.ParamByName("ean").AsString(Codes[Other]);
                    S.fdQuery1.Open();
                    if (S.fdQuery1.IsEmpty() ||
                        S.fdQuery1.FieldByName("nome").AsString() == "Produto " + std::to_string(Other))
                        ++Good;
                }
            } catch (const std::exception& E) {
                ++Failed;
                ADD_FAILURE() << E.what();
            }
        });
    for (auto& X : Threads)
        X.join();
    EXPECT_EQ(Failed.load(), 0);
    EXPECT_EQ(Good.load(), KThreads * KRounds);
    EXPECT_LE(Db.SessionCount(), TBaseDados::KDefaultMaxSessions);
    EXPECT_LE(Db.ConnectedCount(), Db.SessionCount());
    for (const auto& Code : Codes)
        EXPECT_EQ(testsupport::TestDbCountEan(Code), 1);
}

TEST_F(BaseDadosDb, UnreachableServerThenReachable)
{
    testsupport::TTcpProxy Proxy(testsupport::KTestDbPort);
    TBaseDados Db;
    Db.SetParam("Port", std::to_string(Proxy.Port()));
    Proxy.Down();
    // Nothing open could serve: each request fails on its own, at once.
    for (int I = 0; I < 2; ++I)
        EXPECT_THROW(Db.Use(), platform::EFDDBEngineException);
    EXPECT_EQ(Db.SessionCount(), 1u);
    EXPECT_EQ(Db.OpenCount(), 0u);
    Proxy.Up();
    auto S = Db.Use();
    EXPECT_TRUE(S.FdConnection1.Connected());
    S.fdQuery1.SQL().Add("select 1 as one");
    S.fdQuery1.Open();
    EXPECT_EQ(S.fdQuery1.FieldByName("ONE").AsString(), "1");
}

} // namespace

namespace {

// The pool against a server of the test's own, whose login takes only two connections at once
// (as a shop's server may be set up, or as its max_connections, shared with the shop's other
// programs, may leave).
class BaseDadosLimitedLogin : public ::testing::Test {
protected:
    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        FServer = std::make_unique<testsupport::TOwnMariaDb>("/tmp/mvdb-p" + std::to_string(::getpid()));
        ASSERT_TRUE(FServer->Sql("alter user 'Pelvador'@'127.0.0.1' with max_user_connections 2"));
        FDb.SetParam("Port", std::to_string(FServer->Port()));
    }

    // A lookup and an insert on the session, as the routes make them.
    static std::string Lookup(TBaseDados::TLease& ALease)
    {
        ALease.fdQuery1.Close();
        ALease.fdQuery1.SQL().Clear();
        ALease.fdQuery1.SQL().Add("select connection_id() as id");
        ALease.fdQuery1.Open();
        return ALease.fdQuery1.FieldByName("id").AsString();
    }
    static void Insert(TBaseDados::TLease& ALease, const std::string& AEan)
    {
        ALease.FDQuery2.SQL().Clear();
        ALease.FDQuery2.SQL().Add("insert into base_produtos.cad_produtos (Ean, Nome) values(:Ean, :Nome)");
        ALease.FDQuery2.ParamByName("Ean").AsString(AEan);
        ALease.FDQuery2.ParamByName("Nome").AsString("Produto " + AEan);
        ALease.FDQuery2.ExecSQL();
    }

    std::unique_ptr<testsupport::TOwnMariaDb> FServer;
    TBaseDados FDb;
};

} // namespace

TEST_F(BaseDadosLimitedLogin, ConcurrentUseBeyondTheLimitWaitsForAnOpenSessionThenGrowsAgain)
{
    FDb.SetRetryGrowth(std::chrono::hours(1));
    std::atomic<bool> ThirdDone{false};
    std::string ThirdFailure;
    platform::TFDConnection* ThirdConnection = nullptr;
    std::thread Third;
    platform::TFDConnection *FirstConnection, *SecondConnection;
    {
        auto A = FDb.Use();
        auto B = FDb.Use();
        FirstConnection = &A.FdConnection1;
        SecondConnection = &B.FdConnection1;
        EXPECT_EQ(FDb.OpenCount(), 2u);
        // The server refuses a third connection: the request waits for one of the two.
        Third = std::thread([&] {
            try {
                auto C = FDb.Use();
                ThirdConnection = &C.FdConnection1;
                Lookup(C);
            } catch (const std::exception& E) {
                ThirdFailure = E.what();
            }
            ThirdDone = true;
        });
        // Its connect refused, it waits for a session.
        EXPECT_TRUE(testing_support::WaitFor([&] { return FDb.SessionCount() == 3 && FDb.WaitingCount() == 1; }));
        EXPECT_FALSE(ThirdDone.load()) << ThirdFailure;
        Lookup(B);
    }
    Third.join();
    EXPECT_EQ(ThirdFailure, "");
    EXPECT_TRUE(ThirdConnection == FirstConnection || ThirdConnection == SecondConnection);
    EXPECT_EQ(FDb.OpenCount(), 2u);

    // One request at a time: always an open session, never the refused one again.
    std::set<std::string> Links;
    for (int I = 0; I < 20; ++I) {
        auto S = FDb.Use();
        Links.insert(Lookup(S));
    }
    for (int I = 0; I < 6; ++I) {
        auto S = FDb.Use();
        EXPECT_NO_THROW(Insert(S, "7890000" + std::to_string(I)));
    }
    EXPECT_LE(Links.size(), 2u);
    EXPECT_EQ(FDb.OpenCount(), 2u);
    EXPECT_EQ(FServer->Value("select count(*) from base_produtos.cad_produtos"), "6");

    // Once the server takes more, the pool grows again after its wait.
    ASSERT_TRUE(FServer->Sql("alter user 'Pelvador'@'127.0.0.1' with max_user_connections 0"));
    FDb.SetRetryGrowth(std::chrono::milliseconds(0));
    {
        auto A = FDb.Use();
        auto B = FDb.Use();
        auto C = FDb.Use();
        EXPECT_EQ(FDb.OpenCount(), 3u);
        Lookup(C);
    }
}
