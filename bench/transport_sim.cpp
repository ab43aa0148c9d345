// The platform's HTTP server alone: the web request handler's module pool and one default
// action answering "Sim", no router. Sits between the bare Beast server and the product
// program, so a gap between those two can be split into transport and framework.
// Usage: bench_transport_sim PORT [SECONDS]   (exits by itself after SECONDS, default 600)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/base/gcc_restrict.hpp"
#include "platform/base/process_tuning.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_module.hpp"
#include "platform/web/web_request_handler.hpp"

namespace {

std::unique_ptr<platform::TWebModule> MakeModule()
{
    auto module = std::make_unique<platform::TWebModule>();
    platform::TWebActionItem& action = module->AddAction();
    action.Default = true;
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    action.PathInfo = "/";
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    action.OnAction = [](platform::TObject*, platform::TWebRequest&, platform::TWebResponse& AResponse,
                         bool& AHandled) {
        AResponse.SetContent("Sim");
        AHandled = true;
    };
    return module;
}

} // namespace

int main(int argc, char** argv)
{
    platform::TuneProcess(); // as the program does at start-up
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
    platform::WebRequestHandler().SetWebModuleClass(&MakeModule);
    platform::THTTPWebBrokerBridge server;
    server.SetKeepAlive(true);
    platform::TSocketHandle& binding = server.Bindings().Add();
    binding.IP = "127.0.0.1";
    binding.Port = port;
    server.SetActive(true);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    server.SetActive(false);
    return 0;
}
