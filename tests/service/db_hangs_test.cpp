// A database that stops answering, or whose table another client holds locked, never hangs the
// program: every request gets its answer within its limit, Stop returns, and an insert whose
// link broke is reported as the server left it.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QPlainTextEdit>
#include <QPushButton>

#include "running_program.hpp"
#include "platform/data/fd_connection.hpp"
#include "service/main/basedados.hpp"
#include "service/main/view.hpp"
#include "service_support.hpp"
#include "support/own_mariadb.hpp"
#include "support/testdb.hpp"

using namespace service_test;
using namespace testing_support;

namespace {

// A loopback forwarder to the database that can break the link at an insert: the client's
// command that runs a prepared insert is forwarded and then the link closed, or the link closed
// without forwarding it. One thread for every link.
class TInsertBreaker {
public:
    enum class TMode { Pass, CloseAfterForwarding, CloseBeforeForwarding };

    explicit TInsertBreaker(uint16_t ATarget) : FTarget(ATarget)
    {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(0);
        socklen_t length = sizeof a;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListener, 64) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            throw std::runtime_error("the forwarder cannot listen");
        FPort = ntohs(a.sin_port);
        FThread = std::thread([this] { Loop(); });
    }
    ~TInsertBreaker()
    {
        FQuit = true;
        FThread.join();
        for (const TLink& l : FLinks) {
            ::close(l.Client);
            ::close(l.Server);
        }
        ::close(FListener);
    }
    TInsertBreaker(const TInsertBreaker&) = delete;
    TInsertBreaker& operator=(const TInsertBreaker&) = delete;

    uint16_t Port() const { return FPort; }
    // Applies to the next insert run on any link, then back to Pass.
    void Arm(TMode AMode)
    {
        FBroke = false;
        FMode = AMode;
    }
    bool Broke() const { return FBroke; }

private:
    struct TLink {
        int Client, Server;
        bool InsertPrepared = false;
    };

    static sockaddr_in Loopback(uint16_t APort)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(APort);
        return a;
    }

    void Accept()
    {
        int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(FTarget);
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(server);
            ::close(client);
            return;
        }
        FLinks.push_back({client, server});
    }

    static bool SendAll(int AFd, const char* AData, ssize_t ASize)
    {
        for (ssize_t off = 0; off < ASize;) {
            ssize_t n = ::send(AFd, AData + off, static_cast<size_t>(ASize - off), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            off += n;
        }
        return true;
    }

    // What the client sent, passed on or not; false when the link is over.
    bool FromClient(TLink& ALink)
    {
        ssize_t n = ::read(ALink.Client, FBuffer, sizeof FBuffer);
        if (n <= 0)
            return false;
        // A client command is one packet: 4 header bytes, then the command byte.
        const std::string_view chunk(FBuffer, static_cast<size_t>(n));
        const char command = chunk.size() > 4 ? chunk[4] : 0;
        if (command == 0x16) // prepare
            ALink.InsertPrepared = chunk.find("insert into") != std::string_view::npos;
        const TMode mode = FMode;
        if (ALink.InsertPrepared && command == 0x17 && mode != TMode::Pass) { // execute
            FMode = TMode::Pass;
            if (mode == TMode::CloseAfterForwarding)
                SendAll(ALink.Server, FBuffer, n); // reaches the server before the end of the link
            FBroke = true;
            return false;
        }
        return SendAll(ALink.Server, FBuffer, n);
    }

    void Loop()
    {
        while (!FQuit) {
            std::vector<pollfd> p{{FListener, POLLIN, 0}};
            for (const TLink& l : FLinks) {
                p.push_back({l.Client, POLLIN, 0});
                p.push_back({l.Server, POLLIN, 0});
            }
            if (::poll(p.data(), p.size(), 100) <= 0)
                continue;
            std::vector<TLink> keep;
            for (size_t i = 0; i < FLinks.size(); ++i) {
                TLink& l = FLinks[i];
                bool open = true;
                if (p[1 + 2 * i].revents)
                    open = FromClient(l);
                if (open && p[2 + 2 * i].revents) {
                    ssize_t n = ::read(l.Server, FBuffer, sizeof FBuffer);
                    open = n > 0 && SendAll(l.Client, FBuffer, n);
                }
                if (open) {
                    keep.push_back(l);
                } else {
                    ::close(l.Server);
                    ::close(l.Client);
                }
            }
            FLinks = std::move(keep);
            if (p[0].revents)
                Accept();
        }
    }

    uint16_t FTarget;
    uint16_t FPort = 0;
    int FListener = -1;
    std::atomic<bool> FQuit{false};
    std::atomic<TMode> FMode{TMode::Pass};
    std::atomic<bool> FBroke{false};
    std::vector<TLink> FLinks; // the forwarder's thread only
    char FBuffer[65536];
    std::thread FThread;
};

