// The window driving the real server: Start/Stop, port edits, Save Config, stop under load,
// closing while requests run.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/base/gcc_restrict.hpp"
#include "running_window.hpp"
#include "service/main/control.hpp"

using namespace service;
using namespace service_test;
using namespace std::chrono_literals;

namespace {

// Holds a listening IPv4 socket on all addresses.
class PortBlocker {
public:
    explicit PortBlocker(int APort)
    {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(static_cast<uint16_t>(APort));
        FBound = ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(FFd, 4) == 0;
    }
    ~PortBlocker() { ::close(FFd); }
    bool Bound() const { return FBound; }

private:
    int FFd = -1;
    bool FBound = false;
};

bool Answers(int APort)
{
    auto r = testing_support::Curl({testing_support::LoopbackUrl(APort, "/api/fotoexiste/1")}, true, 5);
    return r.ExitCode == 0 && r.Reply.Status == 200;
}

// Clients hammering the picture route until told to stop; counts answered requests.
class PictureClients {
public:
    PictureClients(int APort, int ACount)
    {
        for (int i = 0; i < ACount; ++i)
            FThreads.emplace_back([this, APort, i] {
                const std::string request = "GET /api/gtin/" + std::to_string(i % 2 ? 1 : 2) +
                                            " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
                const auto deadline = std::chrono::steady_clock::now() + 60s;
                while (!FStop && std::chrono::steady_clock::now() < deadline) {
                    try {
                        if (testing_support::RawExchange(APort, request, 5s))
                            ++FAnswered;
                    } catch (...) {
                        std::this_thread::sleep_for(1ms); // refused while stopped
                    }
                }
            });
    }
    ~PictureClients() { Join(); }
    void Join()
    {
        FStop = true;
        for (auto& t : FThreads)
            if (t.joinable())
                t.join();
    }
    int Answered() const { return FAnswered; }

private:
    std::atomic<bool> FStop{false};
    std::atomic<int> FAnswered{0};
    std::vector<std::thread> FThreads;
};

} // namespace

TEST_F(RunningWindow, EditedPortAppliesAtStartWithoutSaving)
{
    const std::string before = ReadBytes(FDir.Path() / "config.ini");
    const int other = testing_support::FreePort();
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    SetGridValue("Port", " " + std::to_string(other)); // a leading blank is allowed
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    ClickPower("Stop");
    EXPECT_TRUE(Answers(other));
    EXPECT_FALSE(Answers(FPort));
    EXPECT_EQ(ReadBytes(FDir.Path() / "config.ini"), before);
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    EXPECT_EQ(FView->Control()->Config().Values("Port"), " " + std::to_string(other));
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
}

TEST_F(RunningWindow, InvalidPortShowsTheMessageAndKeepsStart)
{
    CapturedErrors errors;
    const char* bad[] = {"80 80", "", "9000 ", "port"};
    for (const char* value : bad) {
        SCOPED_TRACE(value);
        errors.Clear();
        SetGridValue("Port", value);
        ClickPower("Start");
        ASSERT_EQ(errors.Messages().size(), 1u);
        EXPECT_EQ(errors.Messages()[0], std::string("'") + value + "' is not a valid integer value for Integer type");
        EXPECT_FALSE(FView->Control()->Active());
    }
    errors.Clear();
    SetGridValue("Port", std::to_string(FPort));
    ClickPower("Stop");
    EXPECT_TRUE(errors.Messages().empty());
    EXPECT_TRUE(Answers(FPort));
}

TEST_F(RunningWindow, SaveConfigWhileRunningKeepsTheServerAsItIs)
{
    CapturedErrors errors;
    ClickPower("Stop");
    const int other = testing_support::FreePort();
    SetGridValue("Port", std::to_string(other));
    FView->btnSaveConfig->click();
    EXPECT_TRUE(errors.Messages().empty());
    EXPECT_EQ(ReadBytes(FDir.Path() / "config.ini"), "Path=" + FFiles + "\r\nPort=" + std::to_string(other) + "\r\n");
    EXPECT_EQ(FView->btnPower->text().toStdString(), "Stop");
    EXPECT_TRUE(Answers(FPort));
    EXPECT_FALSE(Answers(other));
    ClickPower("Start");
    ClickPower("Stop");
    EXPECT_TRUE(Answers(other));
}

