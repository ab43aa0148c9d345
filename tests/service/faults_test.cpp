// Faults from the shop's machine while the program runs: files it cannot write, folders that
// vanish, a port someone else holds, a database that dies and comes back.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextDocument>

#include "own_database_program.hpp"
#include "running_program.hpp"
#include "service/main/basedados.hpp"
#include "service/main/control.hpp"
#include "service/main/view.hpp"
#include "service_support.hpp"
#include "support/own_mariadb.hpp"
#include "support/testdb.hpp"

using namespace service;
using namespace service_test;

namespace {

// Makes a file unwritable for as long as it lives, also for root: the immutable attribute
// (chattr +i) where the file system has it, otherwise the file mode (which root ignores, so
// then only for other users). Works() tells whether a write would now fail.
class TUnwritableFile {
public:
    explicit TUnwritableFile(std::filesystem::path APath) : FPath(std::move(APath))
    {
        if (Run("chattr +i '" + FPath.string() + "' 2>/dev/null")) {
            FImmutable = true;
        } else if (::geteuid() != 0) {
            std::filesystem::permissions(FPath, std::filesystem::perms::owner_read);
            FModeOnly = true;
        }
    }
    ~TUnwritableFile() { Release(); }
    void Release()
    {
        if (FImmutable)
            Run("chattr -i '" + FPath.string() + "'");
        if (FModeOnly)
            std::filesystem::permissions(FPath,
                                         std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        FImmutable = FModeOnly = false;
    }
    bool Works() const { return FImmutable || FModeOnly; }

private:
    static bool Run(const std::string& ACommand) { return std::system(ACommand.c_str()) == 0; }
    std::filesystem::path FPath;
    bool FImmutable = false;
    bool FModeOnly = false;
};

// A window that starts the server and answers requests changes the process-wide counters.
class FaultsAtTheWindow : public TRestoresService {};

} // namespace

TEST_F(FaultsAtTheWindow, ReadOnlyConfigAtSaveConfigShowsTheErrorAndKeepsTheRows)
{
    App();
    ScratchDir dir;
    CapturedErrors errors;
    const auto file = dir.Path() / "config.ini";
    WriteBytes(file, "Path=/fotos/\r\nPort=9000\r\n");
    TMainView view(dir.Str());
    TUnwritableFile lock(file);
    if (!lock.Works())
        GTEST_SKIP() << "cannot make a file unwritable here (no chattr +i, running as root)";

    view.ValueListEditor1->item(1, 1)->setText("9100");
    view.btnSaveConfig->click();
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find(file.string()), std::string::npos) << errors.Messages()[0];
    // The file is as it was; the edited rows are in memory and still in the grid.
    EXPECT_EQ(ReadBytes(file), "Path=/fotos/\r\nPort=9000\r\n");
    EXPECT_EQ(view.Control()->Config().Values("Port"), "9100");
    EXPECT_EQ(view.ValueListEditor1->item(1, 1)->text().toStdString(), "9100");
    EXPECT_EQ(view.btnPower->text().toStdString(), "Start");

    // Writable again: the same click saves what the operator typed.
    lock.Release();
    view.btnSaveConfig->click();
    EXPECT_EQ(errors.Messages().size(), 1u);
    EXPECT_EQ(ReadBytes(file), "Path=/fotos/\r\nPort=9100\r\n");
}

namespace {

using namespace testing_support;

class Faults : public RunningProgram {};

// The product lookups' database is a server of the test's own, so it can be killed and
// restarted (or configured as a shop's old server might be) without disturbing other tests.
class FaultsWithOwnDatabase : public ProgramWithOwnDatabase {
protected:
    // Drops every link the program holds to the database, as a restarted router or an idle
    // timeout on the server would.
    void DropTheProgramsLinks()
    {
        std::string ids =
            FDb->Value("select group_concat(id) from information_schema.processlist where user = 'Pelvador'");
        size_t start = 0;
        while (!ids.empty() && ids != "NULL" && start <= ids.size()) {
            size_t comma = ids.find(',', start);
            if (comma == std::string::npos)
                comma = ids.size();
            FDb->Sql("kill connection " + ids.substr(start, comma - start));
            start = comma + 1;
        }
    }
};

// An old shop server that is not in strict mode would cut a too long value down and store it.
class FaultsWithLaxDatabase : public FaultsWithOwnDatabase {
protected:
    std::string ServerOptions() override { return "--sql-mode=''"; }
};

// A server whose sessions start with autocommit off.
class FaultsWithoutAutocommit : public FaultsWithOwnDatabase {
protected:
    std::string ServerOptions() override { return "--autocommit=0"; }
};

std::string LastHistoryLine(service::TMainView& AView)
{
    return AView.MemoHistorico->document()->lastBlock().text().toStdString();
}

// The program's login takes two connections at a time: a shop's own setting, or what the
// server's max_connections, shared with the shop's other programs, leaves over.
class FaultsWithLimitedLogin : public FaultsWithOwnDatabase {
protected:
    void BeforeStart() override
    {
        FaultsWithOwnDatabase::BeforeStart();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(FDb->Sql("alter user 'Pelvador'@'127.0.0.1' with max_user_connections 2"));
    }

