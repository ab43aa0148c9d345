#pragma once
// The running program for tests from outside: the main window offscreen, Start clicked, its real
// server on a free loopback port, a picture folder with a small and a big picture. Measures the
// thread and descriptor counts at rest, so a test can check that everything it caused is gone.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <QCoreApplication>
#include <QPushButton>

#include "service/main/view.hpp"
#include "service_support.hpp"
#include "support/http.hpp"
#include "support/process_counts.hpp"

namespace service_test {

using namespace std::chrono_literals;
using namespace testing_support;

// Waits until AValue() has not changed for 300 ms (at most ATimeout); returns it.
template <class F>
inline int Settled(F AValue, std::chrono::milliseconds ATimeout = 5s)
{
    auto until = std::chrono::steady_clock::now() + ATimeout;
    int last = AValue();
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(20ms);
        int now = AValue();
        if (now != last) {
            last = now;
            since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since >= 300ms) {
            break;
        }
    }
    return last;
}

inline const std::string KPicture = "789789789789";
inline const std::string KBigPicture = "7777";
inline constexpr size_t KBigPictureSize = 16u << 20;

// One client of a test's crowd: a keep-alive connection, made again when the server closes it.
class TKeepAliveClient {
public:
    explicit TKeepAliveClient(int APort) : FPort(APort) {}

    // The reply to ARequest, or nullopt when none came within ATimeout.
    std::optional<THttpReply> Ask(const std::string& ARequest, std::chrono::milliseconds ATimeout = 30s)
    {
        auto until = std::chrono::steady_clock::now() + ATimeout;
        for (int connection = 0; connection < 5 && std::chrono::steady_clock::now() < until; ++connection) {
            if (!FClient) {
                try {
                    FClient = std::make_unique<TRawClient>("127.0.0.1", FPort);
                } catch (const std::exception&) {
                    continue; // not taken within 5 s (a flood of new connections): once more
                }
            }
            if (FClient->Send(ARequest)) {
                auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
                auto reply = FClient->ReadReply(std::max(left, std::chrono::milliseconds(1)));
                if (reply) {
                    if (AsciiLowerCopy(reply->HeaderOr("Connection")) == "close")
                        FClient.reset();
                    return reply;
                }
            }
            FClient.reset(); // closed by the server between two requests: on a new connection
        }
        return std::nullopt;
    }

private:
    int FPort;
    std::unique_ptr<TRawClient> FClient;
};

class RunningProgram : public TRestoresService {
protected:
    void SetUp() override
    {
        App();
        BeforeStart();
        if (IsSkipped() || HasFatalFailure())
            return;
        FPort = FreePort();
        const std::string files = Files();
        std::filesystem::create_directories(files);
        WriteBytes(files + KPicture + ".png", "\x89PNG\r\n\x1a\nsmall picture");
        WriteBytes(files + KBigPicture + ".png", std::string(KBigPictureSize, 'p'));
        WriteBytes(FDir.Path() / "config.ini", "Path=" + files + "\r\nPort=" + std::to_string(FPort) + "\r\n");
        FErrors = std::make_unique<CapturedErrors>();
        FView = std::make_unique<service::TMainView>(FDir.Str());
        FView->btnPower->click();
        ASSERT_EQ(FView->btnPower->text().toStdString(), "Stop")
            << (FErrors->Messages().empty() ? "" : FErrors->Messages()[0]);
        ASSERT_TRUE(Answers());
        Drain();
        FIdleThreads = (IdleThreadCount(), Settled(ThreadCount));
        FIdleFds = Settled(FdCount);
    }

    void TearDown() override
    {
        if (FView && FView->btnPower->text().toStdString() == "Stop")
            FView->btnPower->click();
        FView.reset();
        FErrors.reset();
    }

    // A normal client: one request on a new connection, answered as it should be.
    bool Answers()
    {
        auto reply = RawExchange(FPort, "GET /api/fotoexiste/" + KPicture +
                                            " HTTP/1.1\r\nHost: shop\r\n"
                                            "Connection: close\r\n\r\n");
        return reply && reply->Status == 200 && reply->Body == "Sim";
    }

    // Lets the window take the history lines queued so far.
    void Drain() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

    // AWait: how long the server may take; past its idle timeout (30 s) for connections that
    // a client left open without a word.
    void ExpectBackToIdle(std::chrono::milliseconds AWait = 15s)
    {
        EXPECT_TRUE(Answers());
        Drain();
        EXPECT_TRUE(WaitFor([&] { return ThreadCount() == FIdleThreads; }, AWait))
            << ThreadCount() << " threads, idle " << FIdleThreads;
        if (ThreadCount() != FIdleThreads && std::getenv("MIROVANDEL_GDB_ON_IDLE")) {
            std::string command = "gdb -p " + std::to_string(::getpid()) + " -batch -ex 'thread apply all bt 15' >&2";
            [[maybe_unused]] int rc = std::system(command.c_str());
        }
        // Database links the form keeps open for the next requests are not left over.
        EXPECT_TRUE(WaitFor([&] { return FdCount() == FIdleFds + KeptLinks(); }, AWait))
            << FdCount() << " descriptors, idle " << FIdleFds << " and " << KeptLinks() << " database links";
        EXPECT_TRUE(FErrors->Messages().empty());
    }

    // Descriptors of database links kept open on purpose.
    virtual int KeptLinks() { return 0; }
    // Runs before the window opens (set up a database, change the configuration...).
    virtual void BeforeStart() {}
    std::string Files() const { return FDir.Str() + "/files/"; }

    ScratchDir FDir;
    int FPort = 0;
    std::unique_ptr<CapturedErrors> FErrors;
    std::unique_ptr<service::TMainView> FView;
    int FIdleThreads = 0;
    int FIdleFds = 0;
};

} // namespace service_test