TEST_F(RunningWindow, PortInUseShowsTheErrorAndKeepsStart)
{
    CapturedErrors errors;
    PortBlocker blocker(FPort);
    ASSERT_TRUE(blocker.Bound());
    ClickPower("Start");
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_FALSE(errors.Messages()[0].empty());
    EXPECT_FALSE(FView->Control()->Active());

    errors.Clear();
    const int other = testing_support::FreePort();
    SetGridValue("Port", std::to_string(other));
    ClickPower("Stop");
    EXPECT_TRUE(errors.Messages().empty());
    EXPECT_TRUE(Answers(other));
}

TEST_F(RunningWindow, StopAndStartKeepRoutesAndCounters)
{
    ClickPower("Stop");
    EXPECT_EQ(Get("/api/fotoexiste/1").Reply.Body, "Nao");
    EXPECT_EQ(Get("/api/gtin/1").Reply.Status, 404);
    ClickPower("Start");
    EXPECT_FALSE(Answers(FPort));
    ClickPower("Stop");
    EXPECT_EQ(Get("/api/fotoexiste/1").Reply.Body, "Nao");
    ExpectLine(4, 2, "| Consulta Arquivo : " + FFiles + "1.png Nao");
    EXPECT_EQ(Edit1(), "2");
    EXPECT_EQ(Edit2(), "1");
    // Framework replies for what the table does not hold.
    EXPECT_EQ(Get("/api/grava").Reply.Status, 405);
    EXPECT_EQ(Get("/api/nothing").Reply.Status, 404);
}

TEST_F(RunningWindow, FullHistoryIsEmptiedBeforeTheRequestsOwnLine)
{
    ClickPower("Stop");
    for (int i = 0; i < 10000; ++i)
        THistory::Add("filler");
    ASSERT_EQ(LastLineOnceThereAre(10001), "filler");
    auto r = Get("/api/fotoexiste/77");
    EXPECT_EQ(r.Reply.Body, "Nao");
    ExpectLine(1, 1, "| Consulta Arquivo : " + FFiles + "77.png Nao");
    EXPECT_EQ(FView->MemoHistorico->toPlainText().toStdString().find("MemoOK"), std::string::npos);
    EXPECT_EQ(Edit1(), "1");
}

TEST_F(RunningWindow, StopWhileThirtyTwoClientThreadsFetchPictures)
{
    WriteBytes(FFiles + "1.png", std::string(256 * 1024, 'p'));
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        ClickPower("Stop");
        {
            PictureClients clients(FPort, 32);
            // Let requests pile up without the window draining their lines: this thread only
            // sleeps until some have been answered.
            const auto until = std::chrono::steady_clock::now() + 10s;
            while (clients.Answered() < 32 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(5ms);
            EXPECT_GT(clients.Answered(), 0);
            ClickPower("Start"); // returns: no request waits for this thread
            EXPECT_FALSE(FView->Control()->Active());
            clients.Join();
        }
        // Every handled request left exactly one line, all of them shown once drained.
        EXPECT_TRUE(ProcessEventsUntil([&] { return THistory::Count() == FView->HistoryLineCount(); }))
            << THistory::Count() << " counted, " << FView->HistoryLineCount() << " shown";
    }
}

TEST_F(RunningWindow, ClosingTheWindowWhileRequestThreadsRun)
{
    WriteBytes(FFiles + "2.png", std::string(64 * 1024, 'q'));
    ClickPower("Stop");
    PictureClients clients(FPort, 32);
    // Closed while the clients keep asking.
    ASSERT_TRUE(testing_support::WaitFor([&] { return clients.Answered() >= 32; }));
    FView->close();
    FView.reset(); // stops the server and detaches the history first
    EXPECT_FALSE(Answers(FPort));
    clients.Join();
    // Requests that still finish only reach the queue, never the freed window.
    THistory::Add("after close");
    const std::vector<THistoryOp> queued = THistory::TakePending();
    ASSERT_FALSE(queued.empty());
    EXPECT_EQ(queued.back().Line, "after close");
}