    // 32 clients at once, 416 lookups in all; every one must be answered with the product.
    void ExpectBurstServed()
    {
        constexpr int KClients = 32, KEach = 13;
        std::atomic<int> answered{0};
        std::mutex lock;
        std::string firstWrong;
        std::vector<std::thread> clients;
        for (int t = 0; t < KClients; ++t) {
            clients.emplace_back([&] {
                TKeepAliveClient client(FPort);
                for (int i = 0; i < KEach; ++i) {
                    auto reply = client.Ask("GET /api/descricao/78900001 HTTP/1.1\r\nHost: shop\r\n\r\n", 30s);
                    if (reply && reply->Status == 200 && reply->Body == "Cafe Moido") {
                        ++answered;
                        continue;
                    }
                    std::lock_guard guard(lock);
                    if (firstWrong.empty())
                        firstWrong = reply ? std::to_string(reply->Status) + " " + reply->Body.substr(0, 300)
                                           : "no reply";
                }
            });
        }
        for (auto& c : clients)
            c.join();
        EXPECT_EQ(answered.load(), KClients * KEach) << firstWrong;
        EXPECT_LE(FForm->OpenCount(), 2u);
    }

    // Then one request at a time: 20 lookups and 6 inserts, each served and the inserts stored.
    void ExpectEachRequestServed(const std::string& ATag)
    {
        for (int i = 0; i < 20; ++i) {
            auto reply =
                RawExchange(FPort, "GET /api/descricao/78900001 HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n");
            ASSERT_TRUE(reply.has_value()) << i;
            EXPECT_EQ(reply->Status, 200) << i << " " << reply->Body.substr(0, 300);
            EXPECT_EQ(reply->Body, "Cafe Moido");
        }
        for (int i = 0; i < 6; ++i) {
            const std::string ean = "7891000" + ATag + std::to_string(i); // 8 characters or more: stored as given
            auto reply =
                Post(R"({"ean":")" + ean + R"(","nome":"Produto )" + ean + R"(","ncm":"1","cest":"","um":"UN"})");
            ASSERT_TRUE(reply.has_value()) << ean;
            EXPECT_EQ(reply->Body, R"({"id":")" + ean + R"("})");
            EXPECT_TRUE(ProcessEventsUntil([&] {
                return LastHistoryLine(*FView).find("Produto " + ean) != std::string::npos;
            })) << LastHistoryLine(*FView);
            EXPECT_NE(LastHistoryLine(*FView).find("Produto cadastrado! | Produto " + ean), std::string::npos)
                << LastHistoryLine(*FView);
        }
        EXPECT_EQ(FDb->Value("select count(*) from base_produtos.cad_produtos where ean like '7891000" + ATag + "%'"),
                  "6");
    }
};

} // namespace

TEST_F(FaultsAtTheWindow, PortAlreadyInUseAtStartShowsTheErrorAndKeepsStart)
{
    App();
    ScratchDir dir;
    CapturedErrors errors;
    const int port = FreePort();
    WriteBytes(dir.Path() / "config.ini", "Path=" + dir.Str() + "/files/\r\nPort=" + std::to_string(port) + "\r\n");
    // Another program holds the port on every address.
    int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(holder, 4), 0);

    service::TMainView view(dir.Str());
    view.btnPower->click();
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find(std::to_string(port)), std::string::npos) << errors.Messages()[0];
    EXPECT_EQ(view.btnPower->text().toStdString(), "Start");
    // Nothing else listens in its place; the next click, once the port is free, starts.
    ::close(holder);
    view.btnPower->click();
    EXPECT_EQ(errors.Messages().size(), 1u);
    EXPECT_EQ(view.btnPower->text().toStdString(), "Stop");
    auto reply = Curl({LoopbackUrl(port, "/api/fotoexiste/1")});
    ASSERT_EQ(reply.Replies.size(), 1u);
    EXPECT_EQ(reply.Replies[0].Body, "Nao");
    view.btnPower->click();
    EXPECT_EQ(view.btnPower->text().toStdString(), "Start");
}