// The program's database is a server of the test's own behind the forwarder, with short limits.
class DatabaseHangs : public RunningProgram {
protected:
    static constexpr auto KReadTimeout = 2s;
    static constexpr auto KChangeTimeout = 4s;
    static constexpr auto KPoolWait = 1s;
    static constexpr auto KStopGrace = 2s;

    void BeforeStart() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        FDbDir = "/tmp/mvdbh-" + std::to_string(::getpid());
        FDb = std::make_unique<testsupport::TOwnMariaDb>(FDbDir);
        ASSERT_TRUE(FDb->Sql("insert into base_produtos.cad_produtos (ean, nome) values ('78900001', 'Cafe Moido')"));
        FBreaker = std::make_unique<TInsertBreaker>(FDb->Port());
        FSavedForm = service::BaseDados;
        FForm = std::make_unique<service::TBaseDados>();
        FForm->SetParam("Port", std::to_string(FBreaker->Port()));
        FForm->SetParam("ReadTimeout", std::to_string(KReadTimeout.count()));
        FForm->SetParam("ChangeTimeout", std::to_string(KChangeTimeout.count()));
        FForm->SetPoolWait(KPoolWait);
        FForm->SetStopGrace(KStopGrace);
        service::BaseDados = FForm.get();
    }

    // Each kept link: the program's socket and the forwarder's two.
    int KeptLinks() override { return FForm ? 3 * static_cast<int>(FForm->ConnectedCount()) : 0; }

    void TearDown() override
    {
        Resume();
        FLocker.reset();
        RunningProgram::TearDown();
        service::BaseDados = FSavedForm;
        FForm.reset();
        FBreaker.reset();
        FDb.reset();
    }

    pid_t ServerPid() const
    {
        std::ifstream in(FDbDir + "/mysqld.pid");
        pid_t pid = 0;
        in >> pid;
        return pid;
    }
    void Freeze()
    {
        ASSERT_GT(ServerPid(), 0);
        ::kill(ServerPid(), SIGSTOP);
        FFrozen = true;
    }
    void Resume()
    {
        if (FFrozen)
            ::kill(ServerPid(), SIGCONT);
        FFrozen = false;
    }

    // Another client holds the products table locked until Unlock.
    void LockTable()
    {
        ASSERT_TRUE(
            FDb->Sql("create user if not exists 'locker'@'127.0.0.1';"
                     " grant select, lock tables on base_produtos.* to 'locker'@'127.0.0.1'"));
        FLocker = std::make_unique<platform::TFDConnection>();
        FLocker->Params.Add("Server=127.0.0.1");
        FLocker->Params.Add("Port=" + std::to_string(FDb->Port()));
        FLocker->Params.Add("User_Name=locker");
        FLocker->Execute("lock tables base_produtos.cad_produtos write", {});
    }
    void Unlock() { FLocker.reset(); }
    // Server sessions of the processlist matching AWhere.
    int Count(const std::string& AWhere)
    {
        return std::atoi(FDb->Value("select count(*) from " + KList + AWhere).c_str());
    }
    inline static const std::string KList = "information_schema.processlist where ";

    std::string History() const { return FView->MemoHistorico->toPlainText().toStdString(); }
    size_t HistoryCount(const std::string& AText) const
    {
        const std::string h = History();
        size_t n = 0;
        for (size_t at = h.find(AText); at != std::string::npos; at = h.find(AText, at + 1))
            ++n;
        return n;
    }

    std::optional<THttpReply> Get(const std::string& APath, std::chrono::milliseconds ATimeout = 10s)
    {
        return RawExchange(FPort, "GET " + APath + " HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n", ATimeout);
    }
    std::optional<THttpReply> Post(const std::string& AEan, std::chrono::milliseconds ATimeout = 10s)
    {
        const std::string body = R"({"ean":")" + AEan + R"(","nome":"Produto )" + AEan +
                                 R"(","ncm":"1","cest":"","um":"UN"})";
        return RawExchange(FPort,
                           "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                           "Connection: close\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body,
                           ATimeout);
    }
    std::string Rows(const std::string& AEan)
    {
        return FDb->Value("select count(*) from base_produtos.cad_produtos where ean = '" + AEan + "'");
    }

    struct TOutcome {
        bool Insert;
        std::optional<THttpReply> Reply;
    };
    // ACount requests at once, one insert in four, each given ABound to be answered; returns once
    // all are answered or out of time.
    std::vector<TOutcome> Crowd(const std::string& ATag, std::chrono::milliseconds ABound, size_t ACount = 32)
    {
        std::vector<TOutcome> outcomes(ACount);
        std::vector<std::thread> clients;
        for (size_t i = 0; i < outcomes.size(); ++i) {
            outcomes[i].Insert = i % 4 == 0;
            clients.emplace_back([&, i] {
                outcomes[i].Reply = outcomes[i].Insert ? Post("7892" + ATag + std::to_string(1000 + i), ABound)
                                                       : Get("/api/descricao/78900001", ABound);
            });
        }
        for (auto& c : clients)
            c.join();
        return outcomes;
    }

    // Every request answered with its failure: 500 for a lookup, the empty 200 and a history line
    // for an insert.
    void ExpectFailed(const std::vector<TOutcome>& AOutcomes, const std::string& ATag)
    {
        size_t inserts = 0;
        for (size_t i = 0; i < AOutcomes.size(); ++i) {
            ASSERT_TRUE(AOutcomes[i].Reply.has_value()) << "request " << i << " got no answer in time";
            EXPECT_EQ(AOutcomes[i].Reply->Status, AOutcomes[i].Insert ? 200 : 500) << i;
            if (AOutcomes[i].Insert) {
                EXPECT_EQ(AOutcomes[i].Reply->Body, "") << i;
                ++inserts;
            }
        }
        EXPECT_TRUE(ProcessEventsUntil([&] { return HistoryCount("Erro cadastrando produto!") >= inserts; }))
            << History();
        EXPECT_EQ(HistoryCount("Produto cadastrado! | Produto 7892" + ATag), 0u) << History();
    }

    // A lookup and an insert succeed, and pictures are served.
    void ExpectServed(const std::string& AEan)
    {
        EXPECT_TRUE(Answers());
        auto lookup = Get("/api/descricao/78900001");
        ASSERT_TRUE(lookup.has_value());
        EXPECT_EQ(lookup->Status, 200);
        EXPECT_EQ(lookup->Body, "Cafe Moido");
        auto insert = Post(AEan);
        ASSERT_TRUE(insert.has_value());
        EXPECT_EQ(insert->Body, R"({"id":")" + AEan + R"("})");
        EXPECT_EQ(Rows(AEan), "1");
    }

    std::string FDbDir;
    std::unique_ptr<testsupport::TOwnMariaDb> FDb;
    std::unique_ptr<TInsertBreaker> FBreaker;
    std::unique_ptr<service::TBaseDados> FForm;
    service::TBaseDados* FSavedForm = nullptr;
    bool FFrozen = false;
    std::unique_ptr<platform::TFDConnection> FLocker;
};

} // namespace

