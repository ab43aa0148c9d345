// The main window offscreen: layout, configuration grid, history and counters.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextDocument>

#include <thread>

#include "service/main/control.hpp"
#include "service/main/view.hpp"
#include "service_support.hpp"

using namespace service;
using namespace service_test;

namespace {

std::string Text(const QString& s)
{
    return s.toStdString();
}

// A key typed by the operator.
void TypeKey(QWidget* ATarget, int AKey, const char* AText)
{
    QKeyEvent press(QEvent::KeyPress, AKey, Qt::NoModifier, QString::fromLatin1(AText));
    QKeyEvent release(QEvent::KeyRelease, AKey, Qt::NoModifier, QString::fromLatin1(AText));
    QCoreApplication::sendEvent(ATarget, &press);
    QCoreApplication::sendEvent(ATarget, &release);
}

// The window shows the process-wide history and counters, and starts the one server.
class MainView : public TRestoresService {};

} // namespace

TEST_F(MainView, LayoutTextsNamesAndSizes)
{
    App();
    ScratchDir dir;
    TMainView view(dir.Str());
    EXPECT_EQ(Text(view.windowTitle()), "Servidor Mirovandel 3.0 - Drelmont | Firedac | Post - Vosk");
    EXPECT_EQ(view.width(), 1008);
    EXPECT_EQ(view.height(), 571);
    view.show();

    struct Element {
        const char* name;
        QRect geometry;
    };
    const Element elements[] = {
        {"Panel1", {0, 0, 1008, 41}},        {"Panel3", {0, 530, 1008, 41}}, {"btnPower", {862, 5, 142, 30}},
        {"btnSaveConfig", {661, 5, 75, 30}}, {"Panel2", {0, 47, 1008, 482}}, {"ValueListEditor1", {0, 0, 1008, 80}},
        {"GroupBox3", {0, 80, 1008, 336}},   {"Edit1", {160, 416, 121, 21}}, {"Edit2", {160, 440, 121, 21}},
        {"Bevel1", {0, 466, 1008, 16}},
    };
    for (const auto& e : elements) {
        SCOPED_TRACE(e.name);
        auto* w = view.findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), e.geometry);
    }
    EXPECT_EQ(view.Label1->pos(), QPoint(4, 419));
    EXPECT_EQ(view.Label2->pos(), QPoint(4, 443));
    EXPECT_EQ(view.findChild<QPlainTextEdit*>("MemoHistorico"), view.MemoHistorico);
    EXPECT_EQ(view.MemoHistorico->parentWidget(), view.GroupBox3);

    EXPECT_EQ(Text(view.Panel1->text()), "Server");
    EXPECT_EQ(Text(view.btnPower->text()), "Start");
    EXPECT_EQ(Text(view.btnSaveConfig->text()), "Save Config");
    EXPECT_EQ(Text(view.GroupBox3->title()), "Hist\xC3\xB3rico");
    EXPECT_EQ(Text(view.Label1->text()), "Total de Resquests resolvidos:");
    EXPECT_EQ(Text(view.Label2->text()), "Total de Resquests 404:");
    EXPECT_EQ(Text(view.MemoHistorico->toPlainText()), "MemoOK");
    EXPECT_EQ(view.MemoHistorico->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(Text(view.Edit1->text()), "Edit1");
    EXPECT_EQ(Text(view.Edit2->text()), "Edit1");

    QTableWidget* grid = view.ValueListEditor1;
    EXPECT_EQ(Text(grid->horizontalHeaderItem(0)->text()), "Key");
    EXPECT_EQ(Text(grid->horizontalHeaderItem(1)->text()), "Value");
    EXPECT_EQ(grid->columnWidth(0), 150);
    EXPECT_EQ(grid->columnWidth(1), 850);
    EXPECT_EQ(grid->rowHeight(0), 18);

    // Resizing: the power button follows the right edge, Save Config the centre, Panel2 stays.
    view.resize(1208, 671);
    EXPECT_EQ(view.btnPower->geometry(), QRect(1062, 5, 142, 30));
    EXPECT_EQ(view.btnSaveConfig->geometry(), QRect(761, 5, 75, 30));
    EXPECT_EQ(view.Panel3->geometry(), QRect(0, 630, 1208, 41));
    EXPECT_EQ(view.Panel1->geometry(), QRect(0, 0, 1208, 41));
    EXPECT_EQ(view.Panel2->geometry(), QRect(0, 47, 1008, 482));
}

TEST_F(MainView, KeyboardOrder)
{
    App();
    ScratchDir dir;
    TMainView view(dir.Str());
    view.show();
    QWidget* expected[] = {view.btnPower,      view.btnSaveConfig, view.ValueListEditor1,
                           view.MemoHistorico, view.Edit1,         view.Edit2};
    // The widgets that Tab stops at, from the power button on.
    std::vector<QWidget*> stops;
    QWidget* w = view.btnPower;
    for (int guard = 0; guard < 200 && stops.size() < std::size(expected); ++guard, w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&view) && w->isEnabled())
            stops.push_back(w);
    EXPECT_EQ(stops, std::vector<QWidget*>(std::begin(expected), std::end(expected)));
}