TEST_F(Faults, PictureFolderRemovedAndRestoredWhileServing)
{
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, found{0}, missing{0};
    std::mutex lock;
    std::string firstWrong;
    auto noteWrong = [&](const std::optional<THttpReply>& AReply) {
        ++wrong;
        std::lock_guard guard(lock);
        if (firstWrong.empty())
            firstWrong = AReply ? std::to_string(AReply->Status) + " " + AReply->Body.substr(0, 200) : "no reply";
    };
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t) {
        clients.emplace_back([&, t] {
            TKeepAliveClient client(FPort);
            for (int i = 0; i < 100000 && !stop; ++i) {
                const bool file = (t + i) % 2 == 0;
                auto reply = client.Ask(std::string("GET /api/") + (file ? "gtin/" : "fotoexiste/") + KPicture +
                                        " HTTP/1.1\r\nHost: shop\r\n\r\n");
                if (!reply) {
                    noteWrong(reply);
                } else if (file ? reply->Status == 200 && reply->Body == "\x89PNG\r\n\x1a\nsmall picture"
                                : reply->Status == 200 && reply->Body == "Sim") {
                    ++found;
                } else if (file ? reply->Status == 404 && reply->Body.empty()
                                : reply->Status == 200 && reply->Body == "Nao") {
                    ++missing;
                } else if (!(file && reply->Status == 500)) {
                    // 500 only for a picture removed between the test for it and its opening
                    noteWrong(reply);
                }
            }
        });
    }
    auto waitFor = [&](std::atomic<int>& ACounter) {
        int start = ACounter.load();
        return WaitFor([&] { return ACounter.load() >= start + 50; }, 20s);
    };
    EXPECT_TRUE(waitFor(found));
    std::filesystem::remove_all(Files());
    EXPECT_TRUE(waitFor(missing));
    // Restored whole: written beside the folder, then moved in.
    WriteBytes(FDir.Path() / "restore.png", "\x89PNG\r\n\x1a\nsmall picture");
    std::filesystem::create_directories(Files());
    std::filesystem::rename(FDir.Path() / "restore.png", Files() + KPicture + ".png");
    EXPECT_TRUE(waitFor(found));
    stop = true;
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(wrong.load(), 0) << firstWrong;
    ExpectBackToIdle();
}

TEST_F(FaultsWithOwnDatabase, DatabaseKilledAndRestartedWhile32ClientsQuery)
{
    constexpr int KClients = 32;
    std::atomic<bool> stop{false}, restarted{false};
    std::atomic<int> wrong{0}, failed{0}, answered{0};
    std::vector<std::atomic<bool>> recovered(KClients);
    std::vector<std::thread> clients;
    for (int t = 0; t < KClients; ++t) {
        clients.emplace_back([&, t] {
            TKeepAliveClient client(FPort);
            for (int i = 0; i < 100000 && !stop; ++i) {
                bool after = restarted.load();
                auto reply = client.Ask("GET /api/descricao/78900001 HTTP/1.1\r\nHost: shop\r\n\r\n", 30s);
                if (!reply) {
                    ++wrong; // no answer within 30 s: something hangs
                } else if (reply->Status == 200 && reply->Body == "Cafe Moido") {
                    ++answered;
                    if (after)
                        recovered[static_cast<size_t>(t)] = true;
                } else if (reply->Status == 500) {
                    ++failed;
                } else {
                    ++wrong;
                }
            }
        });
    }
    EXPECT_TRUE(WaitFor([&] { return answered.load() >= 100; }, 30s));
    FDb->Kill();
    EXPECT_TRUE(WaitFor([&] { return failed.load() >= 32; }, 30s));
    FDb->Start();
    restarted = true;
    // Every client gets the right answer again without anyone touching the program.
    EXPECT_TRUE(WaitFor(
        [&] {
            for (auto& r : recovered)
                if (!r)
                    return false;
            return true;
        },
        60s));
    stop = true;
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(failed.load(), 0);
    ExpectBackToIdle(45s);
}