// Limits: a request waits at most the pool wait, a connect (10 s) and its own statement's limit.
TEST_F(DatabaseHangs, FrozenDatabaseEveryRequestAnsweredWithinItsLimit)
{
    ExpectServed("78920001");
    // Few sessions, so most requests wait in the pool and give up there.
    FForm->SetMaxSessions(4);
    Freeze();
    // One insert takes the open session and sends its statement; no answer comes.
    std::optional<THttpReply> first;
    std::thread firstClient([&] { first = Post("78920002", 30s); });
    ASSERT_TRUE(WaitFor([&] { return FForm->ConnectedCount() == 0; }));
    const auto outcomes = Crowd("1", 30s, 31); // with the first, as many as may be in work
    firstClient.join();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->Body, "");
    ExpectFailed(outcomes, "1");
    EXPECT_NE(
        History().find("Erro cadastrando produto! | Produto 78920002 | No answer from the database server within 2 s"),
        std::string::npos)
        << History();
    EXPECT_NE(History().find("The database is busy"), std::string::npos) << History();
    // The places are free again: pictures are served while the database still hangs.
    EXPECT_TRUE(Answers());
    Resume();
    FForm->SetMaxSessions(32);
    ExpectServed("78920003");
    ExpectBackToIdle(45s);
}

TEST_F(DatabaseHangs, LockedTableEveryRequestAnsweredWithinItsLimit)
{
    ExpectServed("78930001");
    LockTable();
    const auto outcomes = Crowd("2", 30s);
    ExpectFailed(outcomes, "2");
    EXPECT_EQ(HistoryCount("No answer from the database server within 4 s; the row may have been stored"), 8u)
        << History();
    EXPECT_TRUE(Answers());
    Unlock();
    ExpectServed("78930002");
    ExpectBackToIdle(45s);
}

