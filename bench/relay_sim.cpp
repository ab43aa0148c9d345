// The framework over the platform's server, without the product service: the service's
// root middleware (JsonBody) and a GET "/api/fotoexiste/:id" route answering "Sim".
// Between bench_transport_sim and the product program: the gap to the first is the router,
// the gap to the second is the product route (file test, counters, history).
// Usage: bench_relay_sim PORT [SECONDS]   (exits by itself after SECONDS, default 600)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/base/process_tuning.hpp"
#include "framework/relay/json_body.hpp"
#include "framework/relay/relay.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"

int main(int argc, char** argv)
{
    platform::TuneProcess(); // as the program does at start-up
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
    relay::TRelay::Create();
    relay::TRelay::Use({relay::JsonBody("UTF-8")});
    relay::TRelay::Get("/api/fotoexiste/:id", [](relay::TRelayRequest& AReq, relay::TRelayResponse& ARes, auto&&) {
        ARes.Send(AReq.Params()["id"].empty() ? "Nao" : "Sim").Status(200);
    });
    relay::TRelay::SetPort(port);
    relay::TRelay::SetHost("127.0.0.1");
    relay::TRelay::Listen();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    relay::TRelay::StopListen();
    return 0;
}
