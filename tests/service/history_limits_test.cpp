// How much the history holds: lines cut to a length the window shows at once, and a bound on the
// number of lines that also holds when only inserts (which never trim) arrive.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QThreadPool>

#include "own_database_program.hpp"
#include "service/history.hpp"

using namespace service;
using namespace service_test;

namespace {

class HistoryLimits : public TRestoresService {};

std::string Repeat(const std::string& AText, size_t ATimes)
{
    std::string out;
    for (size_t i = 0; i < ATimes; ++i)
        out += AText;
    return out;
}

const std::string KEllipsis = "\xE2\x80\xA6";

std::string LastLine(TMainView& AView)
{
    return AView.MemoHistorico->document()->lastBlock().text().toStdString();
}

} // namespace

TEST_F(HistoryLimits, LongLinesAreCutToTheirFirstCharactersAndAnEllipsis)
{
    ASSERT_EQ(THistory::KMaxLineLength, 1000u);
    struct TCase {
        const char* What;
        std::string Line;
        std::string Shown;
    } cases[] = {
        {"1000 characters", std::string(1000, 'a'), std::string(1000, 'a')},
        {"1001 characters", std::string(1001, 'a'), std::string(999, 'a') + KEllipsis},
        {"8 MB", std::string(8000000, 'n'), std::string(999, 'n') + KEllipsis},
        // Characters, not bytes, and never half of one.
        {"1000 two-byte characters", Repeat("ç", 1000), Repeat("ç", 1000)},
        {"1001 two-byte characters", Repeat("ç", 1001), Repeat("ç", 999) + KEllipsis},
        {"three-byte characters at the cut", std::string(998, 'a') + Repeat("中", 3),
         std::string(998, 'a') + "中" + KEllipsis},
        {"999 characters and a four-byte one", std::string(999, 'a') + "\xF0\x9F\x98\x80",
         std::string(999, 'a') + "\xF0\x9F\x98\x80"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        THistory::Reset();
        THistory::Add(c.Line);
        auto ops = THistory::TakePending();
        ASSERT_EQ(ops.size(), 1u);
        EXPECT_EQ(ops[0].Line, c.Shown);
        EXPECT_EQ(THistory::Count(), 1);
    }
}

// Lines that never trim (inserts) stop at the window's bound: the oldest make room. A route that
// trims then finds more than 10000 lines and empties the history, as it always does.
TEST_F(HistoryLimits, WindowKeepsTheNewestLinesWhenOnlyInsertsArrive)
{
    ASSERT_EQ(THistory::KMaxShownLines, 10001);
    App();
    ScratchDir dir;
    TMainView view(dir.Str()); // "MemoOK"
    for (int i = 1; i <= 12000; ++i)
        THistory::Add("line " + std::to_string(i));
    ASSERT_TRUE(ProcessEventsUntil([&] { return view.HistoryLineCount() == 10001 && THistory::Count() == 10001; }))
        << view.HistoryLineCount() << " lines shown, " << THistory::Count() << " counted";
    QTextDocument* doc = view.MemoHistorico->document();
    EXPECT_EQ(doc->firstBlock().text().toStdString(), "line 2000");
    EXPECT_EQ(doc->lastBlock().text().toStdString(), "line 12000");

    EXPECT_TRUE(THistory::Trim());
    THistory::Add("own");
    ASSERT_TRUE(ProcessEventsUntil([&] { return view.HistoryLineCount() == 1; }));
    EXPECT_EQ(view.MemoHistorico->toPlainText().toStdString(), "own");
}

// With nobody draining (no window), lines that never trim do not pile up without end either.
TEST_F(HistoryLimits, QueueOfLinesThatNeverTrimStaysBounded)
{
    THistory::Reset();
    for (int i = 1; i <= 50000; ++i)
        THistory::Add("line " + std::to_string(i));
    const auto ops = THistory::TakePending();
    EXPECT_LE(ops.size(), 2u * THistory::KMaxShownLines);
    EXPECT_GE(ops.size(), static_cast<size_t>(THistory::KMaxShownLines));
    EXPECT_EQ(static_cast<int32_t>(ops.size()), THistory::Count());
    EXPECT_EQ(ops.back().Line, "line 50000");
    EXPECT_EQ(ops.front().Line, "line " + std::to_string(50001 - ops.size()));
}

namespace {

class HistoryAtTheWindow : public ProgramWithOwnDatabase {};

// Commits need not reach the disk: thousands of inserts in a few seconds.
class HistoryWithManyInserts : public ProgramWithOwnDatabase {
protected:
    std::string ServerOptions() override { return "--innodb-flush-log-at-trx-commit=0"; }
};

} // namespace

// 12,000 products posted and nothing else: the window holds the newest 10,001 lines, every
// product is stored, and a lookup then empties the history before its own line.
TEST_F(HistoryWithManyInserts, TwelveThousandInsertsLeaveTheNewest10001Lines)
{
    constexpr int KClients = 8, KEach = 1500;
    std::atomic<int> stored{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < KClients; ++t)
        clients.emplace_back([&, t] {
            TKeepAliveClient client(FPort);
            for (int i = 0; i < KEach; ++i) {
                const std::string ean = std::to_string(10000000 + t * KEach + i);
                const std::string body = R"({"ean":")" + ean + R"(","nome":"P)" + ean +
                                         R"(","ncm":"1","cest":"","um":"UN"})";
                auto reply = client.Ask(
                    "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                    "Content-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body);
                if (reply && reply->Body == R"({"id":")" + ean + R"("})")
                    ++stored;
            }
        });
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(stored.load(), KClients * KEach);
    EXPECT_EQ(FDb->Value("select count(*) from base_produtos.cad_produtos where nome like 'P1%'"),
              std::to_string(KClients * KEach));
    EXPECT_TRUE(ProcessEventsUntil([&] { return FView->HistoryLineCount() == 10001 && THistory::Count() == 10001; }))
        << FView->HistoryLineCount() << " lines shown, " << THistory::Count() << " counted";
    EXPECT_NE(LastLine(*FView).find("Produto cadastrado! | P"), std::string::npos) << LastLine(*FView);

    ASSERT_TRUE(Get("/api/descricao/78900001").has_value());
    EXPECT_TRUE(ProcessEventsUntil([&] { return FView->HistoryLineCount() == 1; })) << FView->HistoryLineCount();
    EXPECT_NE(LastLine(*FView).find("Entregue descricao: 78900001|Cafe Moido"), std::string::npos) << LastLine(*FView);
    ExpectBackToIdle();
}

