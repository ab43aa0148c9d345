#pragma once
// The framework's process-wide state, put back when a test ends (see process_state.hpp).
#include <gtest/gtest.h>

#include <string>

#include "framework/relay/core.hpp"
#include "framework/relay/core/param/config.hpp"
#include "framework/relay/json_body.hpp"
#include "framework/relay/relay.hpp"
#include "support/process_state.hpp"

namespace testing_support {

// Restores what the framework keeps for the whole process: the server stopped and its listen
// callbacks cleared, the core with its router tree and pending callbacks released (a process
// starts without one), the provider's port, host and keep-alive, the JSON charset, the typed
// fields' settings; and with them the platform layer's state.
class TFrameworkState {
public:
    TFrameworkState()
        : FPort(relay::TRelay::Port()), FHost(relay::TRelay::Host()), FKeepAlive(relay::TRelay::KeepAlive()),
          FJsonCharset(relay::JsonCharset()), FConfig(relay::TRelayCoreParamConfig::GetInstance().Settings()),
          FCheckLhsBrackets(relay::TRelayCoreParamConfig::GetInstance().CheckLhsBrackets())
    {
    }
    TFrameworkState(const TFrameworkState&) = delete;
    TFrameworkState& operator=(const TFrameworkState&) = delete;
    ~TFrameworkState()
    {
        // Callbacks first: the test's own may refer to what it has already freed.
        relay::TRelay::SetOnListen(nullptr);
        relay::TRelay::SetOnStopListen(nullptr);
        if (relay::TRelay::IsRunning())
            relay::TRelay::StopListen();
        relay::TRelayCore::ReleaseAll();
        relay::TRelay::SetPort(FPort);
        relay::TRelay::SetHost(FHost);
        relay::TRelay::SetKeepAlive(FKeepAlive);
        (void)relay::JsonBody(FJsonCharset);
        relay::TRelayCoreParamConfig::GetInstance().Settings(FConfig).CheckLhsBrackets(FCheckLhsBrackets);
    }

private:
    TPlatformState FPlatform; // restored after the framework, which stops its server first
    int FPort;
    std::string FHost;
    bool FKeepAlive;
    std::string FJsonCharset;
    relay::TRelayCoreParamSettings FConfig;
    bool FCheckLhsBrackets;
};

// Fixture of tests that change the framework's process-wide state.
class TRestoresFramework : public ::testing::Test {
private:
    TFrameworkState FSaved;
};

} // namespace testing_support
