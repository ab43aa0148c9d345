// How much the history holds: lines cut to a length the window shows at once, and a bound on the
// number of lines that also holds when only inserts (which never trim) arrive.
#include <gtest/gtest.h>

#include <string>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

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

namespace {

class HistoryAtTheWindow : public ProgramWithOwnDatabase {};

} // namespace

// A product posted with a name of 8 MB, refused by the database: its line is cut, and the next
// request's line follows as any other does.
TEST_F(HistoryAtTheWindow, HugeNameDoesNotHoldTheWindow)
{
    // Lines are laid out as the operator sees them; the shown window is the state at rest.
    FView->show();
    Drain();
    FIdleThreads = Settled(ThreadCount);
    FIdleFds = Settled(FdCount);
    const std::string name(8000000, 'n');
    const std::string body = R"({"ean":"78900030","nome":")" + name + R"(","ncm":"1","cest":"","um":"UN"})";
    auto reply = RawExchange(FPort,
                             "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                             "Connection: close\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\n\r\n" + body);
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
    ExpectBackToIdle();
}
