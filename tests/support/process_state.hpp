#pragma once
// Every test program passes both ways: one test per process (ctest) and all of its tests in one
// process (the program run whole). So a test that changes what the whole process shares puts it
// back: its fixture holds one of the guards below, which notes the state when the test starts
// and restores it when the test ends, pass or fail.
//
// A test about what a process has only at its start (no server object made yet, the client
// library not loaded yet) begins with MIROVANDEL_IN_FRESH_PROCESS().
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/data/fd_connection.hpp"
#include "platform/text/convert.hpp"
#include "platform/web/web_request_handler.hpp"

namespace testing_support {

// An environment variable, set again to its value (or removed) when the guard goes.
class TSavedEnv {
public:
    explicit TSavedEnv(const char* AName) : FName(AName)
    {
        if (const char* value = std::getenv(AName))
            FValue = value;
    }
    TSavedEnv(const TSavedEnv&) = delete;
    TSavedEnv& operator=(const TSavedEnv&) = delete;
    ~TSavedEnv()
    {
        if (FValue)
            ::setenv(FName, FValue->c_str(), 1);
        else
            ::unsetenv(FName);
        ::tzset(); // the time functions read TZ once per change
    }

private:
    const char* FName;
    std::optional<std::string> FValue;
};

// What the platform layer keeps for the whole process: the C locale and the format settings
// read from it, the time zone and where locales are looked up, the web request handler's module
// class and its bound, the name of the MySQL client library.
class TPlatformState {
public:
    TPlatformState()
        : FLocale(std::setlocale(LC_ALL, nullptr)), FFormatSettings(platform::FormatSettings()),
          FWebModuleClass(platform::WebRequestHandler().WebModuleClass()),
          FMaxConnections(platform::WebRequestHandler().MaxConnections()),
          FClientLibrary(platform::TFDConnection::ClientLibrary())
    {
    }
    TPlatformState(const TPlatformState&) = delete;
    TPlatformState& operator=(const TPlatformState&) = delete;
    ~TPlatformState()
    {
        std::setlocale(LC_ALL, FLocale.c_str());
        platform::FormatSettings() = FFormatSettings;
        // Another module class also frees the modules the pool kept for the test.
        platform::WebRequestHandler().SetWebModuleClass(FWebModuleClass);
        platform::WebRequestHandler().SetMaxConnections(FMaxConnections);
        platform::TFDConnection::SetClientLibrary(FClientLibrary);
    }

private:
    TSavedEnv FTimeZone{"TZ"};
    TSavedEnv FLocalePath{"LOCPATH"};
    std::string FLocale;
    platform::TFormatSettings FFormatSettings;
    platform::TWebModuleClass FWebModuleClass;
    int FMaxConnections;
    std::string FClientLibrary;
};

// Fixture of tests that change the platform layer's process-wide state.
class TRestoresPlatform : public ::testing::Test {
private:
    TPlatformState FSaved;
};

// Where the current test goes on (see MIROVANDEL_IN_FRESH_PROCESS).
enum class TFreshProcess {
    Here,    // this process runs the current test only: go on
    Ran,     // it has run in a new process, and failed here if it failed there
    Skipped, // it has run in a new process and was skipped there
};

// When other tests run in this process too, runs the current test again in a new run of this
// program limited to it, whose output then stands in AOutput.
inline TFreshProcess RunInFreshProcess(std::string& AOutput)
{
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    if (unit.test_to_run_count() == 1)
        return TFreshProcess::Here;
    const ::testing::TestInfo& info = *unit.current_test_info();
    const std::string name = std::string(info.test_suite_name()) + "." + info.name();
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        ADD_FAILURE() << "cannot find this test program to run " << name << " alone";
        return TFreshProcess::Ran;
    }
    std::string command = "'";
    command.append(self, static_cast<size_t>(length)).append("' --gtest_filter='").append(name).append("' 2>&1");
    int status = -1;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            AOutput.append(buffer, n);
        status = ::pclose(pipe);
    }
    EXPECT_EQ(status, 0) << name << " in a process of its own:\n" << AOutput;
    if (status == 0 && AOutput.find("[  SKIPPED ] 1 test") != std::string::npos)
        return TFreshProcess::Skipped;
    return TFreshProcess::Ran;
}

} // namespace testing_support

// The rest of the test runs in a process that has run nothing else before it: this one when
// ctest runs the test alone, else a new run of this program limited to the test, whose result
// becomes this test's result.
#define MIROVANDEL_IN_FRESH_PROCESS()                                             \
    do {                                                                          \
        std::string fresh_output;                                                 \
        switch (::testing_support::RunInFreshProcess(fresh_output)) {             \
        case ::testing_support::TFreshProcess::Here: break;                       \
        case ::testing_support::TFreshProcess::Skipped:                           \
            GTEST_SKIP() << "skipped in a process of its own:\n" << fresh_output; \
        case ::testing_support::TFreshProcess::Ran: return;                       \
        }                                                                         \
    } while (0)