// An insert the server runs for longer than its limit: the request gives up and says the row may
// be stored, which it then is.
TEST_F(DatabaseHangs, InsertPastItsLimitSaysTheRowMayBeStored)
{
    ASSERT_TRUE(
        FDb->Sql("create trigger base_produtos.slow_insert before insert on base_produtos.cad_produtos "
                 "for each row set new.nome = if(sleep(6) = 0, new.nome, new.nome)"));
    auto reply = Post("78960001", 30s);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, "");
    EXPECT_TRUE(ProcessEventsUntil([&] { return History().find("Produto 78960001") != std::string::npos; }))
        << History();
    EXPECT_NE(
        History().find("Erro cadastrando produto! | Produto 78960001 | No answer from the database server within 4 s;"
                       " the row may have been stored"),
        std::string::npos)
        << History();
    EXPECT_TRUE(WaitFor([&] { return Rows("78960001") == "1"; }, 20s));
    ASSERT_TRUE(FDb->Sql("drop trigger base_produtos.slow_insert"));
    ExpectServed("78960002");
    ExpectBackToIdle();
}

// Stop ends the waits that outlast its grace; Start serves again.
TEST_F(DatabaseHangs, StopDuringDatabaseWaitsReturnsAfterTheGrace)
{
    // Limits far above the grace, so only Stop can end the waits.
    FForm->SetParam("ReadTimeout", "600");
    FForm->SetParam("ChangeTimeout", "600");
    FForm->SetPoolWait(600s);
    ExpectServed("78940001");
    LockTable();
    std::vector<std::optional<THttpReply>> replies(8);
    std::vector<std::thread> clients;
    for (size_t i = 0; i < replies.size(); ++i)
        clients.emplace_back([&, i] {
            replies[i] = i % 2 ? Get("/api/descricao/78900001", 60s) : Post("7894100" + std::to_string(i), 60s);
        });
    ASSERT_TRUE(WaitFor([&] { return Count("state like 'Waiting for table metadata lock'") == 8; }, 20s));

    const auto before = std::chrono::steady_clock::now();
    FView->btnPower->click();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(FView->btnPower->text().toStdString(), "Start");
    EXPECT_LE(took, KStopGrace + 1s);
    for (auto& c : clients)
        c.join();
    for (size_t i = 0; i < replies.size(); ++i) {
        ASSERT_TRUE(replies[i].has_value()) << i;
        EXPECT_EQ(replies[i]->Status, i % 2 ? 500 : 200) << i;
    }
    EXPECT_TRUE(ProcessEventsUntil([&] { return HistoryCount("Erro cadastrando produto!") == 4; })) << History();
    EXPECT_EQ(HistoryCount("| The server stop"), 4u) << History();

    Unlock();
    FView->btnPower->click();
    ASSERT_EQ(FView->btnPower->text().toStdString(), "Stop")
        << (FErrors->Messages().empty() ? "" : FErrors->Messages()[0]);
    ExpectServed("78940002");
    ExpectBackToIdle(45s);
}

// The link breaks right after the insert went out: the server stores it, and the program says so;
// it breaks before: nothing stored, the error. Never run twice.
TEST_F(DatabaseHangs, InsertWhoseLinkBrokeIsReportedAsTheServerLeftIt)
{
    ExpectServed("78950001");
    struct TCase {
        TInsertBreaker::TMode Mode;
        const char* Ean;
        const char* Body;
        const char* Line;
        const char* Rows;
    } cases[] = {
        {TInsertBreaker::TMode::CloseAfterForwarding, "78950002", R"({"id":"78950002"})",
         "Produto cadastrado! | Produto 78950002", "1"},
        {TInsertBreaker::TMode::CloseBeforeForwarding, "78950003", "",
         "Erro cadastrando produto! | Produto 78950003 | Lost connection", "0"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Ean);
        FBreaker->Arm(c.Mode);
        auto reply = Post(c.Ean, 30s);
        EXPECT_TRUE(FBreaker->Broke());
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->Status, 200);
        EXPECT_EQ(reply->Body, c.Body);
        EXPECT_TRUE(ProcessEventsUntil([&] { return History().find(c.Line) != std::string::npos; })) << History();
        EXPECT_EQ(Rows(c.Ean), c.Rows);
    }
    ExpectServed("78950004");
    ExpectBackToIdle();
}