// A product posted with a name of 8 MB, refused by the database: its line is cut, and the next
// request's line follows as any other does.
TEST_F(HistoryAtTheWindow, HugeNameDoesNotHoldTheWindow)
{
    // Lines are laid out as the operator sees them. Showing starts pooled threads of Qt's that
    // would outlive the test by half a minute: they are let go before counting and after.
    FView->show();
    Drain();
    QThreadPool::globalInstance()->waitForDone();
    FIdleThreads = Settled(ThreadCount);
    FIdleFds = Settled(FdCount);
    const std::string name(8000000, 'n');
    const std::string body = R"({"ean":"78900030","nome":")" + name + R"(","ncm":"1","cest":"","um":"UN"})";
    auto reply = Post(body);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, "");
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return LastLine(*FView).find("Erro cadastrando produto!") != std::string::npos;
    })) << LastLine(*FView).substr(0, 200);
    const QString shown = FView->MemoHistorico->document()->lastBlock().text();
    EXPECT_EQ(shown.size(), 1000);
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8("\xE2\x80\xA6")));
    EXPECT_TRUE(
        shown.startsWith(QString::fromStdString("127.0.0.1 | " + std::to_string(TotalResolvidos.load()) + "|")));
    EXPECT_NE(LastLine(*FView).find("Erro cadastrando produto! | nnnn"), std::string::npos);
    EXPECT_EQ(FDb->Value("select count(*) from base_produtos.cad_produtos where ean = '78900030'"), "0");

    ASSERT_TRUE(Get("/api/fotoexiste/" + KPicture).has_value());
    EXPECT_TRUE(ProcessEventsUntil([&] { return LastLine(*FView).find("Consulta Arquivo") != std::string::npos; }))
        << LastLine(*FView).substr(0, 200);
    EXPECT_EQ(FView->Edit1->text().toStdString(), std::to_string(TotalResolvidos.load()));
    QThreadPool::globalInstance()->waitForDone();
    ExpectBackToIdle();
}
