#pragma once
// Helpers of the service tests: a scratch directory, the Qt application, captured error messages,
// the process-wide state that each test puts back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>

#include "framework/relay/relay.hpp"
#include "service/history.hpp"
#include "service/main/basedados.hpp"
#include "service/main/view.hpp"
#include "support/process_state.hpp"

namespace service_test {

inline std::string ReadBytes(const std::filesystem::path& AName)
{
    std::ifstream in(AName, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& AName, const std::string& ABytes)
{
    std::ofstream out(AName, std::ios::binary | std::ios::trunc);
    out << ABytes;
}

// A fresh directory per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FPath = std::filesystem::temp_directory_path() /
                ("mirovandel-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(FPath);
        std::filesystem::create_directories(FPath);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(FPath, ec);
    }
    const std::filesystem::path& Path() const { return FPath; }
    std::string Str() const { return FPath.string(); }

private:
    std::filesystem::path FPath;
};

// The one QApplication of the test process.
inline QApplication& App()
{
    static int argc = 1;
    static char name[] = "service_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Error messages the window would have shown, in order.
class CapturedErrors {
public:
    CapturedErrors()
    {
        service::SetErrorDisplay([this](QWidget*, const std::string& AMessage) { FMessages.push_back(AMessage); });
    }
    ~CapturedErrors() { service::SetErrorDisplay(nullptr); }
    const std::vector<std::string>& Messages() const { return FMessages; }
    void Clear() { FMessages.clear(); }

private:
    std::vector<std::string> FMessages;
};

// Runs the event loop until ACondition holds or ATimeout passes; returns ACondition().
inline bool ProcessEventsUntil(const std::function<bool()>& ACondition,
                               std::chrono::milliseconds ATimeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (!ACondition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Restores what the product keeps for the whole process: the server stopped, both counters, the
// history (emptied, no window attached), the data form, the configuration folder setting; and
// with them the platform layer's state. The service object and the framework core stay, made
// once per process as the program makes them.
class TServiceState {
public:
    TServiceState()
        : FTotalResolvidos(service::TotalResolvidos.load()), FTotal404(service::Total404.load()),
          FBaseDados(service::BaseDados)
    {
    }
    TServiceState(const TServiceState&) = delete;
    TServiceState& operator=(const TServiceState&) = delete;
    ~TServiceState()
    {
        if (relay::TRelay::IsRunning())
            relay::TRelay::StopListen();
        service::TotalResolvidos = FTotalResolvidos;
        service::Total404 = FTotal404;
        service::THistory::Reset();
        service::BaseDados = FBaseDados;
    }

private:
    testing_support::TPlatformState FPlatform;
    testing_support::TSavedEnv FConfigDir{"MIROVANDEL_CONFIG_DIR"};
    int32_t FTotalResolvidos;
    int32_t FTotal404;
    service::TBaseDados* FBaseDados;
};

// Fixture of tests that change the product's process-wide state.
class TRestoresService : public ::testing::Test {
private:
    TServiceState FSaved;
};

} // namespace service_test