TEST_F(MainView, GridShowsTheConfigurationWithFixedKeys)
{
    App();
    ScratchDir dir;
    WriteBytes(dir.Path() / "config.ini", "Path=/pics/\r\nno separator\r\nPort=9000\r\n");
    TMainView view(dir.Str());
    QTableWidget* grid = view.ValueListEditor1;
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(Text(grid->item(0, 0)->text()), "Path");
    EXPECT_EQ(Text(grid->item(0, 1)->text()), "/pics/");
    EXPECT_FALSE(grid->item(0, 0)->flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(grid->item(0, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_FALSE(grid->item(1, 1)->flags() & Qt::ItemIsEditable);
    // Rows go back unchanged, the one without "=" too.
    EXPECT_EQ(view.GridRows().Lines(), (std::vector<std::string>{"Path=/pics/", "no separator", "Port=9000"}));
}

TEST_F(MainView, FirstStartWithoutConfigShowsTheDefaults)
{
    App();
    ScratchDir dir;
    TMainView view(dir.Str());
    ASSERT_NE(view.Control(), nullptr);
    QTableWidget* grid = view.ValueListEditor1;
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(Text(grid->item(0, 0)->text()), "Path");
    EXPECT_EQ(Text(grid->item(0, 1)->text()), dir.Str() + "/files/");
    EXPECT_EQ(Text(grid->item(1, 0)->text()), "Port");
    EXPECT_EQ(Text(grid->item(1, 1)->text()), "9000");
    EXPECT_EQ(ReadBytes(dir.Path() / "config.ini"), "Path=" + dir.Str() + "/files/\r\nPort=9000\r\n");
}

TEST_F(MainView, SaveConfigWritesTheGridKeepingTheBom)
{
    App();
    ScratchDir dir;
    CapturedErrors errors;
    WriteBytes(dir.Path() / "config.ini", "\xEF\xBB\xBFPath=/a/\r\nPort=9000\r\nExtra=1\r\n");
    TMainView view(dir.Str());
    view.ValueListEditor1->item(1, 1)->setText("9100");
    view.btnSaveConfig->click();
    EXPECT_TRUE(errors.Messages().empty());
    EXPECT_EQ(ReadBytes(dir.Path() / "config.ini"), "\xEF\xBB\xBFPath=/a/\r\nPort=9100\r\nExtra=1\r\n");
    EXPECT_EQ(view.Control()->Config().Values("Port"), "9100");
}

TEST_F(MainView, FailingFormCreateLeavesHarmlessButtons)
{
    App();
    ScratchDir dir;
    CapturedErrors errors;
    std::filesystem::create_directory(dir.Path() / "config.ini"); // cannot be created
    TMainView view(dir.Str());
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find("Cannot create file"), std::string::npos);
    EXPECT_EQ(view.Control(), nullptr);
    EXPECT_EQ(view.ValueListEditor1->rowCount(), 0);
    view.btnPower->click();
    view.btnSaveConfig->click();
    EXPECT_EQ(errors.Messages().size(), 3u);
    EXPECT_EQ(Text(view.btnPower->text()), "Start");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "config.ini"));
}

TEST_F(MainView, TypingInTheHistoryRefreshesTheCounters)
{
    App();
    ScratchDir dir;
    TMainView view(dir.Str());
    view.show();
    view.MemoHistorico->setFocus();
    view.MemoHistorico->moveCursor(QTextCursor::End);
    TypeKey(view.MemoHistorico, Qt::Key_X, "x");
    EXPECT_EQ(Text(view.Edit1->text()), "0");
    EXPECT_EQ(Text(view.Edit2->text()), "0");
    EXPECT_EQ(Text(view.MemoHistorico->toPlainText()), "MemoOKx");
    // Lines typed by the operator count for the trim.
    TypeKey(view.MemoHistorico, Qt::Key_Return, "\r");
    TypeKey(view.MemoHistorico, Qt::Key_Y, "y");
    EXPECT_EQ(THistory::Count(), 2);
}

TEST_F(MainView, HistoryFromOtherThreadsArrivesInBatchesAndTrims)
{
    App();
    ScratchDir dir;
    TMainView view(dir.Str());
    EXPECT_EQ(THistory::Count(), 1); // "MemoOK"
    std::thread writer([] {
        for (int i = 2; i <= 10001; ++i) {
            THistory::Trim();
            THistory::Add("line " + std::to_string(i));
        }
    });
    writer.join();
    EXPECT_EQ(THistory::Count(), 10001);
    TotalResolvidos = 7;
    Total404 = 3;
    ASSERT_TRUE(ProcessEventsUntil([&] { return view.HistoryLineCount() == 10001; }));
    EXPECT_EQ(Text(view.MemoHistorico->document()->firstBlock().text()), "MemoOK");
    EXPECT_EQ(Text(view.MemoHistorico->document()->lastBlock().text()), "line 10001");
    EXPECT_EQ(Text(view.Edit1->text()), "7");
    EXPECT_EQ(Text(view.Edit2->text()), "3");

    // 10001 lines: the next trimming request empties it, "MemoOK" included, before its own line.
    TotalResolvidos = 8;
    std::thread next([] {
        EXPECT_TRUE(THistory::Trim());
        THistory::Add("own");
    });
    next.join();
    ASSERT_TRUE(ProcessEventsUntil([&] { return view.HistoryLineCount() == 1; }));
    EXPECT_EQ(Text(view.MemoHistorico->toPlainText()), "own");
    EXPECT_EQ(Text(view.Edit1->text()), "8");
    EXPECT_EQ(THistory::Count(), 1);
}

TEST_F(MainView, ExactlyTenThousandLinesAreKept)
{
    App();
    ScratchDir dir;
    TMainView view(dir.Str());
    for (int i = 2; i <= 10000; ++i)
        THistory::Add("l");
    EXPECT_FALSE(THistory::Trim());
    THistory::Add("10001st");
    ASSERT_TRUE(ProcessEventsUntil([&] { return view.HistoryLineCount() == 10001; }));
    EXPECT_EQ(Text(view.MemoHistorico->document()->firstBlock().text()), "MemoOK");
}