TEST_F(FaultsWithLaxDatabase, RejectedInsertAfterADroppedLinkLeavesNoRow)
{
    auto first = Post(R"({"ean":"78900002","nome":"Acucar","ncm":"1701","cest":"","um":"KG"})");
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->Body, R"({"id":"78900002"})");

    struct TCase {
        const char* What;
        std::string Body;
        std::string Ean;
        std::string Count; // rows with that code afterwards
    } cases[] = {
        // Too long for its column: refused, not cut down to a row with half a name.
        {"name too long",
         R"({"ean":"78900003","nome":")" + std::string(300, 'n') + R"(","ncm":"1","cest":"","um":"UN"})", "78900003",
         "0"},
        {"packaging too long",
         R"({"ean":"78900004","nome":"Sal","ncm":"1","cest":"","um":")" + std::string(40, 'u') + R"("})", "78900004",
         "0"},
        // A code the table holds already: the first row stays as it was.
        {"duplicate code", R"({"ean":"78900002","nome":"Outro","ncm":"9","cest":"","um":"UN"})", "78900002", "1"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        DropTheProgramsLinks();
        auto reply = Post(c.Body);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->Status, 200);
        EXPECT_EQ(reply->Body, "");
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return LastHistoryLine(*FView).find("Erro cadastrando produto!") != std::string::npos; }, 10s))
            << LastHistoryLine(*FView);
        EXPECT_EQ(FDb->Value("select count(*) from base_produtos.cad_produtos where ean = '" + c.Ean + "'"), c.Count);
        FView->MemoHistorico->appendPlainText("next");
    }
    EXPECT_EQ(FDb->Value("select nome from base_produtos.cad_produtos where ean = '78900002'"), "Acucar");
    ExpectBackToIdle();
}

TEST_F(FaultsWithLimitedLogin, ConcurrentBurstThenEveryRequestIsServed)
{
    ExpectBurstServed();
    ExpectEachRequestServed("1");
    ExpectBackToIdle();
}

TEST_F(FaultsWithLimitedLogin, ConcurrentBurstAcrossADatabaseRestart)
{
    ExpectBurstServed();
    FDb->Kill();
    // Nothing open can serve: each request fails on its own, at once.
    for (int i = 0; i < 3; ++i) {
        auto reply =
            RawExchange(FPort, "GET /api/descricao/78900001 HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->Status, 500);
    }
    EXPECT_EQ(FForm->OpenCount(), 0u);
    FDb->Start();
    ExpectBurstServed();
    ExpectEachRequestServed("2");
    ExpectBackToIdle();
}

// An insert the server is slow to answer is waited for: the server stores the row whether or not
// the program still waits, so giving up would write a stored product into the history as failed.
TEST_F(FaultsWithOwnDatabase, SlowInsertIsWaitedForAndReportedStored)
{
    FForm->SetParam("ReadTimeout", "1"); // lookups give up after a second
    ASSERT_TRUE(
        FDb->Sql("create trigger base_produtos.slow_insert before insert on base_produtos.cad_produtos "
                 "for each row set new.nome = if(sleep(3) = 0, new.nome, new.nome)"));
    auto reply = Post(R"({"ean":"78900020","nome":"Cafe Lento","ncm":"0901","cest":"","um":"UN"})");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, R"({"id":"78900020"})");
    EXPECT_TRUE(ProcessEventsUntil([&] { return LastHistoryLine(*FView).find("Cafe Lento") != std::string::npos; }))
        << LastHistoryLine(*FView);
    EXPECT_NE(LastHistoryLine(*FView).find("Produto cadastrado! | Cafe Lento"), std::string::npos)
        << LastHistoryLine(*FView);
    EXPECT_EQ(FDb->Value("select count(*) from base_produtos.cad_produtos where ean = '78900020'"), "1");
    // Lookups still answer, within their own limit.
    auto lookup = Get("/api/descricao/78900020");
    ASSERT_TRUE(lookup.has_value());
    EXPECT_EQ(lookup->Body, "Cafe Lento");
    ExpectBackToIdle();
}

TEST_F(FaultsWithoutAutocommit, InsertIsCommittedAndLookupsSeeOtherSessionsRows)
{
    auto reply = Post(R"({"ean":"78900021","nome":"Feijao","ncm":"0713","cest":"","um":"KG"})");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Body, R"({"id":"78900021"})");
    // Another session sees the row at once: it was committed, not left in a transaction.
    EXPECT_EQ(FDb->Value("select count(*) from base_produtos.cad_produtos where ean = '78900021'"), "1");

    // A product another session adds after a lookup missed it is seen by the next lookup: the
    // first one left no snapshot open behind it.
    auto missing = Get("/api/descricao/78900022");
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->Status, 404);
    ASSERT_TRUE(FDb->Sql("insert into base_produtos.cad_produtos (ean, nome) values ('78900022', 'Arroz'); commit"));
    auto lookup = Get("/api/descricao/78900022");
    ASSERT_TRUE(lookup.has_value());
    EXPECT_EQ(lookup->Status, 200);
    EXPECT_EQ(lookup->Body, "Arroz");
    ExpectBackToIdle();
}
